// The bytes an update appends to the file, gathered whole before any is
// appended, so that an update refused on the way (a table that cannot hold
// its offsets) leaves the file as it was: texts, and the spills of large
// streams between them (FileAccess::NewSpill). End() is where the next byte
// will stand in the output.
#ifndef QUILLANE_PDF_UPDATE_APPENDED_BYTES_H_
#define QUILLANE_PDF_UPDATE_APPENDED_BYTES_H_

#include <memory>
#include <vector>

#include "base/text.h"
#include "fileaccess/fileaccess.h"
#include "pdf/update/update_writer.h"

namespace quillane {

class AppendedBytes {
 public:
  // `start`: the size of the file the bytes will follow.
  explicit AppendedBytes(Position start) : end_(start) {}

  Position End() const { return end_; }

  void Add(const Text& text) {
    pieces_.back().Bytes += text;
    end_ += static_cast<Position>(text.size());
  }

  // The object's text, with its spilled data and the text after it.
  void Add(const RewrittenObject& object) {
    Add(object.Bytes);
    if (object.Data == nullptr) return;
    pieces_.push_back({{}, object.Data});
    end_ += object.Data->Size();
    pieces_.emplace_back();
    Add(object.After);
  }

  // Appends everything to `target`, in order.
  void AppendTo(FileAccess& target) {
    for (Piece& piece : pieces_) {
      if (piece.Data != nullptr) {
        target.AppendSpill(std::move(piece.Data));
      } else if (!piece.Bytes.empty()) {
        target.Append(piece.Bytes);
      }
    }
    pieces_.assign(1, Piece{});
  }

 private:
  struct Piece {
    Text Bytes;
    std::shared_ptr<Spill> Data;
  };
  std::vector<Piece> pieces_{1};
  Position end_;
};

}  // namespace quillane

#endif  // QUILLANE_PDF_UPDATE_APPENDED_BYTES_H_
