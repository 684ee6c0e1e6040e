#include "support/ocr_layer.h"

#include <cstdio>

#include "support/test_util.h"

namespace quillane::test {

namespace {

std::string Hex(char32_t unit) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%04X", static_cast<unsigned>(unit));
  return digits;
}

std::string StreamBody(const std::string& entries, const std::string& data) {
  return "<<" + entries + "/Length " + std::to_string(data.size()) + ">>\nstream\n" + data +
         "\nendstream\n";
}

}  // namespace

std::string OcrTextDrawing(const OcrLayer& layer) {
  const std::string mode = std::to_string(layer.RenderMode) + " Tr";
  const std::string matrix = layer.RightToLeft ? "-1 0 0 1 190 50 Tm" : "1 0 0 1 10 50 Tm";
  std::string text = "BT\n";
  if (layer.TextFont == OcrLayer::Font::kGlyphless) {
    text += mode + " " + matrix + " /F1 20 Tf 100 Tz";
  } else {
    text += "/F1 20 Tf " + mode + " " + matrix + " 90 Tz";
  }
  for (std::size_t i = 0; i < layer.Words.size(); ++i) {
    if (i > 0) text += "\n40 0 Td";
    const bool last = i + 1 == layer.Words.size();
    if (layer.TextFont == OcrLayer::Font::kGlyphless) {
      text += " [ <";
      for (const char32_t unit : layer.Words[i]) text += Hex(unit);
      text += last ? "" : "0020";
      text += "> ] TJ";
    } else {
      text += " (";
      for (const char32_t unit : layer.Words[i]) text += static_cast<char>(unit);
      text += last ? ") Tj" : " ) Tj";
    }
  }
  return text + "\nET\n";
}

std::string OcrPageContents(const OcrLayer& layer) {
  const std::string picture = "q 200 0 0 100 0 0 cm /Im1 Do Q\n";
  const std::string text = layer.InForm ? "q /Tx Do Q\n" : OcrTextDrawing(layer);
  return (layer.TextUnderPicture ? text + picture : picture + text) + layer.ExtraContents;
}

std::string OcrLayerDocument(const OcrLayer& layer) {
  const std::string font =
      layer.TextFont == OcrLayer::Font::kGlyphless
          ? "<</Type/Font/Subtype/Type0/BaseFont/GlyphLessFont/Encoding/Identity-H"
            "/DescendantFonts[8 0 R]/ToUnicode 9 0 R>>"
          : "<</Type/Font/Subtype/Type1/BaseFont/Helvetica/Encoding/WinAnsiEncoding>>";
  const std::string fonts = "/Font<</F1 5 0 R>>";
  const std::string page =
      "<</Type/Page/Parent 2 0 R/MediaBox[0 0 200 100]/Contents 4 0 R"
      "/Resources<<" +
      std::string(layer.InForm ? "" : fonts) + "/XObject<</Im1 6 0 R" +
      std::string(layer.InForm ? "/Tx 7 0 R" : "") + ">>>>>>";
  const std::vector<std::pair<std::int64_t, std::string>> dictionaries = {
      {1, "<</Type/Catalog/Pages 2 0 R>>"},
      {2, "<</Type/Pages/Kids[3 0 R]/Count 1>>"},
      {3, page},
      {5, font},
      {8,
       "<</Type/Font/Subtype/CIDFontType2/BaseFont/GlyphLessFont/CIDSystemInfo<</Registry"
       "(Adobe)/Ordering(Identity)/Supplement 0>>/FontDescriptor 10 0 R/DW 500"
       "/CIDToGIDMap 11 0 R>>"},
      {10,
       "<</Type/FontDescriptor/FontName/GlyphLessFont/Flags 5/FontBBox[0 0 500 1000]"
       "/ItalicAngle 0/Ascent 1000/Descent -1/CapHeight 1000/StemV 80/FontFile2 12 0 R>>"},
  };
  const std::string toUnicode =
      "/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
      "1 begincodespacerange <0000> <FFFF> endcodespacerange\n"
      "1 beginbfrange <0000> <FFFF> <0000> endbfrange\nendcmap\n";
  // Every code of the first 1280 drawn as glyph 1, the box.
  std::string map;
  for (int code = 0; code < 0x500; ++code) map += std::string("\x00\x01", 2);
  const std::string program =
      ReadFileBytes(std::string(QUILLANE_SOURCE_DIR) + "/tests/fonts/data/glyphless-rectangle.ttf");

  PdfBuilder builder;
  builder.Form(layer.Xref);
  if (layer.ObjectStreams) {
    builder.ObjectStream(13, dictionaries);
  } else {
    for (const auto& [number, body] : dictionaries) builder.Object(number, 0, body + "\n");
  }
  builder.Object(4, 0, StreamBody("", OcrPageContents(layer)));
  builder.Object(6, 0,
                 StreamBody("/Type/XObject/Subtype/Image/Width 2/Height 2/ColorSpace/DeviceGray"
                            "/BitsPerComponent 8",
                            "\x80\x80\x80\x80"));
  if (layer.InForm) {
    builder.Object(
        7, 0,
        StreamBody("/Type/XObject/Subtype/Form/BBox[0 0 200 100]/Resources<<" + fonts + ">>",
                   OcrTextDrawing(layer)));
  }
  builder.Object(9, 0, StreamBody("", toUnicode));
  builder.Object(11, 0, StreamBody("", map));
  builder.Object(12, 0, StreamBody("/Length1 " + std::to_string(program.size()), program));
  return builder.Build();
}

}  // namespace quillane::test
