// Fuzz target: a file read by the object layer, its cross-reference chain
// and its reconstruction, resolved and walked. Stops on the first property
// that does not hold (see objects_checks.h).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "fuzz/objects_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string failure = quillane::fuzz::CheckObjects(input);
  if (!failure.empty()) {
    std::fprintf(stderr, "property failed: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
