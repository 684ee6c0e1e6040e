#include "pdf/rewrite/text_font.h"

#include <algorithm>
#include <vector>

#include "pdf/rewrite/show_text.h"

namespace quillane {

namespace {

// Thousandths of an em, as PDF font metrics are given.
double PerMille(int units, int unitsPerEm) { return units * 1000.0 / unitsPerEm; }

Text Number(double value) { return ContentNumber(value); }

}  // namespace

TextFontReplacement::TextFontReplacement(const fonts::TrueTypeFont& font, const ToUnicodeMap& codes)
    : font_(font), codes_(codes) {
  // A glyph that draws nothing: the space's, else the first empty one.
  const fonts::GlyphId space = font_.GlyphFor(U' ');
  if (space != 0 && font_.Shape(space) == fonts::GlyphShape::kEmpty) {
    blank_ = space;
    return;
  }
  for (fonts::GlyphId glyph = 1; glyph < font_.GlyphCount() && glyph < 1024; ++glyph) {
    if (font_.Shape(glyph) == fonts::GlyphShape::kEmpty) {
      blank_ = glyph;
      return;
    }
  }
}

fonts::GlyphId TextFontReplacement::GlyphFor(std::uint32_t code) const {
  const auto known = glyphs_.find(code);
  if (known != glyphs_.end()) return known->second;
  fonts::GlyphId glyph = 0;
  const std::optional<std::u32string> text = codes_.TextOf(code, codes_.CodeLengths().front());
  if (text && text->size() == 1) glyph = font_.GlyphFor((*text)[0]);
  glyphs_.emplace(code, glyph);
  return glyph;
}

bool TextFontReplacement::HasGlyph(std::uint32_t code) const { return GlyphFor(code) != 0; }

double TextFontReplacement::Width(std::uint32_t code) const {
  const fonts::GlyphId glyph = GlyphFor(code);
  if (glyph == 0) return 0;
  return PerMille(font_.AdvanceWidth(glyph), font_.Metrics().UnitsPerEm);
}

TextFontReplacement::Objects TextFontReplacement::Build(
    const std::set<std::uint32_t>& shown, const Text& baseFont, const Text& descriptor,
    const Text& map, const Text& program, std::optional<VerticalMetrics> vertical) const {
  Objects objects;
  std::vector<fonts::GlyphId> glyphs{blank_};
  const std::uint32_t last = shown.empty() ? 0 : *shown.rbegin();
  objects.CidToGidMap.assign(2 * (std::size_t{last} + 1), '\0');
  Text widths;
  std::uint32_t runEnd = 0;
  for (const std::uint32_t code : shown) {
    fonts::GlyphId glyph = GlyphFor(code);
    if (glyph == 0) {
      ++objects.MissingGlyphs;
      glyph = blank_;
    } else {
      glyphs.push_back(glyph);
    }
    objects.CidToGidMap[2 * std::size_t{code}] = static_cast<char>(glyph >> 8);
    objects.CidToGidMap[2 * std::size_t{code} + 1] = static_cast<char>(glyph & 0xFF);
    // Runs of consecutive codes share one array: "c [w1 w2 ...]".
    if (widths.empty() || code != runEnd) {
      if (!widths.empty()) widths += "] ";
      widths += std::to_string(code) + " [";
    } else {
      widths += ' ';
    }
    widths += Number(Width(code));
    runEnd = code + 1;
  }
  if (!widths.empty()) widths += "]";
  objects.Program = font_.Subset(glyphs);

  const fonts::FontMetrics& metrics = font_.Metrics();
  const int em = metrics.UnitsPerEm;
  objects.CidFont = "<</Type/Font/Subtype/CIDFontType2/BaseFont/" + baseFont +
                    "/CIDSystemInfo<</Registry(Adobe)/Ordering(Identity)/Supplement 0>>"
                    "/FontDescriptor " +
                    descriptor + "/DW 0/W[" + widths + "]/CIDToGIDMap " + map + ">>";
  // Symbolic: the glyphs are reached through the map, not by a standard
  // encoding (ISO 32000-1, 9.8.2).
  objects.Descriptor =
      "<</Type/FontDescriptor/FontName/" + baseFont + "/Flags 4/FontBBox[" +
      Number(PerMille(metrics.XMin, em)) + " " + Number(PerMille(metrics.YMin, em)) + " " +
      Number(PerMille(metrics.XMax, em)) + " " + Number(PerMille(metrics.YMax, em)) +
      "]/ItalicAngle " + Number(metrics.ItalicAngle) + "/Ascent " +
      Number(vertical ? vertical->Ascent : PerMille(metrics.Ascender, em)) + "/Descent " +
      Number(vertical ? vertical->Descent : PerMille(metrics.Descender, em)) + "/CapHeight " +
      Number(PerMille(metrics.CapHeight, em)) + "/StemV 80/FontFile2 " + program + ">>";
  return objects;
}

}  // namespace quillane
