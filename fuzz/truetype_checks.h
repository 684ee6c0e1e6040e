// The properties the TrueType fuzz target checks on every input, shared with
// the tests that replay its saved findings and feed it damaged fonts
// (tests/program/fuzz_regressions_test.cpp, tests/fonts/). The input is read
// as a font program found in a document and as the text font; a font that
// reads is queried and subset twice (with and without hinting). Each check
// returns an empty text when every property holds, otherwise a description
// of the first one that does not. Header-only, like fuzz_checks.h.
#ifndef QUILLANE_FUZZ_TRUETYPE_CHECKS_H_
#define QUILLANE_FUZZ_TRUETYPE_CHECKS_H_

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "fonts/truetype_font.h"

namespace quillane::fuzz {

namespace detail {

using fonts::GlyphId;
using fonts::Hinting;
using fonts::TrueTypeFont;

// True when `message` is one of Load's refusals of the text font "fuzz".
inline bool IsTextFontRefusal(const std::string& message) {
  const std::string prefix = "Cannot use the text font \"fuzz\": ";
  if (message.rfind(prefix, 0) != 0) return false;
  const std::string reason = message.substr(prefix.size());
  if (reason == "it has no TrueType outlines." || reason == "it is not a TrueType font." ||
      reason == "it has no Unicode character map.") {
    return true;
  }
  for (const char* tag : {"head", "hhea", "maxp", "hmtx", "loca", "glyf", "cmap", "OS/2", "post",
                          "name", "cvt", "fpgm", "prep"}) {
    if (reason == std::string("its ") + tag + " table is damaged.") return true;
  }
  return false;
}

// The glyphs a subset is asked for: some the character map gives, the last
// glyph, and two that the input's last bytes choose.
inline std::vector<GlyphId> ChosenGlyphs(const TrueTypeFont& font, std::string_view input) {
  std::vector<GlyphId> glyphs = {font.GlyphFor(U'A'), font.GlyphFor(U'\u00E9'),
                                 font.GlyphFor(U'\u0416'),
                                 static_cast<GlyphId>(font.GlyphCount() - 1)};
  for (std::size_t i = 0; i + 2 <= input.size() && i < 4; i += 2) {
    const auto high = static_cast<unsigned char>(input[input.size() - 1 - i]);
    const auto low = static_cast<unsigned char>(input[input.size() - 2 - i]);
    glyphs.push_back(static_cast<GlyphId>((high << 8 | low) % font.GlyphCount()));
  }
  return glyphs;
}

// The sum of a font file as big-endian words must be head's magic value.
inline std::uint32_t WholeChecksum(std::string_view bytes) {
  std::uint32_t sum = 0;
  for (std::size_t at = 0; at < bytes.size(); at += 4) {
    std::uint32_t word = 0;
    for (std::size_t i = 0; i < 4; ++i) {
      word = word << 8 | (at + i < bytes.size() ? static_cast<unsigned char>(bytes[at + i]) : 0u);
    }
    sum += word;
  }
  return sum;
}

// Subsets `font` to `glyphs`: the result reads again with every glyph below
// the highest one asked for; each of its glyphs is either empty with advance
// 0 or the original glyph with the same advance (hinted, the same bytes
// padded to an even length; either way the same shape, unless the pad
// completes what the original lacks); glyph 0 and every glyph asked for are
// kept; subsetting the subset again gives the same bytes.
inline std::string CheckSubset(const TrueTypeFont& font, const std::vector<GlyphId>& glyphs,
                               Hinting hinting, std::size_t inputSize) {
  const std::string mode = hinting == Hinting::kKeep ? "hinted subset: " : "stripped subset: ";
  const Text subset = font.Subset(glyphs, hinting);
  if (subset.size() > 4 * inputSize + 4096) return mode + "larger than 4 times the font";
  if (WholeChecksum(subset) != 0xB1B0AFBA) return mode + "wrong checksumAdjustment";
  const std::optional<TrueTypeFont> again = TrueTypeFont::TryRead(subset);
  if (!again) return mode + "does not read";
  std::vector<bool> asked(again->GlyphCount(), false);
  asked[0] = true;
  for (const GlyphId glyph : glyphs) {
    if (glyph >= font.GlyphCount()) continue;
    if (glyph >= again->GlyphCount()) return mode + "glyph " + std::to_string(glyph) + " cut off";
    asked[glyph] = true;
  }
  for (std::size_t i = 0; i < again->GlyphCount(); ++i) {
    const auto glyph = static_cast<GlyphId>(i);
    const std::string where = mode + "glyph " + std::to_string(i) + ": ";
    const std::string_view data = again->GlyphData(glyph);
    if (data.empty() && again->AdvanceWidth(glyph) == 0 && !asked[i]) continue;
    if (again->AdvanceWidth(glyph) != font.AdvanceWidth(glyph)) return where + "advance changed";
    // A glyph of odd length is padded, and the pad may complete a record
    // the original lacks: then only its bytes are compared.
    fonts::GlyphBox box;
    fonts::GlyphBox boxAgain;
    if (font.GlyphData(glyph).size() % 2 == 0 &&
        (again->Shape(glyph, &boxAgain) != font.Shape(glyph, &box) || box != boxAgain)) {
      return where + "shape changed";
    }
    if (hinting == Hinting::kKeep) {
      Text padded(font.GlyphData(glyph));
      if (padded.size() % 2 != 0) padded += '\0';
      if (data != padded) return where + "bytes changed";
    }
  }
  if (again->Subset(glyphs, hinting) != subset) return mode + "a second subset differs";
  return {};
}

}  // namespace detail

// Reads `input` as a font program found in a document and as the text font
// "fuzz". Neither may throw anything but Load's own refusals; whatever Load
// accepts TryRead accepts too. A font that reads answers every query within
// its glyphs, and both its subsets pass detail::CheckSubset.
inline std::string CheckTrueTypeFont(std::string_view input) {
  using fonts::TrueTypeFont;
  try {
    const std::optional<TrueTypeFont> font = TrueTypeFont::TryRead(Text(input));
    try {
      TrueTypeFont::Load(Text(input), "fuzz");
      if (!font) return "Load accepts a font TryRead refuses";
    } catch (const Error& error) {
      if (!detail::IsTextFontRefusal(error.what())) {
        return std::string("unexpected refusal: ") + error.what();
      }
    }
    if (!font) return {};
    if (font->GlyphCount() == 0) return "no glyphs";
    if (font->Metrics().UnitsPerEm < 1 || font->Metrics().UnitsPerEm > 16384) {
      return "unitsPerEm out of range";
    }
    for (const char32_t c : {U'\0', U'A', U'\u00E9', U'\u0416', U'\uFFFF', U'\U0001F600'}) {
      if (font->GlyphFor(c) >= font->GlyphCount()) return "GlyphFor beyond the glyphs";
    }
    const fonts::OutlineSummary summary = font->SummarizeOutlines();
    if (summary.BoxGlyphs > summary.GlyphsWithOutlines ||
        summary.GlyphsWithOutlines >= font->GlyphCount()) {
      return "outline summary out of range";
    }
    if (summary.CommonBox && summary.BoxGlyphs != summary.GlyphsWithOutlines) {
      return "a common box while some glyph is not a box";
    }
    const std::vector<fonts::GlyphId> glyphs = detail::ChosenGlyphs(*font, input);
    for (const fonts::Hinting hinting : {fonts::Hinting::kKeep, fonts::Hinting::kStrip}) {
      std::string failure = detail::CheckSubset(*font, glyphs, hinting, input.size());
      if (!failure.empty()) return failure;
    }
  } catch (const std::exception& error) {
    return std::string("unexpected exception: ") + error.what();
  }
  return {};
}

}  // namespace quillane::fuzz

#endif  // QUILLANE_FUZZ_TRUETYPE_CHECKS_H_
