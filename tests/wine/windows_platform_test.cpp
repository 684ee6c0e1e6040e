// The Win32 platform layer against the real thing: the registry under a
// scratch key of HKEY_CURRENT_USER, files in a scratch folder, child processes
// and message boxes answered from a second thread. Runs on Windows or wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/error.h"
#include "platform/platform.h"
#include "tests/support/test_util.h"

// windows.h comes after the seam and its DeleteFile macro goes: it maps
// DeleteFile to DeleteFileA, and the tests call the seam's DeleteFile.
#include "message_box_probe.h"
#undef DeleteFile

namespace quillane::platform {
namespace {

namespace fs = std::filesystem;

std::string TestName() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  return name;
}

std::string Bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> FolderListing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The folder of the running test executable, where the helper programs are built.
std::string HelperPath(const std::string& program) {
  const Text self = ExecutablePath();
  return self.substr(0, self.find_last_of('\\') + 1) + program;
}

// A handle that holds a file open without sharing, as another program would.
class ExclusiveHandle {
 public:
  explicit ExclusiveHandle(const fs::path& path)
      : handle_(CreateFileA(path.string().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~ExclusiveHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  ExclusiveHandle(const ExclusiveHandle&) = delete;
  ExclusiveHandle& operator=(const ExclusiveHandle&) = delete;
  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

// ---------------------------------------------------------------------------
// Registry

// Each test gets HKCU\Software\Quillane Tests\<test name>, removed afterwards.
class WindowsRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch_ = "Software\\Quillane Tests\\" + TestName();
    RegDeleteTreeA(HKEY_CURRENT_USER, scratch_.c_str());
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, scratch_.c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key_, nullptr));
  }
  void TearDown() override {
    RegCloseKey(key_);
    RegDeleteTreeA(HKEY_CURRENT_USER, scratch_.c_str());
    // Fails while a test running beside this one still has its key there.
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Quillane Tests");
  }

  // Stores raw data, as another program could have left them.
  void SetRaw(const std::string& name, DWORD type, const std::string& data) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key_, name.c_str(), 0, type,
                                            reinterpret_cast<const BYTE*>(data.data()),
                                            static_cast<DWORD>(data.size())));
  }
  static std::string Dword(DWORD value) {
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
  }
  bool KeyExists(const std::string& path) {
    HKEY probe = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &probe) != ERROR_SUCCESS) {
      return false;
    }
    RegCloseKey(probe);
    return true;
  }

  std::string scratch_;
  HKEY key_ = nullptr;
};

TEST_F(WindowsRegistryTest, ReadStringTakesTextTypesAsStoredUpToTheFirstNul) {
  const struct {
    const char* name;
    DWORD type;
    std::string data;
    std::string expected;
  } kCases[] = {
      {"plain", REG_SZ, std::string("C:\\reader.exe \"%1\"\0", 19), "C:\\reader.exe \"%1\""},
      {"cut", REG_SZ, std::string("ab\0cd\0", 6), "ab"},
      {"unterminated", REG_SZ, "abc", "abc"},
      {"expand", REG_EXPAND_SZ, std::string("%SystemRoot%\\r.exe\0", 19), "%SystemRoot%\\r.exe"},
      {"empty binary", REG_BINARY, "", ""},
      {"", REG_SZ, std::string("default\0", 8), "default"},
  };
  for (const auto& c : kCases) SetRaw(c.name, c.type, c.data);
  const auto registry = RegistryKey::OpenReadOnly(RegistryRoot::kCurrentUser, scratch_);
  ASSERT_NE(registry, nullptr);
  for (const auto& c : kCases) EXPECT_EQ(c.expected, registry->ReadString(c.name)) << c.name;
  EXPECT_EQ("", registry->ReadString("absent"));
}

TEST_F(WindowsRegistryTest, ReadStringRefusesOtherTypes) {
  SetRaw("number", REG_DWORD, Dword(1));
  SetRaw("", REG_BINARY, "xy");
  const auto key = RegistryKey::Open(RegistryRoot::kCurrentUser, scratch_);
  ASSERT_NE(key, nullptr);
  const RegistryKey& registry = *key;
  EXPECT_THROW_MSG(registry.ReadString("number"), Error, "Invalid data type for 'number'");
  EXPECT_THROW_MSG(registry.ReadString(""), Error, "Invalid data type for ''");
}

