#include "fileaccess/fileaccess.h"

#include <algorithm>
#include <cstring>

#include "app/platform.h"
#include "fstring/error.h"

namespace quillane {

namespace {

[[noreturn]] void ThrowIndexOutOfBounds() { throw Error("IndexOutOfBounds"); }

}  // namespace

FullyBufferedFileAccess::FullyBufferedFileAccess() = default;
FullyBufferedFileAccess::~FullyBufferedFileAccess() = default;

void FullyBufferedFileAccess::Load(const Text& path) {
  platform::InputFile file(path);
  const std::int64_t size = file.Size();
  // Positions are 32-bit in the cross-reference sections we write, so a file
  // of 2 GiB or more is refused before a byte of it is read.
  if (size >= kMaxFileSize) {
    throw Error("Cannot open file \"" + platform::ExpandFileName(path) +
                "\". The file is too large (2 GiB or more).");
  }
  // new char[] leaves the buffer uninitialised: zero-filling it first would
  // touch every page twice.
  auto buffer = std::unique_ptr<char[]>(new char[static_cast<std::size_t>(std::max<std::int64_t>(size, 1))]);
  file.ReadExactly(0, buffer.get(), size);
  loaded_ = std::move(buffer);
  loadedSize_ = size;
  appended_.clear();
}

void FullyBufferedFileAccess::Save(const Text& path) {
  platform::OutputFile output(path);
  output.Write(loaded_.get(), loadedSize_);
  output.Write(appended_.data(), static_cast<std::int64_t>(appended_.size()));
  output.Commit();
}

const char* FullyBufferedFileAccess::ConstByte(Position index) const {
  if (index < loadedSize_) return loaded_.get() + index;
  return appended_.data() + (index - loadedSize_);
}

char* FullyBufferedFileAccess::MutableByte(Position index) {
  if (index < loadedSize_) return loaded_.get() + index;
  return appended_.data() + (index - loadedSize_);
}

std::uint8_t FullyBufferedFileAccess::ByteAt(Position index) const {
  if (index < 0 || index >= Size()) ThrowIndexOutOfBounds();
  return static_cast<std::uint8_t>(*ConstByte(index));
}

std::uint8_t FullyBufferedFileAccess::RawByteAt(Position index) const {
  return static_cast<std::uint8_t>(*ConstByte(index));
}

Text FullyBufferedFileAccess::Substring(Position start, Position end) const {
  Text result;
  result.reserve(static_cast<std::size_t>(end - start));
  // The range may straddle the end of the loaded bytes.
  if (start < loadedSize_) {
    const Position stop = std::min(end, loadedSize_);
    result.append(loaded_.get() + start, static_cast<std::size_t>(stop - start));
    start = stop;
  }
  if (start < end) {
    result.append(appended_, static_cast<std::size_t>(start - loadedSize_),
                  static_cast<std::size_t>(end - start));
  }
  return result;
}

Position FullyBufferedFileAccess::Size() const {
  return loadedSize_ + static_cast<Position>(appended_.size());
}

void FullyBufferedFileAccess::Overwrite(Position index, const Text& text) {
  for (std::size_t k = 0; k < text.size(); ++k) {
    const Position p = index + static_cast<Position>(k);
    if (p < 0 || p >= Size()) ThrowIndexOutOfBounds();
    *MutableByte(p) = text[k];
  }
}

void FullyBufferedFileAccess::Append(const Text& text) { appended_ += text; }

std::string_view FullyBufferedFileAccess::LoadedBytes() const {
  return {loaded_.get(), static_cast<std::size_t>(loadedSize_)};
}

}  // namespace quillane
