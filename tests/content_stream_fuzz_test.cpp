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

TEST(ContentStreamFuzzChecks, CatchRewritesThatLoseBytesOrDoNotRead) {
  const std::string data = "q BI /W 1 /H 1 /CS /G /BPC 8 ID x EI Q";
  const std::vector<InlineImage> images = {{2, 36}};
  const std::string placeholder = PlaceholderInlineImage(7);
  const struct {
    std::string rewritten;
    const char* failure;  // a part of the expected failure; empty: passes
  } cases[] = {
      {"q " + placeholder + " Q", ""},
      {"Q " + placeholder + " Q", "bytes before"},
      {"q " + placeholder + " Q ", "after the last"},
      {"q " + PlaceholderInlineImage(8) + " Q", "no placeholder"},
  };
  for (const auto& c : cases) {
    const std::string failure = fuzz::detail::CheckRewrite(data, images, c.rewritten, 7);
    if (std::string(c.failure).empty()) {
      EXPECT_EQ(failure, "") << c.rewritten;
    } else {
      EXPECT_NE(failure.find(c.failure), std::string::npos) << failure;
    }
  }
  // A rewrite that keeps every byte but does not read as content.
  EXPECT_NE(fuzz::detail::CheckRewrite("q (", {}, "q (", 7).find("does not read"),
            std::string::npos);
  std::size_t count = 0;
  EXPECT_NE(fuzz::detail::CheckRewrittenObject({MakeObjectKey(5, 0),
                                                "5 0 obj\n<<>>\nstream\n"
                                                "x\nendstream\nendobj\n"},
                                               7, count),
            "");
}

}  // namespace
}  // namespace quillane::test
