#include "pdf/rewrite/show_text.h"

#include <gtest/gtest.h>

#include <string>

namespace quillane {
namespace {

// `content` read through a ShowTextEditor; the rewritten stream.
std::string Shown(const std::string& content, ShowTextEditor& editor) {
  std::string output;
  ContentEditing editing;
  editing.EditOperation = editor.Editor();
  editing.Output = [&output](std::string_view bytes) { output.append(bytes); };
  std::size_t at = 0;
  const ContentReading reading = ReadContent(
      [&](char* buffer, std::size_t capacity) {
        const std::size_t count = std::min(capacity, content.size() - at);
        std::copy_n(content.data() + at, count, buffer);
        at += count;
        return count;
      },
      editing);
  EXPECT_TRUE(reading.Complete) << content;
  return output;
}

// A glyphless font of the OCR tools: every code 500 wide; the text font's
// widths are 600 for capitals and 400 for the rest, 250 for the space.
const ReplacedFontWidths& GlyphlessFont() {
  static const ReplacedFontWidths font{
      ToUnicodeMap::Read("1 begincodespacerange <0000> <FFFF> endcodespacerange "
                         "1 beginbfrange <0000> <FFFF> <0000> endbfrange"),
      [](std::uint32_t) { return 500.0; },
      [](std::uint32_t code) {
        if (code == 0x20) return 250.0;
        return code >= 'A' && code <= 'Z' ? 600.0 : 400.0;
      }};
  return font;
}

ShowTextEditing Editing(bool wrapImages) {
  ShowTextEditing editing;
  editing.WrapImages = wrapImages;
  editing.Resources.ReplacedFont = [](std::string_view name) -> const ReplacedFontWidths* {
    return name == "f-0-0" ? &GlyphlessFont() : nullptr;
  };
  editing.Resources.IsImage = [](std::string_view name) { return name == "Im1"; };
  editing.Resources.HidesFill = [](std::string_view name) { return name == "Clear"; };
  return editing;
}

TEST(ShowTextEditor, InvisibleTextIsDrawnAndEverythingElseStays) {
  const struct {
    const char* name;
    std::string content;
    std::string shown;
  } cases[] = {
      // Tesseract: picture first, words of the glyphless font, 3 Tr. "The "
      // is 3 x 500 before the space and 600 + 400 + 400 after: 1500 / 1400.
      {"tesseract",
       "q 595 0 0 842 0 0 cm /Im1 Do Q\nBT\n3 Tr 1 0 0 1 10 20 Tm /f-0-0 13 Tf 101 Tz "
       "[ <0054006800650020> ] TJ 30 0 Td 90 Tz [ <0061> ] TJ\nET",
       "q 595 0 0 842 0 0 cm q /QuillaneMultiply gs /Im1 Do Q Q\nBT\n0 Tr 1 0 0 1 10 20 Tm "
       "/f-0-0 13 Tf 101 Tz 108.2143 Tz [ <0054006800650020> ] TJ 101 Tz 30 0 Td 90 Tz "
       "112.5 Tz [ <0061> ] TJ 90 Tz\nET"},
      // OCRmyPDF's hOCR: a real font; black set before each line stays.
      {"hocr", "0 0 0 rg BT /F1 13 Tf 3 Tr 0 0 Td 113 Tz (The ) Tj ET",
       "0 0 0 rg BT /F1 13 Tf 0 Tr 0 0 Td 113 Tz (The ) Tj ET"},
      // White text: black while shown, white again after the object.
      {"white", "1 g BT /F1 9 Tf 7 Tr (a) Tj 0.9 g (b) Tj ET 0 0 m",
       "1 g BT /F1 9 Tf 4 Tr 0 g (a) Tj 0 g (b) Tj ET 0.9 g 0 0 m"},
      {"transparent", "/Clear gs BT 3 Tr /F1 9 Tf (a) Tj ET",
       "/Clear gs BT 0 Tr /F1 9 Tf /QuillaneOpaque gs (a) Tj ET /Clear gs"},
      // Visible text and pictures of pages without shown text: nothing.
      {"visible", "BT /f-0-0 9 Tf (ab) Tj ET /Im1 Do", "BT /f-0-0 9 Tf (ab) Tj ET /Im1 Do"},
      // The scaling comes back after q and Q; a state saved keeps the mode.
      {"saved", "q 3 Tr Q BT /F1 9 Tf (a) Tj ET", "q 0 Tr Q BT /F1 9 Tf (a) Tj ET"},
  };
  for (const auto& c : cases) {
    ShowTextEditor editor(Editing(std::string(c.name) == "tesseract"));
    EXPECT_EQ(Shown(c.content, editor), c.shown) << c.name;
  }
}

TEST(ShowTextEditor, ReportsWhatTheStreamShows) {
  ShowTextEditor editor(Editing(true));
  Shown(
      "/Im1 Do BT 3 Tr /f-0-0 9 Tf -1 0 0 1 90 10 Tm [<05D005D1>] TJ 1 0 0 1 0 0 Tm (\\000A) Tj ET",
      editor);
  EXPECT_TRUE(editor.DrawsInvisibleText());
  EXPECT_EQ(editor.WrappedImages(), 1u);
  EXPECT_EQ(editor.CodesShown().at("f-0-0"), (std::set<std::uint32_t>{0x41, 0x05D0, 0x05D1}));
  EXPECT_EQ(editor.CodesMirrored().at("f-0-0"), (std::set<std::uint32_t>{0x05D0, 0x05D1}));
  ShowTextEditor visible(Editing(false));
  Shown("BT /F1 9 Tf (a) Tj ET", visible);
  EXPECT_FALSE(visible.DrawsInvisibleText());
}

TEST(ContentNumber, FourDecimalsAtMost) {
  EXPECT_EQ(ContentNumber(112.5), "112.5");
  EXPECT_EQ(ContentNumber(100), "100");
  EXPECT_EQ(ContentNumber(-0.25), "-0.25");
  EXPECT_EQ(ContentNumber(1.0 / 3), "0.3333");
  EXPECT_EQ(ContentNumber(0.00004), "0");
}

}  // namespace
}  // namespace quillane
