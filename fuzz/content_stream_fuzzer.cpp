// Fuzz target: the content-stream reading and the inline-image rewrite over
// arbitrary bytes, and the walk over stream objects with the same bytes as a
// file. Stops on the first property that does not hold (see
// content_stream_checks.h).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "fuzz/content_stream_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string failure = quillane::fuzz::CheckContentStream(input);
  if (!failure.empty()) {
    std::fprintf(stderr, "property failed: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
