// The objects inside one object stream (ISO 32000-1, 7.5.7), from its decoded
// data: /N pairs of object number and offset, the offsets counting from
// /First, then the objects themselves, each a direct object without header or
// "endobj". /Extends only groups object streams and names nothing that a
// reader needs: the cross-reference entry of each object names its stream and
// index, so /Extends is never followed.
#ifndef QUILLANE_PDF_OBJECTS_OBJECT_STREAM_H_
#define QUILLANE_PDF_OBJECTS_OBJECT_STREAM_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "base/text.h"
#include "pdf/objects/object_reader.h"
#include "pdf/syntax/lexer.h"

namespace quillane {

struct ObjectStreamReading;

// An object read from an object stream.
struct StreamedObject {
  // Its positions count from its first byte, which lies at ValueStart in
  // the stream's decoded data.
  PdfObject Value;
  std::size_t ValueStart = 0;
};

class ObjectStream {
 public:
  // Reads the pairs at the start of `data`, the stream's decoded data, as
  // its `dictionary` (the stream's) declares them. Reads as many pairs as
  // are there, up to /N (a larger /N allocates nothing); a pair that is no
  // two non-negative integers ends the list. Nothing when /N or /First is
  // missing or no non-negative integer, or /First lies beyond the data.
  // REQUIRES: dictionary.Kind == kDictionary.
  static ObjectStreamReading Parse(Text data, const PdfObject& dictionary);

  // The number of pairs read.
  std::size_t Count() const { return numbers_.size(); }
  std::int64_t NumberAt(std::size_t index) const { return numbers_[index]; }

  // The index of object `number`: `hint` (the index its cross-reference
  // entry names) when the pair there names it, else the first pair that
  // does (the first pair of a number wins); nothing when none does.
  std::optional<std::size_t> IndexOf(std::int64_t number, std::int64_t hint) const;

  // The object at `index`: read from its offset up to the next larger
  // offset of the stream (or the end of the data), so that each byte of the
  // data is read for one object only.
  // Nothing when the bytes there are no object.
  // REQUIRES: index < Count().
  // With `filter`, a dictionary keeps only the entries it names
  // (object_reader.h).
  std::optional<StreamedObject> ReadAt(std::size_t index,
                                       const EntryFilter* filter = nullptr) const;

  const Text& Data() const { return data_; }

 private:
  ObjectStream() = default;

  Text data_;
  std::vector<std::int64_t> numbers_;
  // Where each object's bytes start and end in data_.
  std::vector<std::uint32_t> starts_;
  std::vector<std::uint32_t> ends_;
  // (number, index) sorted by number, made at the first lookup whose hint
  // did not name the object.
  mutable std::vector<std::pair<std::int64_t, std::uint32_t>> byNumber_;
};

struct ObjectStreamReading {
  std::optional<ObjectStream> Stream;
  // Why there is none: "/N missing", "/First outside the data", ...
  Text Reason;
};

}  // namespace quillane

#endif  // QUILLANE_PDF_OBJECTS_OBJECT_STREAM_H_
