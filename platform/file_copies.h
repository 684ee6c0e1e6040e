// The piece of the file services that both implementations of the seam share:
// a copy from an input into an output through a small buffer. Internal to
// platform/.
#ifndef QUILLANE_PLATFORM_FILE_COPIES_H_
#define QUILLANE_PLATFORM_FILE_COPIES_H_

#include <cstdint>

#include "platform/platform.h"

namespace quillane::platform {

// Appends bytes [offset, offset + count) of `input` to `output` through a
// buffer of at most 1 MiB. Errors as InputFile::ReadExactly and
// OutputFile::Write.
void CopyThroughMemory(const InputFile& input, OutputFile& output, std::int64_t offset,
                       std::int64_t count);

}  // namespace quillane::platform

#endif  // QUILLANE_PLATFORM_FILE_COPIES_H_
