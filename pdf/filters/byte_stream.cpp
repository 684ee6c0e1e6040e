#include "pdf/filters/byte_stream.h"

#include <algorithm>
#include <cstring>

namespace quillane {

ByteSource::~ByteSource() = default;

ByteSink::~ByteSink() = default;

std::size_t MemorySource::Read(char* buffer, std::size_t capacity) {
  const std::size_t count = std::min(capacity, data_.size() - at_);
  if (count > 0) std::memcpy(buffer, data_.data() + at_, count);
  at_ += count;
  return count;
}

}  // namespace quillane
