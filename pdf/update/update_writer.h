// The incremental update (ISO 32000-1, 7.5.6): a new version of every image
// object with a placeholder body, the new versions of rewritten content
// streams, in the translucent and outline modes one shared extra object, a
// cross-reference section in the form of the input's last one (a
// table with its trailer, or a cross-reference stream), and the end block
// "startxref" / offset / "%%EOF". Everything is appended after the input's
// bytes, which stay untouched.
#ifndef QUILLANE_PDF_UPDATE_UPDATE_WRITER_H_
#define QUILLANE_PDF_UPDATE_UPDATE_WRITER_H_

#include <memory>
#include <vector>

#include "fileaccess/fileaccess.h"
#include "pdf/raw/trailer.h"
#include "pdf/update/replace_mode.h"
#include "pdf/update/templates.h"

namespace quillane {

// The extra object takes number 9999, generation 1, unless the document's
// numbers reach that far: then it takes the first number the update may add
// (the trailer size for a table, one past the cross-reference stream's own
// number for a stream), so it never replaces an object the document uses.
ObjectKey ExtraObjectKeyFor(const TrailerValues& trailer);

// A new version of an object that the update writes as given: its key and
// its complete text, from the header line to "endobj" and its line end. A
// large stream's data may be a spill (FileAccess::NewSpill): the object is
// then Bytes, the spill's bytes and After, in this order.
struct RewrittenObject {
  ObjectKey Key = kNoObject;
  Text Bytes;
  std::shared_ptr<Spill> Data;
  Text After;
};

// Appends the whole update to `source` in one piece: a replacement object
// built from `templates` for each of `imageKeys`, in order, then
// `rewrittenObjects` in their order, then the extra object when the templates
// have one, each with its own cross-reference entry in that order, then the
// cross-reference section and the end block. A cross-reference stream gives
// its offsets 4 bytes, or more when one needs them. A table holds offsets of
// 10 digits: when one would need more, throws "The output would be too large
// for a cross-reference table (10 GB or more)." before anything is appended.
// REQUIRES: no key of `rewrittenObjects` is in `imageKeys`.
void WriteUpdate(FileAccess& source, const std::vector<ObjectKey>& imageKeys,
                 const TrailerValues& trailer, const PlaceholderTemplates& templates,
                 const std::vector<RewrittenObject>& rewrittenObjects = {});

}  // namespace quillane

#endif  // QUILLANE_PDF_UPDATE_UPDATE_WRITER_H_
