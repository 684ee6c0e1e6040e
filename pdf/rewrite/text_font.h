// The text font in place of a glyphless OCR font: the codes of the OCR
// layer (a Type 0 font with two-byte codes, Identity-H, as Tesseract and
// OCRmyPDF write it) keep their meaning through the layer's /ToUnicode, and
// each gets the text font's glyph for its character, its width, and the
// subset of the text font that holds the glyphs used. The objects of the new
// font are written as PDF text here; which numbers they take is the
// caller's.
#ifndef QUILLANE_PDF_REWRITE_TEXT_FONT_H_
#define QUILLANE_PDF_REWRITE_TEXT_FONT_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>

#include "base/text.h"
#include "fonts/truetype_font.h"
#include "pdf/rewrite/to_unicode.h"

namespace quillane {

class TextFontReplacement {
 public:
  // `font` and `codes` must outlive the object.
  TextFontReplacement(const fonts::TrueTypeFont& font, const ToUnicodeMap& codes);

  // The text font's glyph for `code`: the glyph of its character; for a code
  // without one (no character, several, or one the font lacks) a glyph that
  // draws nothing, so that a missing letter shows as a gap, never as the
  // .notdef box.
  fonts::GlyphId GlyphFor(std::uint32_t code) const;
  // The code has a glyph of its own.
  bool HasGlyph(std::uint32_t code) const;
  // The advance of GlyphFor(code) in thousandths of an em (0 for a missing
  // one), as /W gives widths.
  double Width(std::uint32_t code) const;

  // The objects of the font for the codes in `shown`. The texts are direct
  // objects, without "N G obj":
  struct Objects {
    // The CIDFontType2 dictionary; `descriptor` and `map` are the references
    // of the two objects below.
    Text CidFont;
    // The font descriptor; `program` is the reference of the program stream.
    Text Descriptor;
    // The stream data of /CIDToGIDMap (two bytes a code, code 0 on) and of
    // /FontFile2 (the subset), uncompressed.
    Text CidToGidMap;
    Text Program;
    // Codes shown that have no glyph.
    std::size_t MissingGlyphs = 0;
  };
  // The vertical metrics of the descriptor, in thousandths of an em, when
  // they are to be those of the font replaced: text extraction takes the
  // height of a word's box from them, and the boxes stay where they were.
  struct VerticalMetrics {
    double Ascent = 0;
    double Descent = 0;
  };
  // REQUIRES: `descriptor`, `map`, `program` are references ("12 0 R").
  Objects Build(const std::set<std::uint32_t>& shown, const Text& baseFont, const Text& descriptor,
                const Text& map, const Text& program,
                std::optional<VerticalMetrics> vertical = std::nullopt) const;

 private:
  const fonts::TrueTypeFont& font_;
  const ToUnicodeMap& codes_;
  fonts::GlyphId blank_ = 0;
  // Glyph of each code asked for, by code (a code is asked for once per
  // show operation: kept).
  mutable std::map<std::uint32_t, fonts::GlyphId> glyphs_;
};

}  // namespace quillane

#endif  // QUILLANE_PDF_REWRITE_TEXT_FONT_H_
