// Test helpers for the byte-level modules: a real file in a fresh temporary
// folder, loaded into a FullyBufferedFileAccess, with the diagnostic lines of
// the code under test collected for comparison.
#ifndef QUILLANE_TESTS_SUPPORT_LOADED_FILE_H_
#define QUILLANE_TESTS_SUPPORT_LOADED_FILE_H_

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "fileaccess/fileaccess.h"
#include "pdf/scanner.h"

namespace quillane::testing {

// A folder of its own under the system's temporary directory, removed at the
// end of the test.
class TempFolder {
 public:
  TempFolder() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("quillane-unit-" + std::to_string(std::random_device{}()) + "-" +
             std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // Path of `name` inside the folder, as the program's text type.
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  std::string Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path_ / name, std::ios::binary) << bytes;
    return File(name);
  }

 private:
  std::filesystem::path path_;
};

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// `bytes` written to a file and loaded, plus a log hook that records lines.
class LoadedFile {
 public:
  explicit LoadedFile(const std::string& bytes) {
    source.Load(folder.Write("input.pdf", bytes));
    log = [this](const Text& line) { lines.push_back(line); };
  }

  // The recorded lines joined by " | ", for compact assertions.
  std::string Lines() const {
    std::string joined;
    for (const auto& line : lines) joined += (joined.empty() ? "" : " | ") + line;
    return joined;
  }

  TempFolder folder;
  FullyBufferedFileAccess source;
  std::vector<Text> lines;
  LogHook log;
};

}  // namespace quillane::testing

#define EXPECT_THROW_MESSAGE(statement, type, message)                          \
  do {                                                                          \
    try {                                                                       \
      statement;                                                                \
      ADD_FAILURE() << "no exception from " #statement;                         \
    } catch (const type& error) {                                               \
      EXPECT_EQ(std::string(error.what()), std::string(message)) << #statement; \
    } catch (...) {                                                             \
      ADD_FAILURE() << "unexpected exception type from " #statement;            \
    }                                                                           \
  } while (false)

#endif  // QUILLANE_TESTS_SUPPORT_LOADED_FILE_H_
