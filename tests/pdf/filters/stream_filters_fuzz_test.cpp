// Replays the saved findings of the stream-filters fuzz target
// (tests/fuzz_regressions/stream_filters/) through its property checks, and
// shows that the checks catch the faults they are there for.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/stream_filters_checks.h"
#include "support/test_util.h"

namespace quillane::test {
namespace {

namespace fs = std::filesystem;

TEST(StreamFiltersFuzzRegressions, EverySavedInputPasses) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(fs::path(QUILLANE_SOURCE_DIR) / "tests" /
                                                  "fuzz_regressions" / "stream_filters")) {
    files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  EXPECT_FALSE(files.empty());
  for (const fs::path& file : files) {
    EXPECT_EQ(fuzz::CheckStreamFilters(ReadFileBytes(file)), "") << file;
  }
}

// The input's first bytes choose the chain as the target's seeds assume.
TEST(StreamFiltersFuzzChecks, ReadTheChainFromTheFirstBytes) {
  const std::string bytes(
      "\x02\x0A\x01\x34\x2B\x00"
      "data",
      10);
  const fuzz::detail::FilterInput input = fuzz::detail::ReadFilterInput(bytes);
  EXPECT_EQ(input.dictionary,
            "<</Filter[/LZWDecode/ASCIIHexDecode]/DecodeParms["
            "<</Predictor 1/EarlyChange 0/Colors 1/BitsPerComponent 8/Columns 3>>"
            "<</Predictor 1/EarlyChange 1/Colors 1/BitsPerComponent 1/Columns 1>>]>>");
  EXPECT_EQ(input.piece, 7u);
  EXPECT_EQ(input.sourceMode, 1);
  EXPECT_EQ(input.data, "data");
}

}  // namespace
}  // namespace quillane::test
