// Test helpers for the file-access tests: a real file in a fresh temporary
// folder, loaded into a FullyBufferedFileAccess.
#ifndef QUILLANE_TESTS_SUPPORT_LOADED_FILE_H_
#define QUILLANE_TESTS_SUPPORT_LOADED_FILE_H_

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "fileaccess/fileaccess.h"

namespace quillane::test {

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

// `bytes` written to "input.pdf" in a folder of its own and loaded.
class LoadedFile {
 public:
  explicit LoadedFile(const std::string& bytes) { source.Load(folder.Write("input.pdf", bytes)); }

  TempFolder folder;
  FullyBufferedFileAccess source;
};

}  // namespace quillane::test

#endif  // QUILLANE_TESTS_SUPPORT_LOADED_FILE_H_
