// Pieces of the file services that both implementations of the seam share:
// an input's bytes held as a copy in memory, and a copy from an input into an
// output through a small buffer. Internal to platform/.
#ifndef QUILLANE_PLATFORM_FILE_COPIES_H_
#define QUILLANE_PLATFORM_FILE_COPIES_H_

#include <cstdint>
#include <memory>
#include <utility>

#include "platform/platform.h"

namespace quillane::platform {

// The file's bytes read whole into memory: nothing done to the file can
// change them, so they never view it and are always readable.
class CopiedBytes final : public MappedBytes {
 public:
  // `data` holds the file's bytes; null for an empty file.
  explicit CopiedBytes(std::unique_ptr<char[]> data) : data_(std::move(data)) {}
  char* Data() override { return data_.get(); }
  bool ViewsFile() const override { return false; }
  void CheckReadable() const override {}

 private:
  std::unique_ptr<char[]> data_;
};

// All of `input`'s bytes in a CopiedBytes, read with ReadExactly.
std::unique_ptr<MappedBytes> CopyIntoMemory(const InputFile& input);

// Appends bytes [offset, offset + count) of `input` to `output` through a
// buffer of at most 1 MiB. Errors as InputFile::ReadExactly and
// OutputFile::Write.
void CopyThroughMemory(const InputFile& input, OutputFile& output, std::int64_t offset,
                       std::int64_t count);

}  // namespace quillane::platform

#endif  // QUILLANE_PLATFORM_FILE_COPIES_H_