TEST_F(WindowsRegistryTest, ReadBoolTakesFourByteDwordsOnly) {
  SetRaw("zero", REG_DWORD, Dword(0));
  SetRaw("one", REG_DWORD, Dword(1));
  SetRaw("high", REG_DWORD, Dword(0x100));
  SetRaw("qword", REG_QWORD, std::string(8, '\1'));
  SetRaw("text", REG_SZ, std::string("1\0", 2));
  SetRaw("binary", REG_BINARY, Dword(1));
  const auto key = RegistryKey::Open(RegistryRoot::kCurrentUser, scratch_);
  ASSERT_NE(key, nullptr);
  const RegistryKey& registry = *key;
  EXPECT_FALSE(registry.ReadBool("zero"));
  EXPECT_TRUE(registry.ReadBool("one"));
  EXPECT_TRUE(registry.ReadBool("high"));
  EXPECT_THROW_MSG(registry.ReadBool("qword"), Error, "Failed to get data for 'qword'");
  EXPECT_THROW_MSG(registry.ReadBool("text"), Error, "Invalid data type for 'text'");
  EXPECT_THROW_MSG(registry.ReadBool("binary"), Error, "Invalid data type for 'binary'");
  EXPECT_THROW_MSG(registry.ReadBool("absent"), Error, "Failed to get data for 'absent'");
}

TEST_F(WindowsRegistryTest, ValueExistsForAnyTypeAndNoData) {
  SetRaw("number", REG_DWORD, Dword(7));
  SetRaw("nothing", REG_NONE, "");
  const auto key = RegistryKey::OpenReadOnly(RegistryRoot::kCurrentUser, scratch_);
  ASSERT_NE(key, nullptr);
  const RegistryKey& registry = *key;
  EXPECT_TRUE(registry.ValueExists("number"));
  EXPECT_TRUE(registry.ValueExists("nothing"));
  EXPECT_FALSE(registry.ValueExists("absent"));
  EXPECT_FALSE(registry.ValueExists("NUMBER2"));
  EXPECT_TRUE(registry.ValueExists("NUMBER")) << "value names ignore case";
}

TEST_F(WindowsRegistryTest, WriteStringStoresRegSzWithItsTerminator) {
  const std::string command = "\"C:\\Program Files\\Reader\\r.exe\" \"%1\"";
  {
    const auto registry = RegistryKey::Open(RegistryRoot::kCurrentUser, scratch_);
    ASSERT_NE(registry, nullptr);
    registry->WriteString("PdfReadCmd", command);
  }
  DWORD type = 0;
  char data[256];
  DWORD size = sizeof data;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key_, "PdfReadCmd", nullptr, &type,
                                            reinterpret_cast<BYTE*>(data), &size));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ(command + '\0', std::string(data, size));

  const auto readOnly = RegistryKey::OpenReadOnly(RegistryRoot::kCurrentUser, scratch_);
  ASSERT_NE(readOnly, nullptr);
  EXPECT_THROW_MSG(readOnly->WriteString("PdfReadCmd", "other"), Error,
                   "Failed to set data for 'PdfReadCmd'");
}

TEST_F(WindowsRegistryTest, OnlyOpenOrCreateCreatesKeys) {
  EXPECT_EQ(RegistryKey::Open(RegistryRoot::kCurrentUser, scratch_ + "\\missing"), nullptr);
  EXPECT_EQ(RegistryKey::OpenReadOnly(RegistryRoot::kCurrentUser, scratch_ + "\\missing"), nullptr);
  EXPECT_FALSE(KeyExists(scratch_ + "\\missing")) << "opening without create creates nothing";

  ASSERT_NE(RegistryKey::OpenOrCreate(RegistryRoot::kCurrentUser, scratch_ + "\\child\\grandchild"),
            nullptr);
  EXPECT_TRUE(KeyExists(scratch_ + "\\child\\grandchild"));
}

