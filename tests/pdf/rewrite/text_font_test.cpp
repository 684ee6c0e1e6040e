#include "pdf/rewrite/text_font.h"

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace quillane {
namespace {

TEST(TextFontReplacement, CodesGetTheTextFontsGlyphsAndWidths) {
  const fonts::TrueTypeFont font =
      fonts::TrueTypeFont::Load(platform::ReadWholeFile(QUILLANE_TEXT_FONT), "othertext.ttf");
  // Identity codes as Tesseract writes them; code 5 stands for two letters.
  const ToUnicodeMap codes = ToUnicodeMap::Read(
      "1 begincodespacerange <0000> <FFFF> endcodespacerange "
      "1 beginbfrange <0006> <FFFF> <0006> endbfrange 1 beginbfchar <0005> <00660066> endbfchar");
  const TextFontReplacement replacement(font, codes);
  const std::uint32_t capitalA = 'A';
  const std::uint32_t zhe = 0x0416;
  const std::uint32_t unknown = 0xFFF0;  // a code point DejaVu Sans has no glyph for
  EXPECT_TRUE(replacement.HasGlyph(capitalA));
  EXPECT_TRUE(replacement.HasGlyph(zhe));
  EXPECT_FALSE(replacement.HasGlyph(unknown));
  EXPECT_FALSE(replacement.HasGlyph(5));
  // DejaVu Sans: "A" advances 1401 of 2048 units.
  EXPECT_NEAR(replacement.Width(capitalA), 1401 * 1000.0 / 2048, 1e-9);
  EXPECT_EQ(replacement.Width(unknown), 0);

  const TextFontReplacement::Objects objects = replacement.Build(
      {capitalA, zhe, capitalA + 1, unknown}, "AAAAAA+DejaVuSans", "10 0 R", "11 0 R", "12 0 R");
  EXPECT_EQ(objects.MissingGlyphs, 1u);
  const auto glyphAt = [&objects](std::uint32_t code) {
    return (static_cast<unsigned char>(objects.CidToGidMap[2 * code]) << 8) |
           static_cast<unsigned char>(objects.CidToGidMap[2 * code + 1]);
  };
  EXPECT_EQ(objects.CidToGidMap.size(), 2u * (unknown + 1));
  EXPECT_EQ(glyphAt(capitalA), font.GlyphFor(U'A'));
  EXPECT_EQ(glyphAt(zhe), font.GlyphFor(U'Ж'));
  // The missing code draws the space's glyph, which has no outline.
  EXPECT_EQ(glyphAt(unknown), font.GlyphFor(U' '));
  // Codes in runs, each with its width in thousandths of an em.
  EXPECT_NE(objects.CidFont.find("/W[65 [684.082 686.0352] 1046 [1077.1484] 65520 [0]]"),
            std::string::npos)
      << objects.CidFont;
  EXPECT_NE(objects.CidFont.find("/FontDescriptor 10 0 R/DW 0/W["), std::string::npos);
  EXPECT_NE(objects.CidFont.find("/CIDToGIDMap 11 0 R>>"), std::string::npos);
  EXPECT_NE(objects.Descriptor.find("/FontFile2 12 0 R"), std::string::npos);
  const std::optional<fonts::TrueTypeFont> subset = fonts::TrueTypeFont::TryRead(objects.Program);
  ASSERT_TRUE(subset);
  // The subset holds the glyphs shown (their outlines; the hinting is left
  // out) and nothing of the others.
  fonts::GlyphBox kept;
  fonts::GlyphBox original;
  EXPECT_EQ(subset->Shape(font.GlyphFor(U'Ж'), &kept), fonts::GlyphShape::kOutline);
  font.Shape(font.GlyphFor(U'Ж'), &original);
  EXPECT_EQ(kept, original);
  EXPECT_EQ(subset->Shape(font.GlyphFor(U'C')), fonts::GlyphShape::kEmpty);
  EXPECT_LT(objects.Program.size(), 40000u);
}

}  // namespace
}  // namespace quillane
