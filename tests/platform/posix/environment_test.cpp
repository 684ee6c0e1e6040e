// The POSIX process environment: message boxes on standard error, paths and
// environment variables.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <cstdio>

#include <algorithm>
#include <filesystem>

#include "base/error.h"
#include "platform/platform.h"
#include "support/test_util.h"

namespace quillane::platform {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::ScopedEnvironment;
using test::WriteFileBytes;

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
  EXPECT_EQ(NativeCommandLineStyle(), CommandLineStyle::kPosix);
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

}  // namespace
}  // namespace quillane::platform