// HKEY_CLASSES_ROOT shows HKLM\Software\Classes merged with the user's
// HKCU\Software\Classes; wine shows only the first, which an ordinary
// Windows user may not write. The class goes wherever it can be seen.
class ScratchClass {
 public:
  explicit ScratchClass(const std::string& name) : name_(name) {
    for (const HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
      HKEY created = nullptr;
      const std::string path = "Software\\Classes\\" + name_ + "\\Shell\\view\\command";
      if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created,
                          nullptr) != ERROR_SUCCESS) {
        continue;
      }
      RegSetValueExA(created, "", 0, REG_SZ, reinterpret_cast<const BYTE*>("viewer \"%1\""), 12);
      RegCloseKey(created);
      root_ = root;
      HKEY probe = nullptr;
      if (RegOpenKeyExA(HKEY_CLASSES_ROOT, name_.c_str(), 0, KEY_READ, &probe) == ERROR_SUCCESS) {
        RegCloseKey(probe);
        return;
      }
      RegDeleteTreeA(root_, ("Software\\Classes\\" + name_).c_str());
      root_ = nullptr;
    }
  }
  ~ScratchClass() {
    if (root_ != nullptr) RegDeleteTreeA(root_, ("Software\\Classes\\" + name_).c_str());
  }
  ScratchClass(const ScratchClass&) = delete;
  ScratchClass& operator=(const ScratchClass&) = delete;
  bool Visible() const { return root_ != nullptr; }
  void SetDefaultVerb(const char* verb) {
    HKEY shell = nullptr;
    RegOpenKeyExA(root_, ("Software\\Classes\\" + name_ + "\\Shell").c_str(), 0, KEY_ALL_ACCESS,
                  &shell);
    RegSetValueExA(shell, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(verb),
                   static_cast<DWORD>(std::strlen(verb) + 1));
    RegCloseKey(shell);
  }

 private:
  std::string name_;
  HKEY root_ = nullptr;
};

TEST_F(WindowsRegistryTest, ClassesRootIsReadThroughItsOwnRoot) {
  const std::string name = "QuillaneTest." + std::to_string(GetCurrentProcessId());
  ScratchClass scratchClass(name);
  ASSERT_TRUE(scratchClass.Visible()) << "no writable classes key shows in HKEY_CLASSES_ROOT";
  scratchClass.SetDefaultVerb("view");

  const auto shell = RegistryKey::OpenReadOnly(RegistryRoot::kClassesRoot, name + "\\Shell");
  ASSERT_NE(shell, nullptr);
  EXPECT_EQ("view", shell->ReadString(""));
  const auto command =
      RegistryKey::OpenReadOnly(RegistryRoot::kClassesRoot, name + "\\Shell\\view\\command");
  ASSERT_NE(command, nullptr);
  EXPECT_EQ("viewer \"%1\"", command->ReadString(""));

  EXPECT_EQ(RegistryKey::OpenReadOnly(RegistryRoot::kCurrentUser, name + "\\Shell"), nullptr)
      << "the current user's root is not the classes root";
}

// ---------------------------------------------------------------------------
// Files

class WindowsFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("quillane-" + TestName());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(folder_);
  }
  std::string PathOf(const std::string& name) const { return (folder_ / name).string(); }

  fs::path folder_;
};

TEST_F(WindowsFilesTest, OpenFailuresNameTheFullPathAndTheSystemReason) {
  const std::string directory = PathOf("dir");
  fs::create_directories(directory);
  WriteBytes(PathOf("held.pdf"), "%PDF-1.4");
  ExclusiveHandle holder(PathOf("held.pdf"));
  ASSERT_TRUE(holder.IsOpen());

  // Forward slashes and ".." are resolved in the message.
  const struct {
    std::string path;
    std::string fullPath;
  } kCases[] = {
      {folder_.string() + "/dir/../missing.pdf", PathOf("missing.pdf")},
      {directory, directory},
      {PathOf("held.pdf"), PathOf("held.pdf")},
  };
  for (const auto& c : kCases) {
    try {
      InputFile file(c.path);
      ADD_FAILURE() << c.path << " opened";
    } catch (const Error& error) {
      const std::string message = error.what();
      const std::string prefix = "Cannot open file \"" + c.fullPath + "\". ";
      EXPECT_EQ(prefix, message.substr(0, prefix.size())) << c.path;
      EXPECT_GT(message.size(), prefix.size()) << "no reason given for " << c.path;
      EXPECT_GT(static_cast<unsigned char>(message.back()), ' ')
          << "line break left in: " << message;
    }
  }
}

