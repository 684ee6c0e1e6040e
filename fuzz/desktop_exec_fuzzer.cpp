// Fuzz target: a desktop entry's Exec value translated to a reader command.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "fuzz/fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view exec(reinterpret_cast<const char*>(data), size);
  const std::string failure = quillane::fuzz::CheckDesktopExecTranslation(exec);
  if (!failure.empty()) {
    std::fprintf(stderr, "property failed: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
