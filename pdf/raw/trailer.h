// Reading the end of the input: the offset after the last "startxref", the
// form of the cross-reference section it names (table or stream), and the
// "Size", "Encrypt", "Root" and "Info" entries of the dictionary that follows
// (ISO 32000-1, 7.5.5 File trailer and 7.5.8 Cross-reference streams). Only
// the last section is read; earlier revisions are never looked at.
#ifndef QUILLANE_PDF_RAW_TRAILER_H_
#define QUILLANE_PDF_RAW_TRAILER_H_

#include <cstdint>

#include "base/error.h"
#include "fileaccess/fileaccess.h"
#include "pdf/raw/scanner.h"

namespace quillane {

// The two errors of a file whose last cross-reference section cannot be
// found (no "startxref" offset, or no section at it): the run repairs such a
// file from its objects instead of refusing it.
class CrossReferenceNotFound : public Error {
 public:
  using Error::Error;
};

struct TrailerValues {
  // The number after the last "startxref".
  Position PreviousSectionOffset = 0;
  // The last section is a cross-reference stream rather than a table.
  bool LastSectionIsStream = false;
  // "Size" of the last trailer.
  std::int32_t TrailerSize = 0;
  // "Root" as number, blank, generation, blank, following token ("1 0 R").
  Text RootReference;
  // "Info" in the same form, kept only when it is a reference ("2 0 R");
  // empty otherwise.
  Text InfoReference;
  // The dictionary has an "Encrypt" entry; the run refuses the file.
  bool Encrypted = false;
};

// Reads the end of `source`, logging "(startxre)f @ ", "xref header: '",
// "reached dict end @ " and, for an encrypted file, "Encrypt obj: " lines.
// Throws, in the order of the reading (the lines logged before stay logged):
//  - CrossReferenceNotFound "No startxref offset found at the end of the
//    file; it is not a PDF file or it is damaged." when no number follows the
//    last "f" of the file (no digit, or more than fit 32 bits), and for an
//    empty file;
//  - CrossReferenceNotFound "No cross-reference section found at offset <N>;
//    the file may be damaged." when the offset names neither a table nor a
//    stream;
//  - "The trailer has no /Size entry; the file may be damaged." when the
//    dictionary has no "Size" key (before the encryption test);
//  - "The trailer has no /Root reference; the file may be damaged." when it
//    has no "Root" key, or the value after it does not end with the token "R"
//    (after the encryption test);
//  - the integer conversion error when another number is missing.
TrailerValues ReadTrailer(const FileAccess& source, const LogHook& log);

}  // namespace quillane

#endif  // QUILLANE_PDF_RAW_TRAILER_H_
