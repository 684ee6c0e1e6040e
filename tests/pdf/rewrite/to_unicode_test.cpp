#include "pdf/rewrite/to_unicode.h"

#include <gtest/gtest.h>

#include <string>

namespace quillane {
namespace {

std::string Shown(const std::optional<std::u32string>& text) {
  if (!text) return "none";
  std::string shown;
  for (const char32_t c : *text) shown += (shown.empty() ? "" : " ") + std::to_string(c);
  return shown;
}

// The CMaps the OCR tools write, and the forms other writers use.
TEST(ToUnicodeMap, ReadsCharsRangesAndArrays) {
  const ToUnicodeMap tesseract = ToUnicodeMap::Read(
      "/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
      "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n"
      "1 beginbfrange\n<0000> <FFFF> <0000>\nendbfrange\nendcmap CMapName currentdict");
  EXPECT_EQ(Shown(tesseract.TextOf(0x0041, 2)), "65");
  EXPECT_EQ(Shown(tesseract.TextOf(0x0436, 2)), "1078");
  EXPECT_EQ(Shown(tesseract.TextOf(0x41, 1)), "none");
  const ToUnicodeMap mixed = ToUnicodeMap::Read(
      "begincodespacerange <00> <7F> <8000> <FFFF> endcodespacerange\n"
      "2 beginbfchar <41> <0041> <42> <D83DDE00> endbfchar\n"
      "2 beginbfrange <8001> <8003> <0430> <8010> <8011> [<0066 0066> <0069>] endbfrange\n"
      "1 beginbfchar <8002> <0058> endbfchar\n"
      "1 beginbfrange <9000> <8000> <0041> endbfrange");  // backwards: passed over
  EXPECT_EQ(Shown(mixed.TextOf(0x41, 1)), "65");
  EXPECT_EQ(Shown(mixed.TextOf(0x42, 1)), "128512");  // a surrogate pair joined
  EXPECT_EQ(Shown(mixed.TextOf(0x8001, 2)), "1072");
  EXPECT_EQ(Shown(mixed.TextOf(0x8003, 2)), "1074");
  EXPECT_EQ(Shown(mixed.TextOf(0x8002, 2)), "88");  // the later mapping wins
  EXPECT_EQ(Shown(mixed.TextOf(0x8010, 2)), "102 102");
  EXPECT_EQ(Shown(mixed.TextOf(0x8011, 2)), "105");
  EXPECT_EQ(Shown(mixed.TextOf(0x8012, 2)), "none");
  EXPECT_EQ(Shown(mixed.TextOf(0x9000, 2)), "none");
  // Codes cut by the codespace: one byte below 0x80, two from 0x80 on; a
  // last byte that no range holds is a code of the first length.
  const auto codes = mixed.SplitCodes(
      "A\x80\x01"
      "B\x80");
  ASSERT_EQ(codes.size(), 4u);
  EXPECT_EQ(codes[0].Value, 0x41u);
  EXPECT_EQ(codes[1].Value, 0x8001u);
  EXPECT_EQ(codes[1].Length, 2u);
  EXPECT_EQ(codes[2].Value, 0x42u);
  // Without codespace ranges, two-byte codes.
  EXPECT_EQ(ToUnicodeMap::Read("").CodeLengths(), std::vector<std::size_t>{2});
  EXPECT_EQ(ToUnicodeMap::Read("garbage ( <41").SplitCodes(std::string("\x00\x41", 2)).size(), 1u);
}

}  // namespace
}  // namespace quillane