TEST_F(WindowsFilesTest, ReadsExactlyOrFailsOnAShortFile) {
  std::string content;
  for (int i = 0; i < 70000; ++i) content += static_cast<char>(i * 7 % 256);
  WriteBytes(PathOf("data.bin"), content);
  WriteBytes(PathOf("empty.bin"), "");

  EXPECT_EQ(content, ReadWholeFile(PathOf("data.bin")));
  EXPECT_EQ("", ReadWholeFile(PathOf("empty.bin")));

  InputFile file(PathOf("data.bin"));
  EXPECT_EQ(70000, file.Size());
  std::string middle(5, '\0');
  file.ReadExactly(65534, middle.data(), 5);
  EXPECT_EQ(content.substr(65534, 5), middle);
  std::string tail(11, '\0');
  EXPECT_THROW_MSG(
      file.ReadExactly(69990, tail.data(), 11), Error,
      "Cannot read file \"" + PathOf("data.bin") + "\". The file ended before its expected size");
}

TEST_F(WindowsFilesTest, OutputReplacesTheTargetOnlyOnCommit) {
  const std::string target = PathOf("report_Vexlo.pdf");
  WriteBytes(target, "old");
  const std::string temporary = "." + std::string("report_Vexlo.pdf") + ".quillane-" +
                                std::to_string(GetCurrentProcessId()) + ".tmp";
  {
    OutputFile output(target);
    output.Write("new ", 4);
    EXPECT_EQ((std::vector<std::string>{temporary, "report_Vexlo.pdf"}), FolderListing(folder_))
        << "the new content is built beside the target";
  }
  EXPECT_EQ("old", Bytes(target)) << "an output without Commit changes nothing";
  EXPECT_EQ(std::vector<std::string>{"report_Vexlo.pdf"}, FolderListing(folder_));

  {
    OutputFile output(target);
    output.Write("new ", 4);
    output.Write("content", 7);
    output.Commit();
  }
  EXPECT_EQ("new content", Bytes(target));
  EXPECT_EQ(std::vector<std::string>{"report_Vexlo.pdf"}, FolderListing(folder_));
}

TEST_F(WindowsFilesTest, ReadsBeyond4GiBAndReopensOnlyTheSameVersion) {
  // 5 GiB whose last bytes are known, marked sparse (wine makes it so anyway).
  const std::string path = PathOf("far.pdf");
  const std::int64_t size = std::int64_t{5} << 30;
  const HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD done = 0;
  DeviceIoControl(handle, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &done, nullptr);
  LARGE_INTEGER at{};
  at.QuadPart = size - 5;
  ASSERT_TRUE(SetFilePointerEx(handle, at, nullptr, FILE_BEGIN) &&
              WriteFile(handle, "tail!", 5, &done, nullptr) && CloseHandle(handle));
  InputFile file(path);
  std::string tail(5, '\0');
  file.ReadExactly(size - 5, tail.data(), 5);
  EXPECT_EQ("tail!", tail);
  // Closed, the file is opened again by the next read, unless it changed.
  file.Close();
  file.ReadExactly(size - 5, tail.data(), 5);
  file.Close();
  std::ofstream(path, std::ios::binary | std::ios::app) << "more";
  EXPECT_THROW_MSG(
      file.ReadExactly(0, tail.data(), 5), Error,
      "Cannot read file \"" + path + "\". The file changed while it was being processed");
}

TEST_F(WindowsFilesTest, OutputFailuresLeaveNoPartialFile) {
  const std::string missingFolder = PathOf("missing") + "\\out.pdf";
  try {
    OutputFile output(missingFolder);
    ADD_FAILURE() << "created in a missing folder";
  } catch (const Error& error) {
    const std::string prefix = "Cannot create file \"" + missingFolder + "\". ";
    EXPECT_EQ(prefix, std::string(error.what()).substr(0, prefix.size()));
  }

  // A target that another program holds open cannot be replaced.
  const std::string target = PathOf("open.pdf");
  WriteBytes(target, "old");
  ExclusiveHandle holder(target);
  ASSERT_TRUE(holder.IsOpen());
  try {
    OutputFile output(target);
    output.Write("new", 3);
    output.Commit();
    ADD_FAILURE() << "replaced a file held open";
  } catch (const Error& error) {
    const std::string prefix = "Cannot write file \"" + target + "\". ";
    EXPECT_EQ(prefix, std::string(error.what()).substr(0, prefix.size()));
  }
  EXPECT_EQ(std::vector<std::string>{"open.pdf"}, FolderListing(folder_));
}

