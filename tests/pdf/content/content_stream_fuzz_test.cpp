// Replays the saved findings of the content-stream fuzz target
// (tests/fuzz_regressions/content_stream/) through its property checks, and
// shows that the checks catch the faults they are there for.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/content_stream_checks.h"
#include "support/test_util.h"

namespace quillane::test {
namespace {

namespace fs = std::filesystem;

TEST(ContentStreamFuzzRegressions, EverySavedInputPasses) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(fs::path(QUILLANE_SOURCE_DIR) / "tests" /
                                                  "fuzz_regressions" / "content_stream")) {
    files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  EXPECT_FALSE(files.empty());
  for (const fs::path& file : files) {
    EXPECT_EQ(fuzz::CheckContentStream(ReadFileBytes(file)), "") << file;
  }
}

// The checks fail where they must: a check that never fails proves nothing.
TEST(ContentStreamFuzzChecks, CatchRewritesThatLoseBytesOrDoNotRead) {
  const std::string data = "q BI /W 1 /H 1 /CS /G /BPC 8 ID x EI Q";
  const std::string placeholder = PlaceholderInlineImage(7);
  const auto check = [&data](const std::string& rewritten) {
    return fuzz::detail::CheckRewrite(data, {{2, 36}}, rewritten, 7);
  };
  EXPECT_EQ(check("q " + placeholder + " Q"), "");
  EXPECT_NE(check("Q " + placeholder + " Q"), "");
  EXPECT_NE(check("q " + placeholder + " Q "), "");
  EXPECT_NE(check("q " + PlaceholderInlineImage(8) + " Q"), "");
  EXPECT_NE(fuzz::detail::CheckRewrite("q (", {}, "q (", 7), "");  // keeps bytes, does not read
  std::size_t count = 0;
  EXPECT_NE(
      fuzz::detail::CheckRewrittenObject(
          {MakeObjectKey(5, 0), "5 0 obj\n<<>>\nstream\nx\nendstream\nendobj\n", {}, {}}, 7, count),
      "");
}

}  // namespace
}  // namespace quillane::test
