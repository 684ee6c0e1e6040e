// Fuzz target: the TrueType reader and subsetter over arbitrary bytes, read
// both as a font found in a document and as the text font. Stops on the first
// property that does not hold (see truetype_checks.h).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "fuzz/truetype_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string failure = quillane::fuzz::CheckTrueTypeFont(input);
  if (!failure.empty()) {
    std::fprintf(stderr, "property failed: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
