// POSIX processes against real child processes.
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

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
