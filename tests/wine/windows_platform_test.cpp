// The Win32 platform layer against the real thing: the registry under a
// scratch key of HKEY_CURRENT_USER, files in a scratch folder, child processes
// and message boxes answered from a second thread; names in several scripts
// and beyond MAX_PATH throughout, and the UTF-8/UTF-16 conversions and the
// "\\?\" form on their own. Runs on Windows or wine.
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
#include "platform/win32/win32_util.h"
#undef DeleteFile
// FSCTL_SET_SPARSE, which the lean windows.h leaves out.
#include <winioctl.h>

namespace quillane::platform {
namespace {

namespace fs = std::filesystem;
using win32::FileSystemPath;
using win32::Malformed;
using win32::ToUtf16;
using win32::ToUtf8;

// Document names of the users the program is for, in UTF-8: Cyrillic, CJK,
// Greek, an emoji (a surrogate pair in UTF-16), a combining accent.
const std::vector<std::string>& NamesInEveryScript() {
  static const std::vector<std::string> names = {
      "\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82 \xD0\xB7\xD0\xB0 2026.pdf",
      "\xE6\x8A\xA5\xE5\x91\x8A \xE7\xAC\xAC\xE4\xB8\x80\xE7\xAB\xA0.pdf",
      "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC.pdf",
      "notes \xF0\x9F\x98\x80.pdf",
      "Cafe\xCC\x81 cre\xCC\x80me.pdf",
  };
  return names;
}

// The UTF-8 form of a std::filesystem path.
std::string Utf8Of(const fs::path& path) { return ToUtf8(path.native()); }

// A folder below `base` whose full path is longer than MAX_PATH with room to
// spare: three components of 90 characters.
fs::path LongFolderIn(const fs::path& base) {
  fs::path folder = base;
  for (const char* part : {"a", "b", "c"}) folder /= std::string(89, 'x') + part;
  return folder;
}

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
// Text conversions and the path form of the file functions

TEST(WindowsTextTest, WellFormedTextConvertsBothWaysUnchanged) {
  const struct {
    std::string utf8;
    std::wstring utf16;
  } kCases[] = {
      {"", L""},
      {"C:\\docs\\report.pdf", L"C:\\docs\\report.pdf"},
      {std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
      {"caf\xC3\xA9", L"caf\u00E9"},
      {"\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82", L"\u041E\u0442\u0447\u0451\u0442"},
      {"\xE6\x8A\xA5\xE5\x91\x8A", L"\u62A5\u544A"},
      {"\xF0\x9F\x98\x80", L"\xD83D\xDE00"},
      {"e\xCC\x81", L"e\u0301"},
      // The ends of each sequence length, and the last character there is.
      {"\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF",
       L"\u007F\u0080\u07FF\u0800\uFFFF\xD800\xDC00\xDBFF\xDFFF"},
      {"\xED\x9F\xBF\xEE\x80\x80", L"\uD7FF\uE000"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.utf16, ToUtf16(c.utf8).value_or(L"(refused)")) << c.utf8;
    EXPECT_EQ(c.utf16, ToUtf16(c.utf8, Malformed::kReplace).value()) << c.utf8;
    EXPECT_EQ(c.utf8, ToUtf8(c.utf16)) << c.utf8;
  }
}

// A lone surrogate (an NTFS name may hold one) keeps its value in WTF-8, which
// no conversion back accepts as a name: it can never stand for another file.
TEST(WindowsTextTest, LoneSurrogatesBecomeWtf8ThatIsNeverTakenForAName) {
  const struct {
    std::wstring utf16;
    std::string wtf8;
    std::wstring shown;
  } kCases[] = {
      {L"x\xD800.pdf", "x\xED\xA0\x80.pdf", L"x\uFFFD.pdf"},
      {L"\xDFFF", "\xED\xBF\xBF", L"\uFFFD"},
      {L"\xDE00\xD83D", "\xED\xB8\x80\xED\xA0\xBD", L"\uFFFD\uFFFD"},  // a pair the wrong way round
      {L"a\xD83D", "a\xED\xA0\xBD", L"a\uFFFD"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.wtf8, ToUtf8(c.utf16)) << c.wtf8;
    EXPECT_FALSE(ToUtf16(c.wtf8).has_value()) << c.wtf8;
    EXPECT_EQ(c.shown, ToUtf16(c.wtf8, Malformed::kReplace).value()) << c.wtf8;
  }
}

// Each maximal malformed part becomes one U+FFFD when replacing (the practice
// the Unicode standard recommends); refusing gives nothing.
TEST(WindowsTextTest, MalformedUtf8IsRefusedOrReplacedPartByPart) {
  const struct {
    std::string utf8;
    std::wstring replaced;
  } kCases[] = {
      {"caf\xE9", L"caf\uFFFD"},                          // a code page 1252 byte
      {"\x80", L"\uFFFD"},                                // a stray continuation byte
      {"a\xE2\x82", L"a\uFFFD"},                          // cut at the end
      {"a\xE2\x82z", L"a\uFFFDz"},                        // cut before an ASCII byte
      {"\xF0\x9F\x98.pdf", L"\uFFFD.pdf"},                // an emoji cut short
      {"\xC0\xAF", L"\uFFFD\uFFFD"},                      // overlong "/"
      {"\xE0\x80\xAF", L"\uFFFD\uFFFD\uFFFD"},            // overlong, three bytes
      {"\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
      {"\xF8\x88\x80\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"\xFF\xFE", L"\uFFFD\uFFFD"},
      {"\xED\xA0", L"\uFFFD\uFFFD"},  // an encoded surrogate cut short
  };
  for (const auto& c : kCases) {
    EXPECT_FALSE(ToUtf16(c.utf8).has_value()) << c.utf8;
    EXPECT_EQ(c.replaced, ToUtf16(c.utf8, Malformed::kReplace).value()) << c.utf8;
  }
}

TEST(WindowsTextTest, FileSystemPathTakesTheLongFormBeyondMaxPath) {
  const std::string longName(300, 'x');
  const std::wstring wideLong(300, L'x');
  wchar_t current[4096];
  const std::wstring currentFolder(current, GetCurrentDirectoryW(4096, current));
  const std::wstring currentLong =
      currentFolder.back() == L'\\' ? currentFolder : currentFolder + L'\\';
  // 259 UTF-16 units in all, the most a path may have as it stands; counted
  // in units, not bytes: "Ж" takes two bytes, the emoji four bytes and two units.
  const std::string plainMost = "C:\\" + std::string(256, 'a');
  std::string cyrillicMost = "C:\\";
  std::string emojiMost = "C:\\ab";
  for (int i = 0; i < 256; ++i) cyrillicMost += "\xD0\x96";
  for (int i = 0; i < 127; ++i) emojiMost += "\xF0\x9F\x98\x80";
  const struct {
    std::string path;
    std::wstring expected;
  } kCases[] = {
      // Short: as they stand, slashes and dots left to the system.
      {"C:\\docs\\report.pdf", L"C:\\docs\\report.pdf"},
      {"C:/docs/./old/../report.pdf", L"C:/docs/./old/../report.pdf"},
      {"docs\\report.pdf", L"docs\\report.pdf"},
      {"\\\\server\\share\\report.pdf", L"\\\\server\\share\\report.pdf"},
      {plainMost, ToUtf16(plainMost).value()},
      {cyrillicMost, ToUtf16(cyrillicMost).value()},
      {emojiMost, ToUtf16(emojiMost).value()},
      // Long: the full path, resolved, behind "\\?\".
      {plainMost + "b", L"\\\\?\\" + ToUtf16(plainMost + "b").value()},
      {cyrillicMost + "b", L"\\\\?\\" + ToUtf16(cyrillicMost + "b").value()},
      {emojiMost + "b", L"\\\\?\\" + ToUtf16(emojiMost + "b").value()},
      {"C:\\" + longName + "\\report.pdf", L"\\\\?\\C:\\" + wideLong + L"\\report.pdf"},
      {"c:/" + longName + "/./old/../report.pdf", L"\\\\?\\c:\\" + wideLong + L"\\report.pdf"},
      {longName + "\\report.pdf", L"\\\\?\\" + currentLong + wideLong + L"\\report.pdf"},
      {"\\\\server\\share\\" + longName, L"\\\\?\\UNC\\server\\share\\" + wideLong},
      {"//server/share/" + longName + "/./old/../report.pdf",
       L"\\\\?\\UNC\\server\\share\\" + wideLong + L"\\report.pdf"},
      // Already long, or a device: as they stand.
      {"\\\\?\\C:\\" + longName, L"\\\\?\\C:\\" + wideLong},
      {"\\\\.\\pipe\\" + longName, L"\\\\.\\pipe\\" + wideLong},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.expected, FileSystemPath(c.path).value_or(L"(refused)")) << c.path;
  }
  // A folder leaves room for an 8.3 name inside it.
  EXPECT_EQ(L"\\\\?\\C:\\" + std::wstring(245, L'f'),
            FileSystemPath("C:\\" + std::string(245, 'f'), win32::kLongestPlainFolderPath));
  EXPECT_EQ(L"C:\\" + std::wstring(244, L'f'),
            FileSystemPath("C:\\" + std::string(244, 'f'), win32::kLongestPlainFolderPath));

  for (const char* malformed : {"C:\\caf\xE9.pdf", "C:\\x\xED\xA0\x80.pdf"}) {
    EXPECT_FALSE(FileSystemPath(malformed).has_value()) << malformed;
    EXPECT_FALSE(FileSystemPath(malformed + longName).has_value()) << malformed;
  }
}

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
  // Stores `bytes` bytes of UTF-16 data, as a wide program could have left them.
  void SetRawWide(const std::wstring& name, DWORD type, const std::wstring& data, DWORD bytes) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key_, name.c_str(), 0, type,
                                            reinterpret_cast<const BYTE*>(data.data()), bytes));
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

// Text is stored as Windows stores it, in UTF-16, so that the registry
// editor and other programs see the same text; key paths and value names in
// any script too.
TEST_F(WindowsRegistryTest, TextCrossesAsUtf16InKeysNamesAndData) {
  // "C:\Users\Zoë\阅读\r.exe" "%1" 😀, in the value "Εντολή" of the key "Ключ".
  const std::string command =
      "\"C:\\Users\\Zo\xC3\xAB\\\xE9\x98\x85\xE8\xAF\xBB\\r.exe\" \"%1\" \xF0\x9F\x98\x80";
  const std::wstring stored = L"\"C:\\Users\\Zo\u00EB\\\u9605\u8BFB\\r.exe\" \"%1\" \xD83D\xDE00";
  const std::string valueName = "\xCE\x95\xCE\xBD\xCF\x84\xCE\xBF\xCE\xBB\xCE\xAE";
  const std::wstring wideValueName = L"\u0395\u03BD\u03C4\u03BF\u03BB\u03AE";
  const std::string subkey = scratch_ + "\\\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87";
  const std::wstring wideSubkey = ToUtf16(scratch_).value() + L"\\\u041A\u043B\u044E\u0447";
  {
    const auto key = RegistryKey::OpenOrCreate(RegistryRoot::kCurrentUser, subkey);
    ASSERT_NE(key, nullptr);
    key->WriteString(valueName, command);
    EXPECT_TRUE(key->ValueExists(valueName));
    EXPECT_EQ(command, key->ReadString(valueName));
  }
  HKEY raw = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, wideSubkey.c_str(), 0, KEY_READ, &raw));
  DWORD type = 0;
  wchar_t data[256];
  DWORD size = sizeof data;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(raw, wideValueName.c_str(), nullptr, &type,
                                            reinterpret_cast<BYTE*>(data), &size));
  RegCloseKey(raw);
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ(stored + L'\0', std::wstring(data, size / sizeof(wchar_t)));

  // As other programs store it: an odd byte count loses only its last byte;
  // a lone surrogate is read as its WTF-8.
  const struct {
    std::wstring name;
    DWORD type;
    std::wstring data;
    DWORD bytes;
    std::string expected;
  } kCases[] = {
      {L"cjk", REG_EXPAND_SZ, L"%APPDATA%\\\u9605\u8BFB.exe", 34,
       "%APPDATA%\\\xE9\x98\x85\xE8\xAF\xBB.exe"},
      {L"odd", REG_SZ, L"ab\u00E9", 5, "ab"},
      {L"lone", REG_SZ, L"x\xD800.pdf", 12, "x\xED\xA0\x80.pdf"},
  };
  for (const auto& c : kCases) SetRawWide(c.name, c.type, c.data, c.bytes);
  const auto registry = RegistryKey::OpenReadOnly(RegistryRoot::kCurrentUser, scratch_);
  ASSERT_NE(registry, nullptr);
  for (const auto& c : kCases)
    EXPECT_EQ(c.expected, registry->ReadString(ToUtf8(c.name))) << c.expected;
}

