// The POSIX platform layer against real files, folders and child processes.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "base/error.h"
#include "platform/platform.h"
#include "support/test_util.h"

namespace quillane::platform {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::ScopedEnvironment;
using test::WriteFileBytes;

// The files in a folder, names only, for "nothing left behind" checks.
std::vector<std::string> Listing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// ---------------------------------------------------------------------------
// Registry

class RegistryTest : public ::testing::Test {
 protected:
  RegistryTest() {
    path_ = scratch_.File("config/registry.reg");
    env_.Set("QUILLANE_REGISTRY", path_.c_str());
    // No desktop association of the machine may answer here.
    const std::string none = scratch_.File("no-desktop");
    for (const char* name :
         {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_HOME", "XDG_DATA_DIRS"}) {
      env_.Set(name, none.c_str());
    }
  }

  void WriteRegistry(const std::string& body) {
    fs::create_directories(scratch_.Path() / "config");
    WriteFileBytes(path_, "Windows Registry Editor Version 5.00\n" + body);
  }
  std::string RegistryText() const { return ReadFileBytes(path_); }

  test::ScratchDir scratch_;
  ScopedEnvironment env_;
  std::string path_;
};

TEST_F(RegistryTest, MissingFileIsAnEmptyRegistryAndStaysMissing) {
  Registry registry;
  EXPECT_FALSE(registry.OpenKeyReadOnly("Software\\Bramblecote Software\\quillane"));
  EXPECT_FALSE(registry.OpenKey("Software\\Bramblecote Software\\quillane", false));
  EXPECT_FALSE(fs::exists(scratch_.Path() / "config"));
}

TEST_F(RegistryTest, CreatingAKeyWritesTheFileAtOnce) {
  Registry registry;
  ASSERT_TRUE(registry.OpenKey("Software\\Bramblecote Software\\quillane", true));
  EXPECT_TRUE(
      test::BytesEqual("Windows Registry Editor Version 5.00\n"
                       "\n"
                       "[HKEY_CURRENT_USER\\Software\\Bramblecote Software\\quillane]\n",
                       RegistryText()));
  // An existing key, or one that exists through a descendant, adds nothing.
  ASSERT_TRUE(registry.OpenKey("\\Software\\Bramblecote Software", true));
  ASSERT_TRUE(registry.OpenKey("\\SOFTWARE\\bramblecote software\\QUILLANE", true));
  EXPECT_EQ(Listing(scratch_.Path() / "config"), std::vector<std::string>{"registry.reg"});
  EXPECT_TRUE(
      test::BytesEqual("Windows Registry Editor Version 5.00\n"
                       "\n"
                       "[HKEY_CURRENT_USER\\Software\\Bramblecote Software\\quillane]\n",
                       RegistryText()));
}

TEST_F(RegistryTest, EveryOpenReadsTheFileAfresh) {
  WriteRegistry("[HKEY_CURRENT_USER\\K]\n\"V\"=\"one\"\n");
  Registry registry;
  ASSERT_TRUE(registry.OpenKeyReadOnly("K"));
  EXPECT_EQ(registry.ReadString("V"), "one");
  WriteRegistry("[HKEY_CURRENT_USER\\K]\n\"V\"=\"two\"\n");
  ASSERT_TRUE(registry.OpenKeyReadOnly("\\K"));
  EXPECT_EQ(registry.ReadString("V"), "two");
}

TEST_F(RegistryTest, PathsAreRelativeToTheOpenKeyUnlessTheyStartWithABackslash) {
  WriteRegistry(
      "[HKEY_CURRENT_USER\\Software\\Vendor\\App]\n\"Where\"=\"app\"\n"
      "[HKEY_CURRENT_USER\\Software\\Other]\n\"Where\"=\"other\"\n"
      "[HKEY_CURRENT_USER\\Vendor\\App]\n\"Where\"=\"top\"\n");
  Registry registry;
  ASSERT_TRUE(registry.OpenKeyReadOnly("Software"));  // relative to the root
  ASSERT_TRUE(registry.OpenKeyReadOnly("Vendor\\App"));
  EXPECT_EQ(registry.ReadString("Where"), "app");
  ASSERT_TRUE(registry.OpenKeyReadOnly("\\Vendor\\App"));
  EXPECT_EQ(registry.ReadString("Where"), "top");
  registry.CloseKey();
  ASSERT_TRUE(registry.OpenKeyReadOnly("Software\\Other\\"));
  EXPECT_EQ(registry.ReadString("Where"), "other");
  // A failed open leaves the key that was open, as the framework's accessor
  // does.
  EXPECT_FALSE(registry.OpenKeyReadOnly("\\Software\\Missing"));
  EXPECT_EQ(registry.ReadString("Where"), "other");
  registry.CloseKey();
  EXPECT_FALSE(registry.ValueExists("Where"));
}

TEST_F(RegistryTest, RootsAreSeparateAndKeysExistThroughDescendants) {
  WriteRegistry("[HKEY_CLASSES_ROOT\\Reader.Document\\Shell\\open\\command]\n@=\"reader %1\"\n");
  Registry classes(RegistryRoot::kClassesRoot);
  ASSERT_TRUE(classes.OpenKeyReadOnly("Reader.Document\\Shell"));
  EXPECT_FALSE(classes.ValueExists(""));
  EXPECT_EQ(classes.ReadString(""), "");
  ASSERT_TRUE(classes.OpenKeyReadOnly("open\\command"));
  EXPECT_EQ(classes.ReadString(""), "reader %1");
  Registry user;
  EXPECT_FALSE(user.OpenKeyReadOnly("Reader.Document"));
}

TEST_F(RegistryTest, ReadsFollowTheValueTypes) {
  WriteRegistry(
      "[HKEY_CURRENT_USER\\K]\n"
      "\"Text\"=\"viewer %1\"\n"
      "\"On\"=\"1\"\n"
      "\"Cut\"=hex(1):61,00,62\n"
      "\"Expand\"=hex(2):25,00,50,00,41,00,54,00,48,00,25,00,5c,00,e9,00,00,00\n"
      "\"Dword\"=dword:00000000\n"
      "\"Two\"=dword:00000002\n"
      "\"Short\"=hex(4):01\n"
      "\"Empty\"=hex:\n"
      "\"Binary\"=hex:01\n"
      "\"Five\"=hex(4):00,00,00,00,00\n"
      "@=dword:00000001\n");
  Registry registry;
  ASSERT_TRUE(registry.OpenKeyReadOnly("K"));
  EXPECT_EQ(registry.ReadString("Text"), "viewer %1");
  EXPECT_EQ(registry.ReadString("text"), "viewer %1");
  EXPECT_EQ(registry.ReadString("Cut"), "a");
  EXPECT_EQ(registry.ReadString("Expand"), "%PATH%\\\xC3\xA9");  // not expanded
  EXPECT_EQ(registry.ReadString("Empty"), "");                   // no data: no type check
  EXPECT_EQ(registry.ReadString("Missing"), "");
  EXPECT_THROW_MSG(registry.ReadString("Dword"), Error, "Invalid data type for 'Dword'");
  EXPECT_THROW_MSG(registry.ReadString("Binary"), Error, "Invalid data type for 'Binary'");
  EXPECT_THROW_MSG(registry.ReadString(""), Error, "Invalid data type for ''");

  EXPECT_FALSE(registry.ReadBool("Dword"));
  EXPECT_TRUE(registry.ReadBool("Two"));
  EXPECT_TRUE(registry.ReadBool("Short"));
  EXPECT_TRUE(registry.ReadBool(""));
  // The size is checked before the type, as a four-byte query would.
  EXPECT_THROW_MSG(registry.ReadBool("On"), Error, "Invalid data type for 'On'");
  EXPECT_THROW_MSG(registry.ReadBool("Text"), Error, "Failed to get data for 'Text'");
  EXPECT_THROW_MSG(registry.ReadBool("Empty"), Error, "Invalid data type for 'Empty'");
  EXPECT_THROW_MSG(registry.ReadBool("Five"), Error, "Failed to get data for 'Five'");
  EXPECT_THROW_MSG(registry.ReadBool("Missing"), Error, "Failed to get data for 'Missing'");

  EXPECT_TRUE(registry.ValueExists("EMPTY"));
  EXPECT_TRUE(registry.ValueExists(""));
  EXPECT_FALSE(registry.ValueExists("Missing"));
}

TEST_F(RegistryTest, WriteStringChangesOnlyItsValue) {
  WriteRegistry(
      "\n"
      "; kept\n"
      "[HKEY_CURRENT_USER\\Software\\Bramblecote Software\\quillane]\n"
      "\"ReplaceObject\"=\"none\"\n"
      "\"pdfreadcmd\"=hex(2):61,00,00,00\n"
      "\n"
      "[HKEY_CLASSES_ROOT\\x]\n"
      "\"Blob\"=hex:ff\n");
  Registry registry;
  ASSERT_TRUE(registry.OpenKey("Software\\Bramblecote Software\\quillane", true));
  registry.WriteString("PdfReadCmd", "\"/usr/bin/viewer\" \"%1\"");
  registry.WriteString("New", "");
  EXPECT_TRUE(
      test::BytesEqual("Windows Registry Editor Version 5.00\n"
                       "\n"
                       "; kept\n"
                       "[HKEY_CURRENT_USER\\Software\\Bramblecote Software\\quillane]\n"
                       "\"ReplaceObject\"=\"none\"\n"
                       "\"pdfreadcmd\"=\"\\\"/usr/bin/viewer\\\" \\\"%1\\\"\"\n"
                       "\"New\"=\"\"\n"
                       "\n"
                       "[HKEY_CLASSES_ROOT\\x]\n"
                       "\"Blob\"=hex:ff\n",
                       RegistryText()));
  EXPECT_EQ(registry.ReadString("PdfReadCmd"), "\"/usr/bin/viewer\" \"%1\"");
  EXPECT_EQ(Listing(scratch_.Path() / "config"), std::vector<std::string>{"registry.reg"});
}

TEST_F(RegistryTest, FailedWritesRaiseTheRegistryError) {
  Registry registry;
  EXPECT_THROW_MSG(registry.WriteString("PdfReadCmd", "x"), Error,
                   "Failed to set data for 'PdfReadCmd'");  // no key open
  ASSERT_TRUE(registry.OpenKey("K", true));
  EXPECT_THROW_MSG(registry.WriteString("a\nb", "x"), Error, "Failed to set data for 'a\nb'");
  // The file turned into a folder after the open: nothing can be written.
  fs::remove(path_);
  fs::create_directory(path_);
  EXPECT_THROW_MSG(registry.WriteString("", "x"), Error, "Failed to set data for ''");
}

TEST_F(RegistryTest, MalformedOrUnreadableFilesAreErrors) {
  WriteRegistry("[HKEY_CURRENT_USER\\K]\n\"A\"=dword:xyz\n");
  const std::string before = RegistryText();
  Registry registry;
  EXPECT_THROW_MSG(registry.OpenKey("K", true), Error,
                   "Registry file \"" + path_ +
                       "\", line 3: bad dword value (one to eight hex digits expected)");
  EXPECT_EQ(RegistryText(), before);
  fs::remove(path_);
  fs::create_directory(path_);
  EXPECT_THROW_MSG(registry.OpenKeyReadOnly("K"), Error,
                   "Cannot open file \"" + path_ + "\". Is a directory");
}

TEST_F(RegistryTest, FileLocationFollowsTheEnvironment) {
  env_.Set("QUILLANE_REGISTRY", nullptr);
  const std::string configHome = scratch_.File("xdg");
  env_.Set("XDG_CONFIG_HOME", configHome.c_str());
  {
    Registry registry;
    ASSERT_TRUE(registry.OpenKey("A", true));
  }
  EXPECT_TRUE(fs::is_regular_file(configHome + "/quillane/registry.reg"));

  // A relative XDG_CONFIG_HOME is invalid and ignored.
  const std::string home = scratch_.File("home");
  env_.Set("XDG_CONFIG_HOME", "relative");
  env_.Set("HOME", home.c_str());
  {
    Registry registry;
    ASSERT_TRUE(registry.OpenKey("B", true));
  }
  EXPECT_TRUE(fs::is_regular_file(home + "/.config/quillane/registry.reg"));
}

// ---------------------------------------------------------------------------
// Message boxes

// Standard error of the calls made by `action`.
template <typename Action>
std::string CaptureStandardError(Action action) {
  test::ScratchDir scratch;
  const std::string file = scratch.File("stderr");
  std::fflush(stderr);
  const int saved = ::dup(2);
  const int target = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ::dup2(target, 2);
  ::close(target);
  action();
  std::fflush(stderr);
  ::dup2(saved, 2);
  ::close(saved);
  return ReadFileBytes(file);
}

TEST(MessageBoxTest, BoxesAreLinesOnStandardError) {
  EXPECT_EQ(CaptureStandardError([] {
              ShowMessageBox("Target output file already exists", MessageIcon::kError, true);
            }),
            "Quillane: Target output file already exists\n");
  struct Case {
    Text Message, Line;
  };
  const Case cases[] = {
      {"Cannot open file \"/x\". No such file or directory",
       "Quillane: Cannot open file \"/x\". No such file or directory.\n"},
      {"Done.", "Quillane: Done.\n"},
      {"Really!", "Quillane: Really!\n"},   // "!" sorts before "."
      {"a/", "Quillane: a/.\n"},            // "/" sorts after "."
      {"caf\xE9", "Quillane: caf\xE9.\n"},  // bytes compare unsigned
      {"", "Quillane: \n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CaptureStandardError([&] { ShowErrorBox(c.Message); }), c.Line) << c.Message;
  }
  EXPECT_EQ(ExitCodeAfterError(), 1);
}

// ---------------------------------------------------------------------------
// Paths and environment

TEST(PathTest, ExpandFileNameResolvesDotsByNameOnly) {
  const std::string cwd = fs::current_path().string();
  struct Case {
    Text Path, Expanded;
  };
  const Case cases[] = {
      {"/a/b/../c", "/a/c"}, {"/a/./b//c", "/a/b/c"}, {"/../x", "/x"},       {"/", "/"},
      {"//a", "/a"},         {"/a/b/", "/a/b/"},      {"/a/b/..", "/a"},     {"/a/..", "/"},
      {"x", cwd + "/x"},     {"x/../y", cwd + "/y"},  {"./x/", cwd + "/x/"},
  };
  for (const Case& c : cases) EXPECT_EQ(ExpandFileName(c.Path), c.Expanded) << c.Path;

  // A symbolic link stays in the path, followed by nothing.
  test::ScratchDir scratch;
  fs::create_directory(scratch.Path() / "real");
  fs::create_directory_symlink(scratch.Path() / "real", scratch.Path() / "link");
  EXPECT_EQ(ExpandFileName(scratch.File("link/../f")), scratch.File("f"));
}

TEST(PathTest, TemporaryDirectoryEndsWithASeparator) {
  ScopedEnvironment env;
  const std::pair<const char*, Text> cases[] = {
      {"/var/tmp", "/var/tmp/"}, {"/var/tmp/", "/var/tmp/"}, {"", "/tmp/"}, {nullptr, "/tmp/"}};
  for (const auto& [value, expected] : cases) {
    env.Set("TMPDIR", value);
    EXPECT_EQ(TemporaryDirectory(), expected) << (value ? value : "(unset)");
  }
}

TEST(PathTest, FileExistsOnlyForFilesThatAreNotFolders) {
  test::ScratchDir scratch;
  WriteFileBytes(scratch.File("f"), "x");
  fs::create_directory(scratch.Path() / "d");
  fs::create_symlink(scratch.Path() / "f", scratch.Path() / "to-f");
  fs::create_symlink(scratch.Path() / "gone", scratch.Path() / "dangling");
  EXPECT_TRUE(FileExists(scratch.File("f")));
  EXPECT_TRUE(FileExists(scratch.File("to-f")));
  EXPECT_FALSE(FileExists(scratch.File("d")));
  EXPECT_FALSE(FileExists(scratch.File("missing")));
  EXPECT_FALSE(FileExists(scratch.File("dangling")));
  DeleteFile(scratch.File("f"));
  DeleteFile(scratch.File("missing"));  // no error
  EXPECT_FALSE(fs::exists(scratch.Path() / "f"));
}

TEST(PathTest, SmallServices) {
  EXPECT_TRUE(IsPathSeparator('/'));
  EXPECT_FALSE(IsPathSeparator('\\'));
  EXPECT_FALSE(IsPathSeparator(':'));
  EXPECT_EQ(LowerCase("AbC.EXE \xC9z"), "abc.exe \xC9z");
  EXPECT_EQ(ExecutablePath(), fs::read_symlink("/proc/self/exe").string());
  ScopedEnvironment env;
  env.Set("QUILLANE_TEST_VALUE", "a b");
  EXPECT_EQ(GetEnvironment("QUILLANE_TEST_VALUE"), "a b");
  env.Set("QUILLANE_TEST_VALUE", nullptr);
  EXPECT_EQ(GetEnvironment("QUILLANE_TEST_VALUE"), "");
}

// ---------------------------------------------------------------------------
// Input files

TEST(InputFileTest, ReadsExactlyWhatIsAsked) {
  test::ScratchDir scratch;
  const std::string path = scratch.File("in.bin");
  WriteFileBytes(path, Text("0123\0"
                            "56789",
                            10));
  InputFile file(path);
  EXPECT_EQ(file.Size(), 10);
  EXPECT_EQ(file.Path(), path);
  char buffer[4] = {};
  file.ReadExactly(3, buffer, 4);
  EXPECT_EQ(Text(buffer, 4), Text("3\0"
                                  "56",
                                  4));
  file.ReadExactly(10, buffer, 0);
  EXPECT_EQ(ReadWholeFile(path), Text("0123\0"
                                      "56789",
                                      10));
  WriteFileBytes(scratch.File("empty"), "");
  EXPECT_EQ(ReadWholeFile(scratch.File("empty")), "");
}

TEST(InputFileTest, ErrorsNameTheFullPath) {
  test::ScratchDir scratch;
  const fs::path saved = fs::current_path();
  fs::current_path(scratch.Path());
  const std::string full = scratch.File("missing.pdf");
  EXPECT_THROW_MSG(InputFile("missing.pdf"), Error,
                   "Cannot open file \"" + full + "\". No such file or directory");
  fs::create_directory(scratch.Path() / "folder.pdf");
  EXPECT_THROW_MSG(ReadWholeFile("./folder.pdf"), Error,
                   "Cannot open file \"" + scratch.File("folder.pdf") + "\". Is a directory");

  // A read past the end, or of a file that shrank after the open.
  WriteFileBytes(scratch.File("in.pdf"), "abcdef");
  InputFile file("in.pdf");
  char buffer[8];
  const std::string ended = "Cannot read file \"" + scratch.File("in.pdf") +
                            "\". The file ended before its expected size";
  EXPECT_THROW_MSG(file.ReadExactly(4, buffer, 3), Error, ended);
  fs::resize_file(scratch.Path() / "in.pdf", 2);
  EXPECT_THROW_MSG(file.ReadExactly(0, buffer, 6), Error, ended);
  fs::current_path(saved);
}

// ---------------------------------------------------------------------------
// Output files

class OutputFileTest : public ::testing::Test {
 protected:
  std::string Temporary(const std::string& name, long pid = ::getpid()) const {
    return scratch_.File("." + name + ".quillane-" + std::to_string(pid) + ".tmp");
  }
  test::ScratchDir scratch_;
};

TEST_F(OutputFileTest, ExistingFileIsReplacedOnlyByCommit) {
  const std::string path = scratch_.File("out.pdf");
  WriteFileBytes(path, "old content");
  ::chmod(path.c_str(), 0640);
  {
    OutputFile output(path);
    output.Write("new", 3);
    output.Write(" bytes", 6);
    EXPECT_EQ(ReadFileBytes(path), "old content");
    EXPECT_EQ(ReadFileBytes(Temporary("out.pdf")), "new bytes");
    output.Commit();
    EXPECT_EQ(ReadFileBytes(path), "new bytes");
  }
  EXPECT_EQ(Listing(scratch_.Path()), std::vector<std::string>{"out.pdf"});
  // The replaced file keeps its permissions.
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST_F(OutputFileTest, WithoutCommitNothingChanges) {
  const std::string path = scratch_.File("out.pdf");
  { OutputFile output(path); }
  EXPECT_TRUE(Listing(scratch_.Path()).empty());
  WriteFileBytes(path, "old");
  {
    OutputFile output(path);
    output.Write("partial", 7);
  }
  EXPECT_EQ(ReadFileBytes(path), "old");
  EXPECT_EQ(Listing(scratch_.Path()), std::vector<std::string>{"out.pdf"});
}

TEST_F(OutputFileTest, FailedRenameKeepsTheTargetAndLeavesNoTemporary) {
  const std::string path = scratch_.File("out.pdf");
  fs::create_directory(path);
  WriteFileBytes(path + "/inside", "x");
  {
    OutputFile output(path);
    output.Write("data", 4);
    EXPECT_THROW_MSG(output.Commit(), Error, "Cannot write file \"" + path + "\". Is a directory");
  }
  EXPECT_EQ(Listing(scratch_.Path()), std::vector<std::string>{"out.pdf"});
  EXPECT_EQ(ReadFileBytes(path + "/inside"), "x");
}

TEST_F(OutputFileTest, MissingFolderIsACreateError) {
  const std::string path = scratch_.File("no/such/out.pdf");
  EXPECT_THROW_MSG(OutputFile{path}, Error,
                   "Cannot create file \"" + path + "\". No such file or directory");
}

TEST_F(OutputFileTest, FailedWriteIsAnErrorAndLeavesNothing) {
  // A file size limit makes write(2) fail as a full disk would, even for root.
  const std::string path = scratch_.File("out.pdf");
  struct sigaction ignore {
  }, saved{};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, &saved);
  rlimit oldLimit{};
  ::getrlimit(RLIMIT_FSIZE, &oldLimit);
  rlimit limit = oldLimit;
  limit.rlim_cur = 4096;
  ::setrlimit(RLIMIT_FSIZE, &limit);
  {
    OutputFile output(path);
    const Text big(10000, 'x');
    EXPECT_THROW_MSG(output.Write(big.data(), static_cast<std::int64_t>(big.size())), Error,
                     "Cannot write file \"" + path + "\". File too large");
  }
  ::setrlimit(RLIMIT_FSIZE, &oldLimit);
  ::sigaction(SIGXFSZ, &saved, nullptr);
  EXPECT_TRUE(Listing(scratch_.Path()).empty());
}

TEST_F(OutputFileTest, DevicesAreWrittenThroughNotReplaced) {
  {
    OutputFile output("/dev/null");
    output.Write("discarded", 9);
    output.Commit();
  }
  {
    OutputFile output("/dev/full");
    EXPECT_THROW_MSG(output.Write("x", 1), Error,
                     "Cannot write file \"/dev/full\". No space left on device");
  }
  struct stat info {};
  ASSERT_EQ(::lstat("/dev/null", &info), 0);
  EXPECT_TRUE(S_ISCHR(info.st_mode));
  ASSERT_EQ(::lstat("/dev/full", &info), 0);
  EXPECT_TRUE(S_ISCHR(info.st_mode));
}

TEST_F(OutputFileTest, StaleTemporariesOfTheSameOutputAreRemoved) {
  // A process that has ended stands for a run killed while writing.
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ASSERT_GT(child, 0);
  ::waitpid(child, nullptr, 0);
  const std::string path = scratch_.File("out.pdf");
  WriteFileBytes(Temporary("out.pdf", child), "killed run");
  WriteFileBytes(Temporary("out.pdf", 1), "running run");         // pid 1 is alive
  WriteFileBytes(Temporary("other.pdf", child), "other output");  // another output
  WriteFileBytes(scratch_.File(".out.pdf.quillane-x1.tmp"), "not ours");
  // This process's own name, left by a run that had the same id.
  WriteFileBytes(Temporary("out.pdf"), "same id");
  {
    OutputFile output(path);
    output.Write("new", 3);
    output.Commit();
  }
  EXPECT_EQ(ReadFileBytes(path), "new");
  EXPECT_EQ(
      Listing(scratch_.Path()),
      (std::vector<std::string>{".other.pdf.quillane-" + std::to_string(child) + ".tmp",
                                ".out.pdf.quillane-1.tmp", ".out.pdf.quillane-x1.tmp", "out.pdf"}));
}

// ---------------------------------------------------------------------------
// Processes

TEST(ProcessTest, WaitsForTheChildToEnd) {
  auto process = Process::Start("/bin/sh -c \"exit 3\"");
  ASSERT_NE(process, nullptr);
  EXPECT_TRUE(process->WaitForExit(10000));
  EXPECT_TRUE(process->WaitForExit(0));  // stays ended

  auto sleeper = Process::Start("sh -c \"sleep 0.5\"");  // found through PATH
  ASSERT_NE(sleeper, nullptr);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(sleeper->WaitForExit(50));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
  EXPECT_TRUE(sleeper->WaitForExit(10000));
}

TEST(ProcessTest, ArgumentsArriveLiterallyWithoutAShell) {
  test::ScratchDir scratch;
  const std::string script = scratch.File("record.sh");
  WriteFileBytes(script,
                 "out=$1; shift; for a in \"$@\"; do printf '[%s]' \"$a\"; done > \"$out\"\n");
  const std::string out = scratch.File("args");
  auto process = Process::Start("/bin/sh \"" + script + "\" \"" + out +
                                "\" \"a b\" $(touch${IFS}x);`id` 'q' \"\"");
  ASSERT_NE(process, nullptr);
  ASSERT_TRUE(process->WaitForExit(10000));
  EXPECT_EQ(ReadFileBytes(out), "[a b][$(touch${IFS}x);`id`]['q']");
}

TEST(ProcessTest, ProgramsThatCannotStartGiveNull) {
  EXPECT_EQ(Process::Start("quillane-no-such-program-7f3a \"x\""), nullptr);
  EXPECT_EQ(Process::Start("/nonexistent/reader %1"), nullptr);
  EXPECT_EQ(Process::Start("/"), nullptr);
  EXPECT_EQ(Process::Start(""), nullptr);
  EXPECT_EQ(Process::Start(" \"\" "), nullptr);
}

TEST(ProcessTest, DestroyingTheHandleLeavesTheChildRunning) {
  test::ScratchDir scratch;
  const std::string marker = scratch.File("marker");
  Process::Start("/bin/sh -c \"sleep 0.2; echo done > '" + marker + "'\"").reset();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!fs::exists(marker) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(fs::exists(marker));
  PumpMessages();  // nothing to do on POSIX, and it must not block
}

}  // namespace
}  // namespace quillane::platform
