// Reading the end of the input: the offset after the last "startxref", the
// form of the cross-reference section it names (table or stream), and the
// "Size", "Encrypt", "Root" and "Info" entries of the dictionary that follows
// (ISO 32000-1, 7.5.5 File trailer and 7.5.8 Cross-reference streams). Only
// the last section is read; earlier revisions are never looked at.
#ifndef QUILLANE_PDF_TRAILER_H_
#define QUILLANE_PDF_TRAILER_H_

#include <cstdint>

#include "fileaccess/fileaccess.h"
#include "pdf/scanner.h"

namespace quillane {

struct TrailerValues {
  // The number after the last "startxref".
  Position previousSectionOffset = 0;
  // The last section is a cross-reference stream rather than a table.
  bool lastSectionIsStream = false;
  // "Size" of the last trailer; 0 when it has none.
  std::int32_t trailerSize = 0;
  // "Root" as number, blank, generation, blank, following token ("1 0 R").
  Text rootReference;
  // "Info" in the same form, kept only when it is a reference ("2 0 R");
  // empty otherwise.
  Text infoReference;
  // The dictionary has an "Encrypt" entry; the run refuses the file.
  bool encrypted = false;
};

// Reads the end of `source`, logging "(startxre)f @ ", "xref header: '",
// "reached dict end @ " and, for an encrypted file, "Encrypt obj: " lines.
// Throws "No cross-reference section found at offset <N>; the file may be
// damaged." when the offset names neither a table nor a stream, the integer
// conversion error when a number is missing, and "IndexOutOfBounds" for an
// empty file.
TrailerValues ReadTrailer(const FileAccess& source, const LogHook& log);

}  // namespace quillane

#endif  // QUILLANE_PDF_TRAILER_H_
