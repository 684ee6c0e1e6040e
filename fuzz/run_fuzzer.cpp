// Fuzz target: the whole run over arbitrary bytes, in memory, in each of the
// three modes, with the real templates. Stops on the first property that
// does not hold (see fuzz_checks.h).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "fuzz/fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string failure = quillane::fuzz::CheckRunAllModes(input, QUILLANE_TEMPLATE_DIR);
  if (!failure.empty()) {
    std::fprintf(stderr, "property failed: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
