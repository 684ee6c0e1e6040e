// The content streams the update gives new versions: every content stream
// the document draws (page contents, form XObjects, tiling patterns,
// annotation appearances, found through the cross-reference and the page
// tree, pdf/objects) that holds inline images gets a new version in which
// each inline image is a 1x1 gray placeholder (ISO 32000-1, 8.9.7). What the
// document no longer draws (freed objects, orphaned definitions, older
// revisions) is never read, and Type 3 glyph descriptions, with the forms
// their fonts' own resources draw, stay as they are: they draw letters.
#ifndef QUILLANE_PDF_REWRITE_INLINE_IMAGES_H_
#define QUILLANE_PDF_REWRITE_INLINE_IMAGES_H_

#include <cstdint>
#include <vector>

#include "base/log_hook.h"
#include "fileaccess/fileaccess.h"
#include "pdf/objects/cross_reference.h"
#include "pdf/syntax/object_key.h"
#include "pdf/update/update_writer.h"

namespace quillane {

// Returns the new version of every drawn content stream with inline images,
// in the order of the streams in the file (stream_rewrite.h gives their
// form).
//
// Streams whose key is in `imageKeys` are replaced as images by the update
// and left here. The document is read through its cross-reference; a file
// whose cross-reference the object layer cannot read gets no new versions
// (the run goes on as without the option), with the line "Inline images
// left: <reason>".
//
// Log lines, through `log`:
//   "Inline images: <key>#<count>"  a stream rewritten, with its images;
//   "Stream left: <key> <reason>"   a drawn stream that was not: one
//     replaced as an image ("replaced as an image"), one that does not
//     decode, one with "BI" in it that is not content syntax ("content
//     syntax at <offset>") or is a Type 3 glyph description ("Type 3
//     glyph");
//   "Walk: <key> <what>"            a part of the document passed over.
// Memory stays bounded whatever a stream's size (stream_rewrite.h).
std::vector<RewrittenObject> RewriteInlineImageStreams(const FileAccess& source, std::uint8_t gray,
                                                       const std::vector<ObjectKey>& imageKeys,
                                                       const LogHook& log);

// The same over the document that `xref` indexes: a damaged file's table
// rebuilt by scanning (CrossReference::Reconstruct).
std::vector<RewrittenObject> RewriteInlineImageStreams(const FileAccess& source, std::uint8_t gray,
                                                       const std::vector<ObjectKey>& imageKeys,
                                                       const LogHook& log, CrossReference xref);

}  // namespace quillane

#endif  // QUILLANE_PDF_REWRITE_INLINE_IMAGES_H_
