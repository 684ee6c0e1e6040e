// WindowedFileAccess on POSIX, where the loaded file stays open and
// others may change it: a file changed meanwhile must fail the save rather
// than yield a mixed output.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "base/error.h"
#include "fileaccess/fileaccess.h"
#include "platform/platform.h"
#include "support/loaded_file.h"
#include "support/test_util.h"

namespace quillane {
namespace {

namespace fs = std::filesystem;
using test::LoadedFile;
using test::ReadFileBytes;

std::string ChangedMessage(const std::string& path) {
  return "Cannot read file \"" + platform::ExpandFileName(path) +
         "\". The file changed while it was being processed";
}

// Names in the folder other than the input, so that a leftover temporary
// file shows.
std::vector<std::string> OtherEntries(const LoadedFile& file) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(file.folder.Path())) {
    const std::string name = entry.path().filename().string();
    if (name != "input.pdf") names.push_back(name);
  }
  return names;
}

// Moves the file's modification time a second on, as a later write would,
// without depending on the clock's resolution.
void TouchLater(const std::string& path) {
  fs::last_write_time(path, fs::last_write_time(path) + std::chrono::seconds(1));
}

TEST(WindowedFileAccessPosix, SaveRefusesAnInputChangedMeanwhile) {
  const std::string original(100000, 'a');
  const struct {
    const char* situation;
    void (*change)(const std::string& path);
  } cases[] = {
      {"rewritten in place, same size",
       [](const std::string& path) {
         std::fstream(path, std::ios::in | std::ios::out | std::ios::binary) << "changed";
         TouchLater(path);
       }},
      {"only its time moved on", [](const std::string& path) { TouchLater(path); }},
      {"grown",
       [](const std::string& path) {
         std::ofstream(path, std::ios::app | std::ios::binary) << "more";
       }},
  };
  for (const auto& c : cases) {
    for (const bool begun : {false, true}) {
      LoadedFile file(original);
      const std::string input = file.folder.File("input.pdf");
      const std::string target = file.folder.File("out.pdf");
      // Begun early, the copy may be made before or after the change.
      if (begun) file.source.BeginSave(target);
      c.change(input);
      EXPECT_THROW_MSG(file.source.Save(target), Error, ChangedMessage(input));
      EXPECT_TRUE(OtherEntries(file).empty()) << c.situation;
      // An existing output is left as it was.
      test::WriteFileBytes(target, "old output");
      EXPECT_THROW_MSG(file.source.Save(target), Error, ChangedMessage(input));
      EXPECT_EQ(ReadFileBytes(target), "old output") << c.situation;
    }
  }
}

TEST(WindowedFileAccessPosix, ACopyFailingInTheBackgroundFailsTheSaveAndLeavesNothing) {
  LoadedFile file(std::string(1 << 20, 'x'));
  const std::string target = file.folder.File("out.pdf");
  // Files may grow to 64 KiB only; beyond, writes fail with EFBIG instead of
  // the signal ending the process.
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 1 << 16;
  const auto previous = ::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  file.source.BeginSave(target);
  file.source.Overwrite(100, "Vexlo");
  EXPECT_THROW_MSG(
      file.source.Save(target), Error,
      "Cannot write file \"" + platform::ExpandFileName(target) + "\". File too large");
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, previous);
  EXPECT_TRUE(OtherEntries(file).empty());
}

TEST(WindowedFileAccessPosix, InputShortenedAfterLoadFailsReadsAndTheSave) {
  LoadedFile file(std::string(5 * 4096 + 100, 'x'));
  const std::string input = file.folder.File("input.pdf");
  fs::resize_file(input, 10);
  // Bytes beyond the new end cannot be read: the reads say why.
  EXPECT_THROW_MSG(file.source.LoadedBytesFrom(0), Error, ChangedMessage(input));
  EXPECT_THROW_MSG(file.source.ByteAt(file.source.Size() - 1), Error, ChangedMessage(input));
  file.source.Overwrite(file.source.Size() - 5, "Vexlo");
  EXPECT_THROW_MSG(file.source.Save(file.folder.File("out.pdf")), Error, ChangedMessage(input));
  EXPECT_TRUE(OtherEntries(file).empty());
}

TEST(WindowedFileAccessPosix, SavesAcrossFileSystems) {
  // The in-kernel copy is refused between some file systems; the bytes are
  // then written from memory. /dev/shm is a memory file system on Linux.
  if (!fs::is_directory("/dev/shm")) GTEST_SKIP() << "no /dev/shm";
  const fs::path input =
      fs::path("/dev/shm") / ("quillane-unit-" + std::to_string(::getpid()) + "-input.pdf");
  std::string bytes(300000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i % 251);
  test::WriteFileBytes(input, bytes);
  test::ScratchDir folder;
  {
    WindowedFileAccess source;
    source.Load(input.string());
    source.Overwrite(1000, "Vexlo");
    source.Append("end");
    source.Save(folder.File("out.pdf"));
  }
  fs::remove(input);
  std::string expected = bytes;
  expected.replace(1000, 5, "Vexlo");
  EXPECT_TRUE(test::BytesEqual(expected + "end", ReadFileBytes(folder.File("out.pdf"))));
}

}  // namespace
}  // namespace quillane