TEST_F(WindowsFilesTest, PathServices) {
  for (const char c : std::string("\\:/")) EXPECT_TRUE(IsPathSeparator(c)) << c;
  for (const char c : std::string("a.\0_ ", 5)) EXPECT_FALSE(IsPathSeparator(c)) << c;

  EXPECT_EQ("C:\\report", ExpandFileName("C:/my.docs/../report"));
  EXPECT_EQ("C:\\my.docs\\report.pdf", ExpandFileName("C:\\my.docs\\.\\report.pdf"));

  WriteBytes(PathOf("file.pdf"), "x");
  EXPECT_TRUE(FileExists(PathOf("file.pdf")));
  EXPECT_FALSE(FileExists(folder_.string())) << "a folder is not a file";
  EXPECT_FALSE(FileExists(PathOf("missing.pdf")));
  DeleteFile(PathOf("file.pdf"));
  EXPECT_FALSE(FileExists(PathOf("file.pdf")));
  DeleteFile(PathOf("file.pdf"));  // a second delete is silently ignored

  const Text temporary = TemporaryDirectory();
  ASSERT_FALSE(temporary.empty());
  EXPECT_EQ('\\', temporary.back());
  EXPECT_TRUE(fs::is_directory(temporary)) << temporary;

  const Text self = ExecutablePath();
  EXPECT_TRUE(FileExists(self)) << self;
  EXPECT_EQ("quillane_windows_tests.exe", LowerCase(self.substr(self.find_last_of('\\') + 1)));
}

// The folder of the "/tempexec" copies is "Quillane" in the user's temporary
// folder (here the test's own, through TMP); something else in its place is
// an error. Creating and cleaning it: tests/wine/end_to_end.sh.
TEST_F(WindowsFilesTest, ViewCopyFolderInTheWayIsAnError) {
  const std::string oldTmp = GetEnvironment("TMP");
  SetEnvironmentVariableA("TMP", (folder_.string() + "\\").c_str());
  EXPECT_EQ(PathOf("Quillane") + "\\", ViewCopyDirectory());
  WriteBytes(PathOf("Quillane"), "in the way");
  try {
    CreateViewCopyDirectory();
    ADD_FAILURE() << "a file taken for the folder";
  } catch (const Error& error) {
    const std::string prefix = "Cannot create folder \"" + PathOf("Quillane") + "\". ";
    EXPECT_EQ(prefix, std::string(error.what()).substr(0, prefix.size()));
  }
  SetEnvironmentVariableA("TMP", oldTmp.empty() ? nullptr : oldTmp.c_str());
}

TEST(WindowsEnvironmentTest, VariablesAndLowerCase) {
  SetEnvironmentVariableA("QUILLANE_TEST_VALUE", "C:\\some where\\log.txt");
  EXPECT_EQ("C:\\some where\\log.txt", GetEnvironment("QUILLANE_TEST_VALUE"));
  SetEnvironmentVariableA("QUILLANE_TEST_VALUE", std::string(600, 'x').c_str());
  EXPECT_EQ(std::string(600, 'x'), GetEnvironment("QUILLANE_TEST_VALUE"))
      << "longer than the first buffer";
  SetEnvironmentVariableA("QUILLANE_TEST_VALUE", nullptr);
  EXPECT_EQ("", GetEnvironment("QUILLANE_TEST_VALUE"));

  EXPECT_EQ(std::string("adobe.exe\0x", 11), LowerCase(std::string("Adobe.EXE\0X", 11)));
  if (GetACP() == 1252) {
    EXPECT_EQ("caf\xE9 \xE0", LowerCase("CAF\xC9 \xC0")) << "letters of the code page";
  }
}

// ---------------------------------------------------------------------------
// Processes and window messages

class WindowsProcessTest : public WindowsFilesTest {};

