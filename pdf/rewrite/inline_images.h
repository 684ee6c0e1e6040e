// The inline-image walk: a raw pass over the stream objects of the file that
// finds every content stream holding inline images (page contents, form
// XObjects, tiling patterns, appearance streams alike) and builds for each a
// new version in which every inline image is a 1x1 gray placeholder
// (ISO 32000-1, 8.9.7), to be written in the update beside the image
// replacements. Streams it cannot read, and Type 3 glyphs, are left alone.
#ifndef QUILLANE_PDF_REWRITE_INLINE_IMAGES_H_
#define QUILLANE_PDF_REWRITE_INLINE_IMAGES_H_

#include <cstdint>
#include <string_view>
#include <vector>

#include "fileaccess/fileaccess.h"
#include "pdf/raw/scanner.h"
#include "pdf/syntax/object_key.h"
#include "pdf/update/update_writer.h"

namespace quillane {

// Walks `source` and returns, in file order, the new version of every
// content stream with inline images.
//
// The walk finds each header "N G obj" (after white space or a delimiter)
// and reads the object's dictionary; a stream's data is bounded by a direct
// /Length checked against "endstream", or by a /Length reference resolved
// after the pass, or else by the first "endstream", and is passed over.
// Only the last object in the file under a key is considered, so an older
// revision never comes back over a newer one. A stream is considered unless
// its dictionary shows it is something else: /Type /XRef, /ObjStm,
// /Metadata or /EmbeddedFile, a /Subtype other than /Form, Type 1 font
// programs (/Length2, /Length3), functions, shadings, ICC profiles (/N),
// external data (/F); and unless its key is in `imageKeys`, which the update
// replaces as an image.
//
// A considered stream is decoded (stream_filters.h) and, when it holds the
// bytes "BI", read as content syntax (content_stream.h). When it reads
// completely and holds inline images, its new version is (unless its first
// operator is d0 or d1: a Type 3 glyph, whose image masks draw a letter):
//   "N G obj\n", the dictionary byte for byte without its /Length, /Filter,
//   /DecodeParms and /DL entries and with "/Length <n>/Filter/FlateDecode"
//   before its closing ">>", "\nstream\n", the rewritten data compressed,
//   "\nendstream\nendobj\n".
// Log lines, through `log`:
//   "Inline images: <key>#<count>"  a stream rewritten, with its images;
//   "Stream left: <key> <reason>"   a considered stream that was not: a
//     filter or parameters not supported, data that does not decode or
//     would pass the decoding bound, or (with "BI" in it) data that is not
//     content syntax ("content syntax at <offset>"), or a Type 3 glyph
//     description with "BI" in it ("Type 3 glyph");
//   "Inline walk stopped @ <p>"     the file's objects took more reading
//     than any real file needs (a multiple of its size); nothing is
//     rewritten then.
// The work is bounded by multiples of the file's size: reading object
// bodies, decoding (beyond which streams are left) and the search for
// "endstream" (each byte once).
// Reads `source` only through Size, Substring, ByteAt and RawByteAt, in
// pieces of at most 1 MiB beyond the streams it decodes.
std::vector<RewrittenObject> RewriteInlineImageStreams(const FileAccess& source, std::uint8_t gray,
                                                       const std::vector<ObjectKey>& imageKeys,
                                                       const LogHook& log);

}  // namespace quillane

#endif  // QUILLANE_PDF_REWRITE_INLINE_IMAGES_H_
