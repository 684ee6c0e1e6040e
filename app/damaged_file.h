// A damaged file, one whose last cross-reference section cannot be found:
// its object table rebuilt from the objects it holds (the object layer's
// reconstruction), and what the update that repairs it needs of that table.
#ifndef QUILLANE_APP_DAMAGED_FILE_H_
#define QUILLANE_APP_DAMAGED_FILE_H_

#include <optional>

#include "fileaccess/fileaccess.h"
#include "pdf/objects/cross_reference.h"
#include "pdf/update/repairing_update.h"

namespace quillane {

struct RebuiltFile {
  CrossReference Xref;
  FoundObjects Found;
  // The trailer found has an /Encrypt entry: its object number when it is a
  // reference, 0 for any other value.
  std::optional<std::int64_t> Encrypt;
};

// Rebuilds the table of `source` by scanning it. The trailer entries are
// those of the last trailer or cross-reference stream dictionary found (with
// none, /Root is the last catalog found and /Info and /ID stay out); /Info
// is kept only as a reference and /ID only as an array. Offsets count from
// "%PDF-" when it stands after the first byte within the first 1024 bytes.
// Nothing when nothing can be recovered: no object found, or no catalog.
std::optional<RebuiltFile> RebuildDamagedFile(const FileAccess& source);

}  // namespace quillane

#endif  // QUILLANE_APP_DAMAGED_FILE_H_
