// A complete cross-reference section (ISO 32000-1, 7.5.4 and 7.5.8): every
// object of the file listed, no /Prev, for an update that repairs a damaged
// cross-reference and for a compact file written anew. It is a table with
// its trailer, or a cross-reference stream, which can also list objects
// inside object streams (a table cannot).
#ifndef QUILLANE_PDF_UPDATE_XREF_SECTION_H_
#define QUILLANE_PDF_UPDATE_XREF_SECTION_H_

#include <cstdint>
#include <vector>

#include "base/text.h"
#include "fileaccess/fileaccess.h"

namespace quillane {

// Where one object of the file lies.
struct XrefRow {
  std::int64_t Number = 0;
  std::int64_t Generation = 0;
  // In the file at Offset; or inside the object stream Stream, at Index.
  bool InObjectStream = false;
  Position Offset = 0;
  std::int64_t Stream = 0;
  std::int64_t Index = 0;
};

// The trailer entries besides /Size, as written after their keys ("1 0 R",
// "[<...><...>]"); an empty text leaves the entry out.
struct TrailerEntries {
  Text Root;
  Text Info;
  Text Id;
};

// "xref", one subsection for each run of consecutive numbers (object 0, the
// head of the free list, first), "trailer", the dictionary with /Size one
// past the highest number, "startxref", `position`, "%%EOF". Every line ends
// with CR LF. Throws "The output would be too large for a cross-reference
// table (10 GB or more)." for an offset of more than 10 digits.
// REQUIRES: `rows` sorted by number, numbers distinct and above 0, none in
// an object stream; `position` is where "xref" will stand.
Text CompleteTable(const std::vector<XrefRow>& rows, const TrailerEntries& trailer,
                   Position position);

// The cross-reference stream object `number` 0 at `position`, listing
// `rows`, object 0 (free) and itself, and "startxref", `position`, "%%EOF":
// /Type/XRef, /Size one past the highest number, /Index of the runs, /W
// [1 n m] with n and m the bytes the largest offset and the largest
// generation or index need, the rows compressed with Flate.
// REQUIRES: `rows` sorted by number, numbers distinct, above 0 and below
// `number`.
Text CompleteStream(const std::vector<XrefRow>& rows, const TrailerEntries& trailer,
                    std::int64_t number, Position position);

}  // namespace quillane

#endif  // QUILLANE_PDF_UPDATE_XREF_SECTION_H_