TEST_F(WindowsProcessTest, StartsTheCommandLineAsGivenAndWaitsForItsEnd) {
  const std::string record = PathOf("record.txt");
  SetEnvironmentVariableA("QUILLANE_READER_RECORD", record.c_str());
  SetEnvironmentVariableA("QUILLANE_READER_DELAY_MS", "700");
  const std::string commandLine =
      "\"" + HelperPath("reader_stand_in.exe") + "\" \"C:\\a folder\\doc.pdf\"  /x %2";
  auto process = Process::Start(commandLine);
  SetEnvironmentVariableA("QUILLANE_READER_RECORD", nullptr);
  SetEnvironmentVariableA("QUILLANE_READER_DELAY_MS", nullptr);
  ASSERT_NE(nullptr, process) << commandLine;

  EXPECT_FALSE(process->WaitForExit(0)) << "still sleeping";
  int polls = 0;
  while (!process->WaitForExit(200)) ASSERT_LT(++polls, 100) << "the child never ended";
  EXPECT_GE(polls, 2) << "the child ended before its delay";
  EXPECT_EQ(commandLine + "\ndocument=no\n", Bytes(record));

  EXPECT_EQ(nullptr, Process::Start("\"" + PathOf("no such reader.exe") + "\" x"));
  EXPECT_EQ(nullptr, Process::Start(""));
}

LRESULT CALLBACK CountingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP) {
    ++*reinterpret_cast<int*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

TEST(WindowsMessagesTest, PumpMessagesDispatchesEveryPendingMessage) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = CountingWindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "QuillaneCountingWindow";
  RegisterClassA(&windowClass);
  const HWND window = CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                      nullptr, windowClass.hInstance, nullptr);
  ASSERT_NE(nullptr, window);
  int dispatched = 0;
  SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&dispatched));
  for (int i = 0; i < 3; ++i) PostMessageA(window, WM_APP, 0, 0);

  PumpMessages();
  EXPECT_EQ(3, dispatched);
  MSG left;
  EXPECT_FALSE(PeekMessageA(&left, nullptr, 0, 0, PM_NOREMOVE)) << "the queue is empty";
  PumpMessages();  // an empty queue returns at once
  DestroyWindow(window);
}

// ---------------------------------------------------------------------------
// Message boxes

// Shows a box through `show` while a second thread answers it as a user would;
// returns what the box showed (empty when none came within ten seconds).
template <typename Show>
std::optional<test::ShownBox> ShowAndAnswer(Show show) {
  std::optional<test::ShownBox> shown;
  std::thread user([&shown] { shown = test::AnswerQuillaneBox(GetTickCount64() + 10000); });
  show();
  user.join();
  return shown;
}

TEST(WindowsMessageBoxTest, ShowsTheTextWithItsIconAndAnOkButton) {
  const struct {
    std::string text;
    MessageIcon icon;
    bool applicationOwned;
    std::string iconName;
  } kCases[] = {
      {"Target output file already exists", MessageIcon::kError, false, "error"},
      {"Could not deduce command to start PDF reader", MessageIcon::kWarning, true, "warning"},
      {"line one\nline two", MessageIcon::kError, true, "error"},
  };
  for (const auto& c : kCases) {
    const auto shown = ShowAndAnswer([&c] { ShowMessageBox(c.text, c.icon, c.applicationOwned); });
    ASSERT_TRUE(shown.has_value()) << c.text;
    EXPECT_EQ(c.text, shown->text);
    EXPECT_EQ(c.iconName, shown->icon) << c.text;
    EXPECT_EQ("OK", shown->buttons) << c.text;
    EXPECT_FALSE(shown->owned) << "a program without windows has no owner to give";
  }
}

TEST(WindowsMessageBoxTest, ErrorBoxCompletesTheSentence) {
  const struct {
    std::string message;
    std::string shown;
  } kCases[] = {
      {"Cannot open file \"C:\\x.pdf\". File not found",
       "Cannot open file \"C:\\x.pdf\". File not found."},
      {"Failed to get data for 'x'", "Failed to get data for 'x'"},  // "'" sorts before "."
      {"Already complete.", "Already complete."},
      {"Ends before the dot!", "Ends before the dot!"},  // '!' sorts before '.'
      {"caf\xE9", "caf\xE9."},                           // bytes compare unsigned
      {"", ""},
  };
  for (const auto& c : kCases) {
    const auto shown = ShowAndAnswer([&c] { ShowErrorBox(c.message); });
    ASSERT_TRUE(shown.has_value()) << c.message;
    EXPECT_EQ(c.shown, shown->text) << c.message;
    EXPECT_EQ("error", shown->icon) << c.message;
    EXPECT_EQ("OK", shown->buttons);
  }
  EXPECT_EQ(CommandLineStyle::kWindows, NativeCommandLineStyle());
}

}  // namespace
}  // namespace quillane::platform
