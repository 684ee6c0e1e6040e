// The image walk: one pass over every byte of the file that recognises the
// name "Subtype" followed by the name "Image" (ISO 32000-1, 8.9.5 Image
// dictionaries), wherever it stands: dictionaries of all revisions, stream
// data, comments and strings alike. Objects are not parsed.
#ifndef QUILLANE_PDF_IMAGE_WALK_H_
#define QUILLANE_PDF_IMAGE_WALK_H_

#include <vector>

#include "fileaccess/fileaccess.h"
#include "pdf/replace_mode.h"
#include "pdf/scanner.h"

namespace quillane {

// Walks the whole of `source` and logs "Found image @ <p>" for each hit, p
// being the byte that ended the name "Image".
// - ReplaceNone: overwrites the five bytes "Image" of each hit with "Vexlo";
//   `imageKeys` is left alone.
// - Otherwise: appends to `imageKeys`, in file order and with repeats, the key
//   of the object whose header line precedes the hit (logging "obj@",
//   "Number: " and "object: "). A hit without such a header, or one that lies
//   behind a "stream" keyword of its object (inside a content stream or an
//   object stream, which must not be replaced), is dropped.
// REQUIRES: nothing has been appended to `source` since it was loaded.
void WalkImages(FileAccess& source, ReplaceMode mode, const LogHook& log,
                std::vector<ObjectKey>& imageKeys);

}  // namespace quillane

#endif  // QUILLANE_PDF_IMAGE_WALK_H_
