#include "fileaccess/fileaccess.h"

#include <algorithm>

#include "base/error.h"
#include "platform/platform.h"

namespace quillane {

namespace {

// Patched runs closer together than this are written as one piece from
// memory, the unchanged bytes between them included: below this distance one
// write costs less than the extra calls of copying the gap from the file.
// Larger gaps are copied: on Linux a write of hundreds of megabytes from the
// mapping proved several times slower than the in-kernel copy.
constexpr Position kJoinedPatchGap = Position{1} << 16;

[[noreturn]] void ThrowIndexOutOfBounds() { throw Error("IndexOutOfBounds"); }

}  // namespace

FullyBufferedFileAccess::FullyBufferedFileAccess() = default;
FullyBufferedFileAccess::~FullyBufferedFileAccess() = default;

void FullyBufferedFileAccess::Load(const Text& path) {
  auto file = std::make_unique<platform::InputFile>(path);
  // Positions are 32-bit in the cross-reference sections we write, so a file
  // of 2 GiB or more is refused before a byte of it is read.
  if (file->Size() >= kMaxFileSize) {
    throw Error("Cannot open file \"" + platform::ExpandFileName(path) +
                "\". The file is too large (2 GiB or more).");
  }
  content_ = file->Map();
  loaded_ = content_->Data();
  loadedSize_ = file->Size();
  // A copy in memory needs the file no more; it is closed at once, so that on
  // Windows, where it is held without sharing, the output may replace it.
  if (content_->ViewsFile()) input_ = std::move(file);
  patches_.clear();
  appended_.clear();
}

void FullyBufferedFileAccess::Save(const Text& path) {
  // Checked before the output exists, and again after the loaded bytes were
  // copied, so that a file changed meanwhile never yields a mixed output. A
  // copy held in memory cannot change; only a view of the file shows it.
  CheckUnchanged();
  platform::OutputFile output(path);
  if (content_ != nullptr) {
    SaveLoadedBytes(output);
    CheckUnchanged();
  }
  output.Write(appended_.data(), static_cast<std::int64_t>(appended_.size()));
  output.Commit();
}

void FullyBufferedFileAccess::SaveLoadedBytes(platform::OutputFile& output) {
  std::vector<Patch> pieces = patches_;
  std::sort(pieces.begin(), pieces.end(),
            [](const Patch& a, const Patch& b) { return a.Start < b.Start; });
  Position done = 0;
  for (std::size_t i = 0; i < pieces.size();) {
    const Position start = pieces[i].Start;
    Position end = pieces[i].End;
    for (++i; i < pieces.size() && pieces[i].Start - end < kJoinedPatchGap; ++i) {
      end = std::max(end, pieces[i].End);
    }
    CopyUnchanged(output, done, start - done);
    output.Write(loaded_ + start, end - start);
    done = end;
  }
  CopyUnchanged(output, done, loadedSize_ - done);
}

void FullyBufferedFileAccess::CopyUnchanged(platform::OutputFile& output, Position offset,
                                            Position count) {
  if (input_ != nullptr) {
    input_->CopyTo(output, offset, count);
  } else {
    output.Write(loaded_ + offset, count);
  }
}

void FullyBufferedFileAccess::CheckUnchanged() const {
  if (input_ == nullptr) return;
  input_->CheckUnchanged();
  content_->CheckReadable();
}

const char* FullyBufferedFileAccess::ConstByte(Position index) const {
  if (index < loadedSize_) return loaded_ + index;
  return appended_.data() + (index - loadedSize_);
}

char* FullyBufferedFileAccess::MutableByte(Position index) {
  if (index < loadedSize_) return loaded_ + index;
  return appended_.data() + (index - loadedSize_);
}

void FullyBufferedFileAccess::NotePatched(Position index) {
  if (!patches_.empty() && index >= patches_.back().Start && index <= patches_.back().End) {
    patches_.back().End = std::max(patches_.back().End, index + 1);
  } else {
    patches_.push_back({index, index + 1});
  }
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
    result.append(loaded_ + start, static_cast<std::size_t>(stop - start));
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
    if (p < loadedSize_) NotePatched(p);
  }
}

void FullyBufferedFileAccess::Append(const Text& text) { appended_ += text; }

std::string_view FullyBufferedFileAccess::LoadedBytes() const {
  return {loaded_, static_cast<std::size_t>(loadedSize_)};
}

}  // namespace quillane