// Text that is not UTF-8 names no key or value, and is never stored as some
// other text.
TEST_F(WindowsRegistryTest, MalformedTextOpensAndStoresNothing) {
  const auto key = RegistryKey::Open(RegistryRoot::kCurrentUser, scratch_);
  ASSERT_NE(key, nullptr);
  EXPECT_THROW_MSG(key->WriteString("PdfReadCmd", "caf\xE9.exe"), Error,
                   "Failed to set data for 'PdfReadCmd'");
  EXPECT_FALSE(key->ValueExists("PdfReadCmd"));
  EXPECT_FALSE(key->ValueExists("caf\xE9"));
  EXPECT_EQ("", key->ReadString("caf\xE9"));
  EXPECT_EQ(RegistryKey::OpenOrCreate(RegistryRoot::kCurrentUser, scratch_ + "\\caf\xE9"), nullptr);
  EXPECT_EQ(RegistryKey::OpenReadOnly(RegistryRoot::kCurrentUser, scratch_ + "\\caf\xE9"), nullptr);
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
  // The UTF-8 path of `name` (UTF-8) in `folder`, by default the test's own.
  std::string Utf8PathOf(const std::string& name) const { return Utf8PathIn(folder_, name); }
  static std::string Utf8PathIn(const fs::path& folder, const std::string& name) {
    return Utf8Of(folder) + "\\" + name;
  }
  // The test reaches the disk by the "\\?\" form of a full UTF-8 path, so that
  // its own checks hold beyond MAX_PATH on any Windows.
  static fs::path OnDisk(const std::string& fullPath) {
    return fs::path(L"\\\\?\\" + ToUtf16(fullPath).value());
  }
  // The names in a folder, by FindFirstFileW on the "\\?\" form, sorted.
  static std::vector<std::string> ListingOnDisk(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((OnDisk(folder).native() + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return {"(cannot list)"};
    do {
      const std::wstring name = found.cFileName;
      if (name != L"." && name != L"..") names.push_back(ToUtf8(name));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
  }

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

// Names in every script, in a short folder and in one whose full path is
// longer than MAX_PATH: written, found, read, named in messages and deleted
// through the seam, and found on the disk by exactly those names.
TEST_F(WindowsFilesTest, NamesInAnyScriptAtAnyLength) {
  const fs::path longFolder = LongFolderIn(folder_);
  fs::create_directories(OnDisk(Utf8Of(longFolder)));
  for (const fs::path& where : {folder_, longFolder}) {
    for (const std::string& name : NamesInEveryScript()) {
      const std::string path = Utf8PathIn(where, name);
      SCOPED_TRACE(path);
      {
        OutputFile output(path);
        output.Write("%PDF-1.7", 8);
        output.Commit();
      }
      EXPECT_EQ("%PDF-1.7", Bytes(OnDisk(path)));
      EXPECT_TRUE(FileExists(path));
      EXPECT_TRUE(OutputFile::ReplacesTarget(path));
      EXPECT_EQ("%PDF-1.7", ReadWholeFile(path));
      {
        // Replaced as a whole, and opened again after Close.
        OutputFile output(path);
        output.Write("%PDF-2.0", 8);
        output.Commit();
        InputFile input(Utf8Of(where) + "/./" + name);
        input.Close();
        std::string head(8, '\0');
        input.ReadExactly(0, head.data(), 8);
        EXPECT_EQ("%PDF-2.0", head);
      }
      EXPECT_EQ(path, ExpandFileName(Utf8Of(where) + "/sub/../" + name));
      DeleteFile(path);
      EXPECT_FALSE(FileExists(path));
      EXPECT_FALSE(fs::exists(OnDisk(path)));
      try {
        InputFile missing(path);
        ADD_FAILURE() << "opened after the delete";
      } catch (const Error& error) {
        const std::string prefix = "Cannot open file \"" + path + "\". ";
        EXPECT_EQ(prefix, std::string(error.what()).substr(0, prefix.size()));
      }
    }
  }
  EXPECT_EQ(std::vector<std::string>{}, ListingOnDisk(Utf8Of(longFolder))) << "a file left";
  EXPECT_EQ(std::vector<std::string>{Utf8Of(longFolder.parent_path().parent_path().filename())},
            ListingOnDisk(Utf8Of(folder_)))
      << "a file left";
  // The C runtime below std::filesystem cannot remove a folder that long.
  for (fs::path level = longFolder; level != folder_; level = level.parent_path()) {
    EXPECT_TRUE(RemoveDirectoryW(OnDisk(Utf8Of(level)).c_str())) << Utf8Of(level);
  }
}

// A name holding a lone surrogate (its WTF-8 here) opens nothing, and in
// particular not the file whose name has U+FFFD in its place; its messages
// name it with that U+FFFD.
TEST_F(WindowsFilesTest, ANameWithALoneSurrogateOpensNoOtherFile) {
  const std::string decoy = Utf8PathOf("x\xEF\xBF\xBD.pdf");
  WriteBytes(OnDisk(decoy), "decoy");
  const std::string path = Utf8PathOf("x\xED\xA0\x80.pdf");
  const std::string reason = win32::WindowsErrorText(ERROR_INVALID_NAME);
  EXPECT_THROW_MSG(InputFile{path}, Error, "Cannot open file \"" + decoy + "\". " + reason);
  EXPECT_THROW_MSG(OutputFile{path}, Error, "Cannot create file \"" + decoy + "\". " + reason);
  EXPECT_FALSE(FileExists(path));
  DeleteFile(path);
  EXPECT_EQ(decoy, ExpandFileName(path));
  EXPECT_EQ("decoy", Bytes(OnDisk(decoy)));
  EXPECT_EQ(std::vector<std::string>{"x\xEF\xBF\xBD.pdf"}, FolderListing(folder_));
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

// A temporary folder in a profile with a non-ASCII name, and copies whose
// full path is longer than MAX_PATH: created, listed and removed by name.
TEST_F(WindowsFilesTest, ViewCopiesOfAnyNameInAProfileOfAnyName) {
  const std::string profile = Utf8PathOf("Zo\xC3\xAB \xCE\xA3\xCE\xBF\xCF\x86\xCE\xAF\xCE\xB1");
  fs::create_directories(OnDisk(profile));
  const std::wstring oldTmp = ToUtf16(GetEnvironment("TMP")).value();
  SetEnvironmentVariableW(L"TMP", (ToUtf16(profile).value() + L"\\").c_str());
  const std::string copies = profile + "\\Quillane\\";
  EXPECT_EQ(copies, ViewCopyDirectory());
  CreateViewCopyDirectory();
  CreateViewCopyDirectory();  // there already
  EXPECT_TRUE(fs::is_directory(OnDisk(profile + "\\Quillane")));

  std::string longName;
  for (int i = 0; i < 120; ++i) longName += "\xD0\x96";
  longName += "_Vexlo.pdf";
  // In the order of their bytes, as the removed list is sorted below.
  const std::vector<std::string> old = {copies + longName, copies + NamesInEveryScript()[0]};
  const std::string recent = copies + NamesInEveryScript()[3];
  for (const std::string& copy : old) WriteBytes(OnDisk(copy), "old");
  WriteBytes(OnDisk(recent), "recent");
  FILETIME twoDaysAgo{};
  GetSystemTimeAsFileTime(&twoDaysAgo);
  ULARGE_INTEGER ticks{};
  ticks.LowPart = twoDaysAgo.dwLowDateTime;
  ticks.HighPart = twoDaysAgo.dwHighDateTime;
  ticks.QuadPart -= 2ULL * 24 * 3600 * 10'000'000;
  twoDaysAgo.dwLowDateTime = ticks.LowPart;
  twoDaysAgo.dwHighDateTime = ticks.HighPart;
  for (const std::string& copy : old) {
    const HANDLE file = CreateFileW(OnDisk(copy).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << copy;
    EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &twoDaysAgo));
    CloseHandle(file);
  }
  std::vector<std::string> removed = RemoveViewCopiesOlderThan(std::chrono::hours(24));
  std::sort(removed.begin(), removed.end());
  EXPECT_EQ(old, removed);
  for (const std::string& copy : old) EXPECT_FALSE(fs::exists(OnDisk(copy))) << copy;
  EXPECT_EQ("recent", Bytes(OnDisk(recent)));
  SetEnvironmentVariableW(L"TMP", oldTmp.empty() ? nullptr : oldTmp.c_str());
}

TEST(WindowsEnvironmentTest, VariablesAndLowerCase) {
  SetEnvironmentVariableA("QUILLANE_TEST_VALUE", "C:\\some where\\log.txt");
  EXPECT_EQ("C:\\some where\\log.txt", GetEnvironment("QUILLANE_TEST_VALUE"));
  SetEnvironmentVariableA("QUILLANE_TEST_VALUE", std::string(600, 'x').c_str());
  EXPECT_EQ(std::string(600, 'x'), GetEnvironment("QUILLANE_TEST_VALUE"))
      << "longer than the first buffer";
  SetEnvironmentVariableA("QUILLANE_TEST_VALUE", nullptr);
  EXPECT_EQ("", GetEnvironment("QUILLANE_TEST_VALUE"));

  // C:\Users\Zoë\报告 😀.txt
  SetEnvironmentVariableW(L"QUILLANE_TEST_VALUE",
                          L"C:\\Users\\Zo\u00EB\\\u62A5\u544A \xD83D\xDE00.txt");
  EXPECT_EQ("C:\\Users\\Zo\xC3\xAB\\\xE6\x8A\xA5\xE5\x91\x8A \xF0\x9F\x98\x80.txt",
            GetEnvironment("QUILLANE_TEST_VALUE"));
  SetEnvironmentVariableW(L"QUILLANE_TEST_VALUE", nullptr);

  const struct {
    std::string text;
    std::string lower;
  } kCases[] = {
      {std::string("Adobe.EXE\0X", 11), std::string("adobe.exe\0x", 11)},
      // ОТЧЁТ.EXE, ZOË, ΑΣ: letters of every script.
      {"\xD0\x9E\xD0\xA2\xD0\xA7\xD0\x81\xD0\xA2.EXE",
       "\xD0\xBE\xD1\x82\xD1\x87\xD1\x91\xD1\x82.exe"},
      {"ZO\xC3\x8B", "zo\xC3\xAB"},
      {"\xCE\x91\xCE\xA3", "\xCE\xB1\xCF\x83"},
      {"\xE6\x8A\xA5 \xF0\x9F\x98\x80", "\xE6\x8A\xA5 \xF0\x9F\x98\x80"},
      // Not UTF-8: the ASCII letters only, every other byte as it was.
      {"CAF\xC9.EXE", "caf\xC9.exe"},
  };
  for (const auto& c : kCases) EXPECT_EQ(c.lower, LowerCase(c.text)) << c.text;
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

// The reader command carries the document's name unchanged, in any script;
// a command that is not UTF-8 does not start.
TEST_F(WindowsProcessTest, HandsNamesInAnyScriptToTheChildUnchanged) {
  const std::string record = PathOf("record.txt");
  SetEnvironmentVariableA("QUILLANE_READER_RECORD", record.c_str());
  const std::string reader = "\"" + HelperPath("reader_stand_in.exe") + "\"";
  for (const std::string& name : NamesInEveryScript()) {
    const std::string document = Utf8PathOf(name);
    WriteBytes(OnDisk(document), "%PDF-");
    auto process = Process::StartWithDocument(reader + " \"%1\"", document);
    ASSERT_NE(nullptr, process) << document;
    int polls = 0;
    while (!process->WaitForExit(200)) ASSERT_LT(++polls, 100) << "the child never ended";
    EXPECT_EQ(reader + " \"" + document + "\"\ndocument=yes\n", Bytes(record));
    fs::remove(record);
  }
  SetEnvironmentVariableA("QUILLANE_READER_RECORD", nullptr);
  EXPECT_EQ(nullptr, Process::Start(reader + " \"" + PathOf("caf") + "\xE9.pdf\""));
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
      // Cannot open file "C:\Users\Zoë\Отчёт 😀.pdf".
      {"Cannot open file \"C:\\Users\\Zo\xC3\xAB\\\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82 "
       "\xF0\x9F\x98\x80.pdf\".",
       MessageIcon::kError, true, "error"},
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
      {"caf\xC3\xA9", "caf\xC3\xA9."},                   // bytes compare unsigned
      {"caf\xE9", "caf\xEF\xBF\xBD."},                   // not UTF-8: shown with U+FFFD
      {"x\xED\xA0\x80.pdf", "x\xEF\xBF\xBD.pdf."},       // a lone surrogate's WTF-8
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
