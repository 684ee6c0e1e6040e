#include "pdf/rewrite/visible_text.h"

#include <gtest/gtest.h>

#include <map>

#include "fonts/truetype_font.h"
#include "pdf/filters/stream_filters.h"
#include "pdf/rewrite/inline_images.h"
#include "pdf/rewrite/show_text.h"
#include "platform/platform.h"
#include "support/memory_pdf.h"
#include "support/ocr_layer.h"

namespace quillane {
namespace {

using test::MemoryPdf;
using test::OcrLayer;

const fonts::TrueTypeFont& TextFont() {
  static const fonts::TrueTypeFont font =
      fonts::TrueTypeFont::Load(platform::ReadWholeFile(QUILLANE_TEXT_FONT), "othertext.ttf");
  return font;
}

ObjectKey Key(std::int64_t number) { return MakeObjectKey(number, 0); }

// The new versions by key, each as "<header>" and its data inflated.
struct Rewrite {
  std::map<ObjectKey, std::string> heads;
  std::map<ObjectKey, std::string> data;
  std::vector<ObjectKey> order;
  std::vector<std::string> bytes;
  std::int64_t next = 0;
  std::string log;
  int fontLoads = 0;
};

// The pass over `file`, object 6 (the picture) replaced as an image.
Rewrite ShowText(const std::string& file, std::int64_t trailerSize, bool inlineImages = false) {
  MemoryPdf pdf(file);
  Rewrite result;
  DrawnStreamRewriting rewriting;
  rewriting.ShowText = true;
  rewriting.ReplaceInlineImages = inlineImages;
  rewriting.Gray = 0x7F;
  rewriting.TextFont = [&result]() -> const fonts::TrueTypeFont& {
    ++result.fontLoads;
    return TextFont();
  };
  const DrawnStreamRewrite rewrite =
      RewriteDrawnStreams(pdf.source, trailerSize, {Key(6)}, rewriting, pdf.log);
  for (const RewrittenObject& object : rewrite.Objects) {
    result.order.push_back(object.Key);
    result.bytes.push_back(object.Bytes);
    const std::size_t stream = object.Bytes.find(">>\nstream\n");
    if (stream == std::string::npos) {
      result.heads[object.Key] = object.Bytes;
      continue;
    }
    result.heads[object.Key] = object.Bytes.substr(0, stream + 2);
    const std::size_t start = stream + 10;
    const std::size_t end = object.Bytes.rfind("\nendstream");
    result.data[object.Key] =
        DecodeStreamData(object.Bytes.substr(start, end - start), {{"FlateDecode"}})
            .Data.value_or("(does not inflate)");
  }
  result.next = rewrite.NextNumber;
  result.log = pdf.Lines();
  return result;
}

// The scaling that makes `word` (its trailing space left out) span the
// glyphless font's 500 units a code with the text font's widths.
Text Scaling(const std::u32string& word) {
  double width = 0;
  for (const char32_t c : word) {
    width += TextFont().AdvanceWidth(TextFont().GlyphFor(c)) * 1000.0 / 2048;
  }
  return ContentNumber(100 * 500.0 * static_cast<double>(word.size()) / width);
}

const Text kMultiply = "q /QuillaneMultiply gs /Im1 Do Q";
const Text kStates =
    "/ExtGState<</QuillaneMultiply<</Type/ExtGState/BM/Multiply/ca 0.4/CA 0.4>>"
    "/QuillaneOpaque<</Type/ExtGState/ca 1/CA 1/BM/Normal/SMask/None>>>>";

TEST(RewriteDrawnStreams, TesseractLayerOverThePicture) {
  for (const bool objectStreams : {false, true}) {
    SCOPED_TRACE(objectStreams ? "object streams" : "table");
    OcrLayer layer;
    layer.ObjectStreams = objectStreams;
    layer.Xref = objectStreams ? test::XrefForm::kStream : test::XrefForm::kTable;
    // Table: objects 1 to 12, /Size 13; stream: the object stream 13 and the
    // cross-reference stream 14, /Size 15.
    const std::int64_t size = objectStreams ? 15 : 13;
    const Rewrite rewrite = ShowText(test::OcrLayerDocument(layer), size);

    // The contents, the page with the graphics states, the font and its four
    // new objects numbered from /Size on.
    EXPECT_EQ(rewrite.order, (std::vector<ObjectKey>{Key(4), Key(3), Key(5), Key(size),
                                                     Key(size + 1), Key(size + 2), Key(size + 3)}));
    EXPECT_EQ(rewrite.next, size + 4);
    EXPECT_EQ(rewrite.log, "Text shown: 400000 | Font replaced: 500000");
    EXPECT_EQ(rewrite.fontLoads, 1);
    EXPECT_EQ(rewrite.data.at(Key(4)),
              "q 200 0 0 100 0 0 cm " + kMultiply +
                  " Q\nBT\n0 Tr 1 0 0 1 10 50 Tm /F1 20 Tf 100 Tz " + Scaling(U"Hi") +
                  " Tz [ <004800690020> ] TJ 100 Tz\n40 0 Td " + Scaling(U"World") +
                  " Tz [ <0057006F0072006C0064> ] TJ 100 Tz\nET\n");
    EXPECT_EQ(rewrite.heads.at(Key(3)),
              "3 0 obj\n<</Type/Page/Parent 2 0 R/MediaBox[0 0 200 100]/Contents 4 0 R/Resources<<"
              "/Font<</F1 5 0 R>>/XObject<</Im1 6 0 R>>" +
                  kStates + ">>>>\nendobj\n");
    EXPECT_EQ(rewrite.heads.at(Key(5)),
              "5 0 obj\n<</Type/Font/Subtype/Type0/BaseFont/QLTXAA+DejaVuSans/Encoding/Identity-H"
              "/DescendantFonts[" +
                  IntToText(size) + " 0 R]/ToUnicode 9 0 R>>\nendobj\n");

    // The CIDFont: the widths of the codes shown, the map to the text
    // font's glyphs, the descriptor with the old vertical metrics.
    const std::string cidFont = rewrite.heads.at(Key(size));
    const auto width = [](char32_t c) {
      return ContentNumber(TextFont().AdvanceWidth(TextFont().GlyphFor(c)) * 1000.0 / 2048);
    };
    EXPECT_NE(
        cidFont.find("/W[32 [" + width(U' ') + "] 72 [" + width(U'H') + "] 87 [" + width(U'W') +
                     "] 100 [" + width(U'd') + "] 105 [" + width(U'i') + "] 108 [" + width(U'l') +
                     "] 111 [" + width(U'o') + "] 114 [" + width(U'r') + "]]"),
        std::string::npos)
        << cidFont;
    EXPECT_NE(cidFont.find("/FontDescriptor " + IntToText(size + 1) + " 0 R"), std::string::npos);
    EXPECT_NE(cidFont.find("/CIDToGIDMap " + IntToText(size + 2) + " 0 R>>"), std::string::npos);
    const std::string descriptor = rewrite.heads.at(Key(size + 1));
    EXPECT_NE(descriptor.find("/Ascent 1000/Descent -1/"), std::string::npos) << descriptor;
    EXPECT_NE(descriptor.find("/FontFile2 " + IntToText(size + 3) + " 0 R>>"), std::string::npos);
    const std::string map = rewrite.data.at(Key(size + 2));
    ASSERT_EQ(map.size(), 2u * ('r' + 1));
    for (const char32_t c : std::u32string(U"HiWorld ")) {
      const unsigned glyph = static_cast<unsigned char>(map[2 * c]) * 256U +
                             static_cast<unsigned char>(map[2 * c + 1]);
      EXPECT_EQ(glyph, TextFont().GlyphFor(c)) << static_cast<char>(c);
    }
    const std::optional<fonts::TrueTypeFont> program =
        fonts::TrueTypeFont::TryRead(rewrite.data.at(Key(size + 3)));
    ASSERT_TRUE(program);
    EXPECT_EQ(program->Shape(TextFont().GlyphFor(U'W')), fonts::GlyphShape::kOutline);
    EXPECT_EQ(program->Shape(TextFont().GlyphFor(U'A')), fonts::GlyphShape::kEmpty);
  }
}

TEST(RewriteDrawnStreams, HelveticaLayerInAFormUnderThePicture) {
  OcrLayer layer;
  layer.TextFont = OcrLayer::Font::kHelvetica;
  layer.InForm = true;
  layer.TextUnderPicture = true;
  const Rewrite rewrite = ShowText(test::OcrLayerDocument(layer), 13);
  // The page's stream paints the picture under the form's text; the form's
  // own resources need no graphics state; Helvetica stays.
  EXPECT_EQ(rewrite.order, (std::vector<ObjectKey>{Key(4), Key(7), Key(3)}));
  EXPECT_EQ(rewrite.next, 13);
  EXPECT_EQ(rewrite.fontLoads, 0);
  EXPECT_EQ(rewrite.log, "Text shown: 400000 | Text shown: 700000");
  EXPECT_EQ(rewrite.data.at(Key(4)), "q /Tx Do Q\nq 200 0 0 100 0 0 cm " + kMultiply + " Q\n");
  EXPECT_EQ(rewrite.data.at(Key(7)),
            "BT\n/F1 20 Tf 0 Tr 1 0 0 1 10 50 Tm 90 Tz (Hi ) Tj\n40 0 Td (World) Tj\nET\n");
  EXPECT_TRUE(rewrite.heads.at(Key(7)).starts_with(
      "7 0 obj\n<</Type/XObject/Subtype/Form/BBox[0 0 200 100]/Resources<</Font<</F1 5 0 R>>"
      ">>/Length "));
  EXPECT_NE(rewrite.heads.at(Key(3)).find("/XObject<</Im1 6 0 R/Tx 7 0 R>>" + kStates + ">>>>"),
            std::string::npos);
}

TEST(RewriteDrawnStreams, FormWithItsOwnResourcesGetsTheStatesInItsDictionary) {
  // The form draws the picture itself, after its text.
  OcrLayer layer;
  layer.TextFont = OcrLayer::Font::kHelvetica;
  std::string file = test::OcrLayerDocument(layer);
  // The page draws only the form; the form's resources name the picture.
  const std::string form =
      "<</Type/XObject/Subtype/Form/BBox[0 0 200 100]/Resources<</Font<</F1 5 0 R>>"
      "/XObject<</Im1 6 0 R>>>>/Length ";
  const std::string content = test::OcrPageContents(layer);
  file = test::PdfBuilder()
             .Object(1, 0, "<</Type/Catalog/Pages 2 0 R>>\n")
             .Object(2, 0, "<</Type/Pages/Kids[3 0 R]/Count 1>>\n")
             .Object(3, 0,
                     "<</Type/Page/Parent 2 0 R/MediaBox[0 0 200 100]/Contents 4 0 R"
                     "/Resources<</XObject<</Tx 7 0 R>>>>>>\n")
             .Object(4, 0, "<</Length 11>>\nstream\nq /Tx Do Q\n\nendstream\n")
             .Object(5, 0, "<</Type/Font/Subtype/Type1/BaseFont/Helvetica>>\n")
             .Object(6, 0,
                     "<</Type/XObject/Subtype/Image/Width 1/Height 1/ColorSpace/DeviceGray"
                     "/BitsPerComponent 8/Length 1>>\nstream\n\x80\nendstream\n")
             .Object(
                 7, 0,
                 form + std::to_string(content.size()) + ">>\nstream\n" + content + "\nendstream\n")
             .Build();
  const Rewrite rewrite = ShowText(file, 8);
  EXPECT_EQ(rewrite.order, (std::vector<ObjectKey>{Key(7)}));
  const std::string head = rewrite.heads.at(Key(7));
  EXPECT_TRUE(head.starts_with(
      "7 0 obj\n<</Type/XObject/Subtype/Form/BBox[0 0 200 100]/Resources<</Font<</F1 5 0 R>>"
      "/XObject<</Im1 6 0 R>>" +
      kStates + ">>/Length "))
      << head;
  EXPECT_TRUE(head.ends_with("/Filter/FlateDecode>>")) << head;
  EXPECT_TRUE(rewrite.data.at(Key(7)).starts_with("q 200 0 0 100 0 0 cm " + kMultiply + " Q\n"))
      << rewrite.data.at(Key(7));
}

TEST(RewriteDrawnStreams, DocumentWithoutInvisibleTextGetsWhatTheInlinePassGives) {
  for (const int mode : {0, 4}) {
    SCOPED_TRACE(mode);
    OcrLayer layer;
    layer.RenderMode = mode;
    layer.ExtraContents = "q BI /W 2 /H 1 /CS /G /BPC 8 ID \x01\x02 EI Q\n";
    const std::string file = test::OcrLayerDocument(layer);
    const Rewrite withText = ShowText(file, 13, true);
    MemoryPdf pdf(file);
    const std::vector<RewrittenObject> inlineOnly =
        RewriteInlineImageStreams(pdf.source, 0x7F, {Key(6)}, pdf.log);
    ASSERT_EQ(inlineOnly.size(), 1u);
    ASSERT_EQ(withText.order, std::vector<ObjectKey>{Key(4)});
    EXPECT_EQ(withText.bytes.front(), inlineOnly.front().Bytes);
    EXPECT_EQ(withText.log, "Inline images: 400000#1");
    EXPECT_EQ(withText.next, 13);
    EXPECT_EQ(withText.fontLoads, 0);
    EXPECT_EQ(ShowText(test::OcrLayerDocument(layer), 13).order, std::vector<ObjectKey>{});
  }
}

TEST(RewriteDrawnStreams, RightToLeftWordsAreDrawnUnmirroredInTheirBoxes) {
  OcrLayer layer;
  layer.RightToLeft = true;
  layer.Words = {U"שלום", U"עם"};
  const Rewrite rewrite = ShowText(test::OcrLayerDocument(layer), 13);
  const auto width = [](const std::u32string& word) {
    double total = 0;
    for (const char32_t c : word) {
      total += TextFont().AdvanceWidth(TextFont().GlyphFor(c)) * 1000.0 / 2048;
    }
    return total;
  };
  // The first word, with its space, from x = 190 leftwards: drawn from its
  // left end rightwards, its codes reversed, then the matrix set back and
  // the text position moved past the word.
  const double first = width(U"שלום ");
  const Text scale = Scaling(U"שלום");
  const double span = first / 1000 * 20 * std::stod(scale) / 100;
  const Text expected =
      "BT\n0 Tr -1 0 0 1 190 50 Tm /F1 20 Tf 100 Tz " + scale + " Tz 1 0 0 1 " +
      ContentNumber(190 - span) + " 50 Tm [<002005DD05D505DC05E9>] TJ -1 0 0 1 190 50 Tm [" +
      ContentNumber(-first) + "] TJ 100 Tz\n40 0 Td " + Scaling(U"עם") + " Tz 1 0 0 1 ";
  const std::string content = rewrite.data.at(Key(4));
  EXPECT_TRUE(content.find(expected) != std::string::npos) << content << "\n" << expected;
  EXPECT_NE(content.find("50 Tm [<05DD05E2>] TJ -1 0 0 1 150 50 Tm [" +
                         ContentNumber(-width(U"עם")) + "] TJ 100 Tz\nET\n"),
            std::string::npos)
      << content;
}

TEST(RewriteDrawnStreams, InlineImagesAndShownTextInOneVersion) {
  OcrLayer layer;
  layer.TextFont = OcrLayer::Font::kHelvetica;
  layer.ExtraContents = "q BI /W 2 /H 1 /CS /G /BPC 8 ID \x01\x02 EI Q\n";
  const Rewrite rewrite = ShowText(test::OcrLayerDocument(layer), 13, true);
  EXPECT_EQ(rewrite.order, (std::vector<ObjectKey>{Key(4), Key(3)}));
  EXPECT_EQ(rewrite.log, "Inline images: 400000#1 | Text shown: 400000");
  EXPECT_EQ(rewrite.data.at(Key(4)),
            "q 200 0 0 100 0 0 cm " + kMultiply +
                " Q\nBT\n/F1 20 Tf 0 Tr 1 0 0 1 10 50 Tm 90 Tz (Hi ) Tj\n40 0 Td (World) Tj\nET\n"
                "q q /QuillaneMultiply gs " +
                PlaceholderInlineImage(0x7F) + " Q Q\n");
}

}  // namespace
}  // namespace quillane
