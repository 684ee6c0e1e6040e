// The bytes an update appends to the file, gathered whole before any is
// appended, so that an update refused on the way (a table that cannot hold
// its offsets) leaves the file as it was. They are gathered in spills of the
// file access (FileAccess::NewSpill), between the spills of large rewritten
// streams, so that an update of a million placeholders is held in a
// temporary file, not in memory, and is handed over without a copy. End()
// is where the next byte will stand in the output.
#ifndef QUILLANE_PDF_UPDATE_APPENDED_BYTES_H_
#define QUILLANE_PDF_UPDATE_APPENDED_BYTES_H_

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "fileaccess/fileaccess.h"
#include "pdf/update/update_writer.h"

namespace quillane {

class AppendedBytes {
 public:
  // `target`: the file the bytes will be appended to, which makes the
  // spills; `target` must outlive the object.
  explicit AppendedBytes(const FileAccess& target) : target_(target), end_(target.Size()) {}

  Position End() const { return end_; }

  void Add(std::string_view text) {
    buffer_.append(text);
    end_ += static_cast<Position>(text.size());
    if (buffer_.size() >= kBufferBytes) Flush();
  }

  // The object's text, with its spilled data and the text after it.
  void Add(const RewrittenObject& object) {
    Add(object.Bytes);
    if (object.Data == nullptr) return;
    EndSpill();
    end_ += object.Data->Size();
    pieces_.push_back(object.Data);
    Add(object.After);
  }

  // Appends everything to `target`, in order.
  // REQUIRES: `target` is the file given at construction.
  void AppendTo(FileAccess& target) {
    EndSpill();
    for (std::shared_ptr<Spill>& piece : pieces_) {
      if (piece->Size() > 0) target.AppendSpill(std::move(piece));
    }
    pieces_.clear();
  }

 private:
  // Texts are written into the spill in pieces of this size: a spill in a
  // temporary file then takes one write per piece, not one per object.
  static constexpr std::size_t kBufferBytes = std::size_t{256} << 10;

  void Flush() {
    if (buffer_.empty()) return;
    if (current_ == nullptr) current_ = target_.NewSpill();
    current_->Write(buffer_);
    buffer_.clear();
  }
  void EndSpill() {
    Flush();
    if (current_ != nullptr) pieces_.push_back(std::move(current_));
  }

  const FileAccess& target_;
  Text buffer_;
  std::unique_ptr<Spill> current_;
  std::vector<std::shared_ptr<Spill>> pieces_;
  Position end_;
};

}  // namespace quillane

#endif  // QUILLANE_PDF_UPDATE_APPENDED_BYTES_H_
