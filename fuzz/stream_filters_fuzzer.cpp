// Fuzz target: the stream filters over arbitrary data and a chain chosen by
// the input's first bytes, decoded whole and as a stream in the input's
// pieces. Stops on the first property that does not hold (see
// stream_filters_checks.h).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "fuzz/stream_filters_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string failure = quillane::fuzz::CheckStreamFilters(input);
  if (!failure.empty()) {
    std::fprintf(stderr, "property failed: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
