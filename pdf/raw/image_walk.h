// The image walk: one pass over every byte of the file that recognises the
// name "Subtype" followed by the name "Image" (ISO 32000-1, 8.9.5 Image
// dictionaries), wherever it stands: dictionaries of all revisions, stream
// data, comments and strings alike. Objects are not parsed.
#ifndef QUILLANE_PDF_RAW_IMAGE_WALK_H_
#define QUILLANE_PDF_RAW_IMAGE_WALK_H_

#include <vector>

#include "base/log_hook.h"
#include "fileaccess/fileaccess.h"
#include "pdf/syntax/object_key.h"

namespace quillane {

// Both entry points make the same one pass over the whole of `source` and log
// "Found image @ <p>" for each hit, p being the byte that ended the name
// "Image".
// REQUIRES (both): nothing has been appended to `source` since it was loaded.

// The image objects for the update: in file order and with repeats, the key
// of the object whose header line precedes each hit (logging "obj@",
// "Number: " and "object: "). A hit without such a header, or one that lies
// behind a "stream" keyword of its object (inside a content stream or an
// object stream, which must not be replaced), is dropped.
std::vector<ObjectKey> FindImageObjects(const FileAccess& source, const LogHook& log);

// The light mode: overwrites the five bytes "Image" of each hit with "Vexlo"
// (same length, so every offset in the file stays valid).
void RenameImageSubtypes(FileAccess& source, const LogHook& log);

}  // namespace quillane

#endif  // QUILLANE_PDF_RAW_IMAGE_WALK_H_
