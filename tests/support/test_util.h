// Helpers shared by the test files: exact-message exception checks, scratch
// folders that survive a failing test for inspection, whole-file reads and
// writes, child processes with captured output, environment variables set for
// one test, and a byte-diff printer that shows where two byte strings part ways.
#ifndef QUILLANE_TESTS_SUPPORT_TEST_UTIL_H_
#define QUILLANE_TESTS_SUPPORT_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quillane::test {

// Checks that `statement` throws `exception_type` whose what() equals
// `expected_message` exactly. Any other exception, or none, is a failure
// (non-fatal, like EXPECT_THROW).
#define EXPECT_THROW_MSG(statement, exception_type, expected_message)                    \
  do {                                                                                   \
    bool quillane_thrown = false;                                                        \
    try {                                                                                \
      statement;                                                                         \
    } catch (const exception_type& quillane_error) {                                     \
      quillane_thrown = true;                                                            \
      EXPECT_EQ(std::string(expected_message), std::string(quillane_error.what()))       \
          << "message of " #exception_type " thrown by: " #statement;                    \
    } catch (...) {                                                                      \
      quillane_thrown = true;                                                            \
      ADD_FAILURE() << #statement " threw something other than " #exception_type;        \
    }                                                                                    \
    if (!quillane_thrown) ADD_FAILURE() << #statement " did not throw " #exception_type; \
  } while (false)

// A fresh folder under std::filesystem::temp_directory_path(), named after the
// running test. The destructor removes it when the current test has not
// failed; otherwise it keeps the folder and prints its path so the files can
// be inspected.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // Path() / name, as a string.
  std::string File(const std::string& name) const;
  // Writes `bytes` to the file `name` inside the folder; returns its path.
  std::string Write(const std::string& name, const std::string& bytes) const;

 private:
  std::filesystem::path path_;
};

// Sets environment variables of this process for one test; the destructor
// gives every variable it touched its old value back (or unsets it again).
// POSIX only: the definitions are not built for Windows.
class ScopedEnvironment {
 public:
  ScopedEnvironment() = default;
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  void Set(const std::string& name, const std::string& value);
  // `value` null unsets the variable.
  void Set(const std::string& name, const char* value);

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

// The whole content of a file. Throws std::runtime_error when it cannot be read.
std::string ReadFileBytes(const std::filesystem::path& path);

// Replaces the file's content with `bytes`. Throws std::runtime_error on failure.
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);

struct ProcessResult {
  // The exit code when the child exited; -1 when it ended by a signal.
  int exit_status = -1;
  // The signal that ended the child, 0 when it exited.
  int signal = 0;
  std::string out;
  std::string err;
};

struct ProcessOptions {
  // Variables added to (or, with std::nullopt, removed from) the inherited
  // environment.
  std::map<std::string, std::optional<std::string>> env;
  // Working folder of the child; empty keeps the current one.
  std::filesystem::path cwd;
};

// Runs argv[0] (a path, not searched in PATH unless it has no "/") with the
// given arguments, waits for it, and returns its status and whole output.
// Standard input is /dev/null. Throws std::runtime_error when the child cannot
// be started at all.
ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

// One system call of a trace, taken apart: its name and its arguments as
// strace lists them, split at the commas between them (none inside a string,
// a structure or an array), each with its blanks trimmed.
struct TracedCall {
  std::string name;
  std::vector<std::string> arguments;
  // Argument `i` read as a string: the bytes between its double quotes with
  // strace's escapes undone (\n, \t, \", \\, \xNN, octal); nothing when
  // it is no string.
  std::optional<std::string> String(std::size_t i) const;
  // Argument `i` read as flags: the names joined by "|" ("O_RDONLY|O_CLOEXEC").
  std::vector<std::string> Flags(std::size_t i) const;
};

// Takes one line of strace's output apart; nothing for a line that is no
// call (a signal, an exit, an unfinished call).
std::optional<TracedCall> ParseTracedCall(const std::string& line);

// The system calls named by `calls` (a strace "-e trace=" list) that one run
// of `argv` made, taken apart, for tests that show what the program asks of
// the kernel. Child processes are not followed; the trace goes through the
// file `traceFile`. Nothing when strace is missing (see ProgramAvailable) or
// may not trace here; the caller then skips.
struct TracedRun {
  ProcessResult result;
  std::vector<TracedCall> calls;
};
std::optional<TracedRun> RunTraced(const std::vector<std::string>& argv, const std::string& calls,
                                   const std::filesystem::path& traceFile,
                                   ProcessOptions options = {});

// The arguments the reader stand-in (tests/tools) wrote to its record file,
// each ended by a NUL byte, once the file exists; {"<reader not started>"} when it has not
// appeared within `patience`.
std::vector<std::string> RecordedReaderArguments(const std::filesystem::path& record,
                                                 std::chrono::milliseconds patience);

// A registry file (regedit export format) holding only the configuration
// value "ReplaceObject" = `value` under the program's key.
std::string RegistryWithReplaceObject(const std::string& value);

// The number of names "Image" in `input` that read "Vexlo" in `output` (what
// the light mode does), or -1 when the two differ in any other way.
int CountRenamedImageNames(const std::string& input, const std::string& output);

// True when `program` is found in PATH. A checker that is missing lets the
// check be skipped on a developer's machine; under CI=true (as .ci/run sets
// it) a missing checker is a test failure instead, so that CI never passes
// a check it did not make.
bool ProgramAvailable(const std::string& program);

// Bytes shown readably: printable ASCII as is, "\r" "\n" "\t" "\\" escaped,
// every other byte as \xHH.
std::string EscapeBytes(const std::string& bytes);

// Empty when equal; otherwise the sizes, the first differing offset and up to
// `context` bytes either side of it in both strings, escaped.
std::string DescribeFirstDifference(const std::string& expected, const std::string& actual,
                                    std::size_t context = 48);

// An assertion for EXPECT_TRUE / ASSERT_TRUE that prints
// DescribeFirstDifference on failure.
::testing::AssertionResult BytesEqual(const std::string& expected, const std::string& actual);

}  // namespace quillane::test

#endif  // QUILLANE_TESTS_SUPPORT_TEST_UTIL_H_
