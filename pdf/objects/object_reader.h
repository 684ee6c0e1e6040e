// Reading one indirect object out of the file (ISO 32000-1, 7.3.10 and
// 7.3.8): the file's bytes in pieces, the header "N G obj" at a position, the
// direct object after it through the program's one lexer (pdf/syntax), the
// keyword that ends it ("endobj", or "stream" and where the data begins), and
// where a stream's data ends. The cross-reference reader, the reconstruction
// and the document's resolver all read objects here, so they agree on what an
// object is.
#ifndef QUILLANE_PDF_OBJECTS_OBJECT_READER_H_
#define QUILLANE_PDF_OBJECTS_OBJECT_READER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>

#include "base/text.h"
#include "fileaccess/fileaccess.h"
#include "pdf/syntax/lexer.h"

namespace quillane {

// The file's bytes through FileAccess::Substring, one piece at a time: the
// piece last read is held, so that bytes read again right after (the end of
// an object after its start, the next object in the same 4 KiB) cost no read.
// Only what is asked for is read; nothing is loaded whole. Counts what it
// read, for the callers' bounds on their work.
class FilePieces {
 public:
  // `source` must outlive the object; its Size() at construction is the
  // end of the data read.
  explicit FilePieces(const FileAccess& source);

  Position Size() const { return size_; }

  // The bytes [from, to), cut at Size(); empty from Size() on. The view
  // lasts until the next call of View or Find.
  // REQUIRES: 0 <= from <= to.
  std::string_view View(Position from, Position to);

  // Where `pattern` first starts at or after `from` and before `to` (the
  // pattern may run past `to`); -1 when it does not. Reads growing pieces,
  // each byte about once.
  // REQUIRES: 0 <= from, pattern not empty.
  Position Find(std::string_view pattern, Position from, Position to);

  // The bytes handed out by Substring so far.
  Position BytesRead() const { return bytesRead_; }

 private:
  const FileAccess& source_;
  Position size_;
  Text piece_;
  Position start_ = 0;
  Position bytesRead_ = 0;
};

// Which entries of a dictionary a reading builds: the others are passed
// over token by token, checked as strictly as ReadObject checks them but
// without building anything, so that a walk that needs three entries of a
// page does not build its /MediaBox. A value that is no dictionary is read
// whole.
struct EntryFilter {
  struct Entry {
    std::string_view Key;
    // The filter for the entry's value when it is a dictionary; null: the
    // value is read whole.
    const EntryFilter* Nested = nullptr;
    // The value, when it is an array, is checked as ReadObject checks it
    // but not built: an array without elements, its positions kept, whose
    // references the caller reads from its bytes (EachArrayReference). A
    // page tree's /Kids of a million pages would take 150 bytes a page
    // built.
    bool Unbuilt = false;
  };
  std::span<const Entry> Entries;
};

// ReadObject (pdf/syntax/lexer.h) with references, a dictionary keeping only
// the entries `filter` names (all of them when `filter` is null). Nothing
// where ReadObject gives nothing, except that the nesting of a value read
// whole counts from that value: ReadObject's bound of 64 levels holds for
// it, and for the dictionaries around it, not for both together.
std::optional<PdfObject> ReadFilteredObject(Lexer& lexer, const EntryFilter* filter);

// Calls `visit` with the number and generation of each reference in
// `array`, the bytes of an array from its "[" to its "]", in order: "N G R"
// is a reference exactly where ReadObject reads one, when the two tokens
// before "R" are non-negative integers not taken by an earlier "R". Nothing
// is visited for bytes that are no array as ReadObject reads it.
void EachArrayReference(std::string_view array,
                        const std::function<void(std::int64_t, std::int64_t)>& visit);

// An indirect object as read from the file.
struct ParsedObject {
  std::int64_t Number = 0;
  std::int64_t Generation = 0;
  // The direct object after "obj" (a stream's dictionary). Its positions
  // count from its own first byte (Value.Start is 0), which lies at
  // ValueStart in the file.
  PdfObject Value;
  Position HeaderStart = 0;  // the first digit of "N G obj"
  Position ValueStart = 0;
  Position ValueEnd = 0;  // one past the direct object
  bool IsStream = false;
  // A stream: its first data byte, after "stream" and its end of line.
  Position DataStart = 0;
  // Not a stream: one past "endobj", or ValueEnd when "endobj" does not
  // follow (a writer that left it out). A stream: DataStart, its end being
  // known only through FindStreamExtent.
  Position End = 0;
};

struct ObjectReading {
  std::optional<ParsedObject> Object;
  // Why there is none: "no object header at offset <p>", "object at offset
  // <p> unreadable", "object at offset <p> larger than <n> bytes".
  Text Reason;
};

// Reads the object whose header starts at `at` (white space and comments
// before it are passed over): "N G obj" with non-negative integers, one
// direct object read with references, then "endobj" or "stream". The first
// piece read is 1 KiB; it grows four times over while the object runs on,
// up to `maxEnd` (and the end of the data): an object that needs bytes
// beyond `maxEnd` is read from what lies before it, so "endobj" may be found
// missing, and the direct object may not read at all.
// After "stream" the data begins behind CR LF, LF or a lone CR; blanks
// before the line end are passed over, and without a line end the data
// begins right after the keyword.
// With `filter`, the direct object is read by ReadFilteredObject.
ObjectReading ReadObjectAt(FilePieces& pieces, Position at, Position maxEnd,
                           const EntryFilter* filter = nullptr);

// One direct object read at a position.
struct ValueReading {
  // Positions count from its first byte, which lies at ValueStart.
  PdfObject Value;
  Position ValueStart = 0;
  Position ValueEnd = 0;
};

// Reads one direct object (with references) at `at`, white space and
// comments before it passed over, in pieces that grow as for ReadObjectAt up
// to `maxEnd`. Nothing when the bytes there are no object.
std::optional<ValueReading> ReadValueAt(FilePieces& pieces, Position at, Position maxEnd);

// Where a stream's data lies and the object ends.
struct StreamExtent {
  Position DataStart = 0;
  Position DataEnd = 0;  // one past the last data byte
  // One past "endobj" after "endstream", or one past "endstream" when
  // "endobj" does not follow it.
  Position ObjectEnd = 0;
  // The data is as long as /Length says: "endstream" follows it, after white
  // space only. False: /Length was missing, not an integer or did not fit,
  // and the data ends at the first "endstream" after its start (the end of
  // line before that keyword is not part of the data).
  bool LengthFits = false;
};

// The extent of the data that starts at `dataStart`, given the stream's
// /Length when it is known (an integer); "endstream" is searched before
// `searchEnd` only. Nothing when no "endstream" is found.
std::optional<StreamExtent> FindStreamExtent(FilePieces& pieces, Position dataStart,
                                             std::optional<std::int64_t> length,
                                             Position searchEnd);

// Subtracts `by` from every position in `object` and what it holds.
// REQUIRES: every position in `object` is at least `by`.
void ShiftPositions(PdfObject& object, std::size_t by);

// `value` as a non-negative integer that fits 64 bits, for the position,
// count and number entries of the file's structure.
std::optional<std::int64_t> NonNegativeInteger(const PdfObject* value);

}  // namespace quillane

#endif  // QUILLANE_PDF_OBJECTS_OBJECT_READER_H_
