// The incremental update of a damaged file, one whose last cross-reference
// section cannot be found: the same replacement objects as any update, then
// a complete cross-reference section (xref_section.h) that lists every
// object the file was found to hold with the replacements in place of their
// old versions, and no /Prev. A reader that follows the new "startxref"
// finds every object without repairing the file.
#ifndef QUILLANE_PDF_UPDATE_REPAIRING_UPDATE_H_
#define QUILLANE_PDF_UPDATE_REPAIRING_UPDATE_H_

#include <cstdint>
#include <vector>

#include "fileaccess/fileaccess.h"
#include "pdf/update/templates.h"
#include "pdf/update/update_writer.h"
#include "pdf/update/xref_section.h"

namespace quillane {

// The highest object number a repair lists: /Size, one past the highest
// number, must stay a 32-bit signed integer for readers (qpdf refuses 2^31),
// with room for the extra object and the cross-reference stream above it.
inline constexpr std::int64_t kHighestRepairedNumber = (std::int64_t{1} << 31) - 4;

// What the file was found to hold.
struct FoundObjects {
  // Every object in use, sorted by number, numbers distinct and above 0;
  // offsets are positions in the file.
  std::vector<XrefRow> Rows;
  TrailerEntries Trailer;
  // The input's last section was a cross-reference stream (as far as can be
  // told): the new section is one too. Rows in object streams make it one
  // whatever this says.
  bool StreamForm = false;
  // Where the offsets written count from: the position of "%PDF-" when junk
  // stands before it, as readers then count them; 0 otherwise.
  Position OffsetBase = 0;
};

// Appends to `source` a replacement object built from `templates` for each of
// `imageKeys`, in order (those of object 0, of a generation above 65535 or
// of a number above kHighestRepairedNumber, which no section can list,
// passed over), then `rewrittenObjects` (likewise), then the extra object when
// the templates have one (number 9999, generation 1, or the first number no
// object uses when the file's numbers reach that far), then the complete
// section: a cross-reference stream numbered one past every other object
// when `found` says so or any row lies in an object stream, a table
// otherwise; then the end block. For a number given more than once, the last
// object written is listed. Returns the objects the section lists in use
// (the stream itself included). Throws as CompleteTable does, before
// anything is appended. Rows numbered above kHighestRepairedNumber are left
// out.
// REQUIRES: `found.OffsetBase` <= every offset in `found.Rows`; nothing in
// `rewrittenObjects` under a key of `imageKeys`.
std::int64_t WriteRepairingUpdate(FileAccess& source, const FoundObjects& found,
                                  const std::vector<ObjectKey>& imageKeys,
                                  const PlaceholderTemplates& templates,
                                  const std::vector<RewrittenObject>& rewrittenObjects = {});

}  // namespace quillane

#endif  // QUILLANE_PDF_UPDATE_REPAIRING_UPDATE_H_
