// POSIX files against real files and folders: inputs, outputs built beside
// their target, and the clean-up of temporaries left by killed runs.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

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

TEST(InputFileTest, HolesReadAsZeroesAndStayHolesInACopy) {
  // Data, a hole of 8 MiB, data, and a hole of 1 MiB at the end.
  test::ScratchDir scratch;
  const std::string path = scratch.File("sparse.pdf");
  WriteFileBytes(path, "head");
  fs::resize_file(path, 4 + (8 << 20));
  std::ofstream(path, std::ios::binary | std::ios::app) << "tail";
  fs::resize_file(path, 8 + (9 << 20));
  const std::string expected =
      "head" + std::string(8 << 20, '\0') + "tail" + std::string(1 << 20, '\0');
  InputFile file(path);
  std::string read(expected.size(), 'x');
  file.ReadExactly(0, read.data(), file.Size());
  EXPECT_TRUE(test::BytesEqual(expected, read));
  // Past the end a hole is no excuse.
  EXPECT_THROW(file.ReadExactly(file.Size() - 65536, read.data(), 1 << 17), Error);
  {
    OutputFile output(scratch.File("copy.pdf"));
    file.CopyTo(output, 0, file.Size());
    output.Commit();
  }
  EXPECT_TRUE(test::BytesEqual(expected, ReadFileBytes(scratch.File("copy.pdf"))));
  struct stat info {};
  ASSERT_EQ(::stat(scratch.File("copy.pdf").c_str(), &info), 0);
  EXPECT_LT(info.st_blocks * 512, 1 << 20) << "the holes were written out";
}

// A temporary file has no name anyone could open, and reads back what was
// written.
TEST(TemporaryFileTest, ReadsBackWhatWasWrittenAndLeavesNoName) {
  test::ScratchDir scratch;
  test::ScopedEnvironment environment;
  environment.Set("TMPDIR", scratch.Path().string());
  {
    TemporaryFile file;
    file.Write("first ", 6);
    const std::string large(3 << 20, 'x');
    file.Write(large.data(), static_cast<std::int64_t>(large.size()));
    EXPECT_EQ(file.Size(), 6 + (3 << 20));
    std::string read(9, '\0');
    file.ReadAt(3, read.data(), 9);
    EXPECT_EQ(read, "st xxxxxx");
    EXPECT_TRUE(Listing(scratch.Path()).empty());
  }
  environment.Set("TMPDIR", scratch.File("missing"));
  EXPECT_THROW_MSG(
      TemporaryFile(), Error,
      "Cannot create file \"" + scratch.File("missing") + "\". No such file or directory");
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

// CommitAsNew moves the output into place only while the name is free: a
// file that appeared meanwhile stays, and the temporary file goes.
TEST_F(OutputFileTest, CommitAsNewNeverReplacesAFile) {
  const std::string path = scratch_.File("out.pdf");
  {
    OutputFile output(path);
    output.Write("first", 5);
    EXPECT_TRUE(output.CommitAsNew());
  }
  EXPECT_EQ(ReadFileBytes(path), "first");
  {
    OutputFile output(path);
    output.Write("second", 6);
    EXPECT_FALSE(output.CommitAsNew());
  }
  EXPECT_EQ(ReadFileBytes(path), "first");
  EXPECT_EQ(Listing(scratch_.Path()), std::vector<std::string>{"out.pdf"});
  // A device is written through, as Commit writes it.
  OutputFile device("/dev/null");
  device.Write("x", 1);
  EXPECT_TRUE(device.CommitAsNew());
}

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

}  // namespace
}  // namespace quillane::platform
