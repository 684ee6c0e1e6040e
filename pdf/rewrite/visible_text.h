// The content streams the update gives new versions when the text of an OCR
// layer is to be seen (and, with inline images replaced, those streams too,
// in one version each): every content stream the document draws (page
// contents and the forms they draw, at any depth, pdf/objects) that shows
// text in render mode 3 or 7 gets the edits of show_text.h; on a page whose
// text is shown, every stream that paints an image paints it in the blend
// mode Multiply, so that no placeholder hides text drawn under it. With them
// come the objects those edits need:
//  - the graphics states "QuillaneMultiply" and "QuillaneOpaque", added
//    directly to the /ExtGState of the resources each edited stream is drawn
//    with (a new version of the object that holds that dictionary);
//  - for a glyphless font (a Type 0 font, Identity-H, with /ToUnicode, whose
//    TrueType program has no outlines, or only box glyphs where one glyph
//    has an outline or every code maps to one glyph), a new version of the
//    font dictionary whose descendant is a new CIDFont drawn with the text
//    font (text_font.h): the CIDFont, its descriptor, its CIDToGIDMap and its
//    program take new numbers from `FirstNewNumber` on.
// A document without invisible text gets exactly what the inline-image pass
// alone gives it (inline_images.h), nothing at all without that pass.
#ifndef QUILLANE_PDF_REWRITE_VISIBLE_TEXT_H_
#define QUILLANE_PDF_REWRITE_VISIBLE_TEXT_H_

#include <cstdint>
#include <functional>
#include <vector>

#include "base/log_hook.h"
#include "fileaccess/fileaccess.h"
#include "fonts/truetype_font.h"
#include "pdf/objects/cross_reference.h"
#include "pdf/syntax/object_key.h"
#include "pdf/update/update_writer.h"

namespace quillane {

struct DrawnStreamRewriting {
  // Inline images become 1x1 placeholders of this gray.
  bool ReplaceInlineImages = false;
  std::uint8_t Gray = 0xD0;
  // Invisible text is drawn.
  bool ShowText = false;
  // The text font, asked for (at most once) only when a glyphless font is
  // replaced; its errors end the pass. The font must live as long as the
  // pass.
  std::function<const fonts::TrueTypeFont&()> TextFont;
};

struct DrawnStreamRewrite {
  // The new versions: the content streams in the order of their old
  // versions in the file, then the resources and font objects.
  std::vector<RewrittenObject> Objects;
  // One past the highest object number the document then uses: at least
  // the trailer's /Size, more when new objects were numbered.
  std::int64_t NextNumber = 0;
};

// Rewrites the drawn streams of `source` as `rewriting` says. Streams whose
// key is in `imageKeys` are replaced as images and left here.
// `trailerSize` is the trailer's /Size: new objects are numbered from it, or
// from one past the highest number in the cross-reference or in `imageKeys`
// when that is higher. A file whose cross-reference the object layer cannot read gets
// nothing, with the line "Inline images left: <reason>" or "Text left:
// <reason>".
// Log lines, through `log`, besides those of the inline-image pass:
//   "Text shown: <key>"     a stream whose invisible text is drawn, or
//                           whose images are painted under the text;
//   "Font replaced: <key>"  a glyphless font drawn with the text font;
//   "Glyphs missing: <n>"   codes shown that the text font has no glyph for;
//   "Text left: <key> <reason>"  a stream or font that could not be given
//                           what it needs ("no resources to add graphics
//                           states to").
DrawnStreamRewrite RewriteDrawnStreams(const FileAccess& source, std::int64_t trailerSize,
                                       const std::vector<ObjectKey>& imageKeys,
                                       const DrawnStreamRewriting& rewriting, const LogHook& log);

// The same over the document that `xref` indexes: a damaged file's table
// rebuilt by scanning, or the table a compact file is made from.
DrawnStreamRewrite RewriteDrawnStreams(const FileAccess& source, std::int64_t trailerSize,
                                       const std::vector<ObjectKey>& imageKeys,
                                       const DrawnStreamRewriting& rewriting, const LogHook& log,
                                       CrossReference xref);

}  // namespace quillane

#endif  // QUILLANE_PDF_REWRITE_VISIBLE_TEXT_H_
