// Replays the saved findings of the objects fuzz target
// (tests/fuzz_regressions/objects/) through its property checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/objects_checks.h"
#include "support/test_util.h"

namespace quillane::test {
namespace {

namespace fs = std::filesystem;

TEST(ObjectsFuzzRegressions, EverySavedInputPasses) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(fs::path(QUILLANE_SOURCE_DIR) / "tests" /
                                                  "fuzz_regressions" / "objects")) {
    files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  EXPECT_FALSE(files.empty());
  for (const fs::path& file : files) {
    const std::string bytes = ReadFileBytes(file);
    EXPECT_EQ(fuzz::CheckObjects(bytes), "") << file;
    // Every prefix of a saved file is a file cut short.
    for (std::size_t cut = 0; cut < bytes.size(); cut += 97) {
      ASSERT_EQ(fuzz::CheckObjects(std::string_view(bytes).substr(0, cut)), "")
          << file << " cut at " << cut;
    }
  }
}

}  // namespace
}  // namespace quillane::test
