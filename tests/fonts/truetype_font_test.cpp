// The TrueType layer on the shipped text font (DejaVu Sans unless the build
// names another one; the expected values were read with fontTools) and on the
// small fonts of tests/fonts/data (made by make_test_fonts.py with fontTools):
// character maps, metrics, outline shapes, the text font's refusals, subsets
// and their sizes, and damaged fonts.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "base/error.h"
#include "fonts/truetype_font.h"
#include "fuzz/truetype_checks.h"
#include "pdf/filters/stream_filters.h"
#include "support/test_util.h"

namespace quillane::test {
namespace {

namespace fs = std::filesystem;
using fonts::GlyphBox;
using fonts::GlyphId;
using fonts::GlyphShape;
using fonts::Hinting;
using fonts::TrueTypeFont;

const fs::path kData = fs::path(QUILLANE_SOURCE_DIR) / "tests" / "fonts" / "data";

std::string TestFont(const std::string& name) { return ReadFileBytes(kData / name); }

TrueTypeFont ReadTestFont(const std::string& name) {
  std::optional<TrueTypeFont> font = TrueTypeFont::TryRead(TestFont(name));
  if (!font) throw std::runtime_error(name + " does not read");
  return std::move(*font);
}

// The font with the directory record of `tag` changed: renamed to `newTag`
// when given, and its length set to `length` when given.
std::string WithTableRecord(std::string font, const std::string& tag, const std::string& newTag,
                            std::optional<std::uint32_t> length = std::nullopt) {
  const std::size_t tables =
      std::size_t{static_cast<unsigned char>(font[4])} << 8 | static_cast<unsigned char>(font[5]);
  for (std::size_t record = 12; record < 12 + 16 * tables; record += 16) {
    if (font.compare(record, 4, tag) != 0) continue;
    if (!newTag.empty()) font.replace(record, 4, newTag);
    for (int i = 0; length && i < 4; ++i) {
      font[record + 12 + static_cast<std::size_t>(i)] = static_cast<char>(*length >> (24 - 8 * i));
    }
    return font;
  }
  throw std::runtime_error("no table " + tag);
}

// The shipped text font, read once.
class TextFontTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    bytes_ = new std::string(ReadFileBytes(QUILLANE_TEXT_FONT));
    font_ = new TrueTypeFont(TrueTypeFont::Load(*bytes_, "othertext.ttf"));
  }
  static void TearDownTestSuite() {
    delete font_;
    delete bytes_;
  }
  void SetUp() override {
    if (fs::path(QUILLANE_TEXT_FONT).filename() != "DejaVuSans.ttf") {
      GTEST_SKIP() << "the expected values are DejaVu Sans's; the text font is "
                   << QUILLANE_TEXT_FONT;
    }
  }
  // The glyphs of the code points in [first, last] that the font has.
  static std::vector<GlyphId> Glyphs(const std::vector<std::pair<char32_t, char32_t>>& ranges) {
    std::vector<GlyphId> glyphs;
    for (const auto& [first, last] : ranges) {
      for (char32_t c = first; c <= last; ++c) {
        if (font_->GlyphFor(c) != 0) glyphs.push_back(font_->GlyphFor(c));
      }
    }
    return glyphs;
  }

  static std::string* bytes_;
  static TrueTypeFont* font_;
};
std::string* TextFontTest::bytes_ = nullptr;
TrueTypeFont* TextFontTest::font_ = nullptr;

TEST_F(TextFontTest, CharacterMapAndWidths) {
  const struct {
    char32_t codePoint;
    GlyphId glyph;
    std::uint16_t advance;
  } cases[] = {
      {U'A', 36, 1401},
      {U'\u00E9', 171, 1260},
      {U'\u0416', 939, 2206},
      {U'\u03A9', 830, 1565},
      {U' ', 3, 651},
      {U'\U0001F600', 5857, 2135},
      // No glyph: .notdef.
      {U'\u4E00', 0, 1229},
      {U'\U0010FFFF', 0, 1229},
      {char32_t{0x110000}, 0, 1229},
  };
  for (const auto& c : cases) {
    const auto code = static_cast<std::uint32_t>(c.codePoint);
    EXPECT_EQ(font_->GlyphFor(c.codePoint), c.glyph) << std::hex << code;
    EXPECT_EQ(font_->AdvanceWidth(c.glyph), c.advance) << std::hex << code;
  }
  EXPECT_EQ(font_->GlyphCount(), 6253);
  // hmtx holds 6238 advances; the 15 glyphs after them take the last one.
  EXPECT_EQ(font_->AdvanceWidth(6252), 1508);
  EXPECT_EQ(font_->AdvanceWidth(6253), 0);
}

TEST_F(TextFontTest, Metrics) {
  const fonts::FontMetrics& m = font_->Metrics();
  EXPECT_EQ(m.UnitsPerEm, 2048);
  EXPECT_EQ((GlyphBox{m.XMin, m.YMin, m.XMax, m.YMax}), (GlyphBox{-2090, -948, 3673, 2524}));
  EXPECT_EQ(m.Ascender, 1556);  // OS/2 typo values, not hhea's 1901 and -483
  EXPECT_EQ(m.Descender, -492);
  EXPECT_EQ(m.CapHeight, 1493);  // OS/2 version 1 has none: the top of 'H'
  EXPECT_EQ(m.AverageWidth, 1038);
  EXPECT_EQ(m.WeightClass, 400);
  EXPECT_EQ(m.ItalicAngle, 0);
  EXPECT_FALSE(m.FixedPitch || m.Bold || m.Italic || m.Serif || m.Script);
  EXPECT_EQ(m.EmbeddingPermissions, 0);
  EXPECT_EQ(font_->PostScriptName(), "DejaVuSans");
}

// A Latin-1, a Cyrillic and a Greek page: each subset passes the fuzz
// target's checks (it reads again; kept glyphs keep bytes or shape and
// advance; dropped ones are empty), keeps the components of composite
// glyphs (é draws e and acute), and stays far below 64 KiB compressed.
TEST_F(TextFontTest, SubsetsOfThreeScripts) {
  const struct {
    const char* name;
    std::vector<std::pair<char32_t, char32_t>> ranges;
  } pages[] = {
      {"Latin-1", {{0x20, 0x7E}, {0xA0, 0xFF}}},
      {"Cyrillic", {{0x20, 0x7E}, {0x400, 0x45F}}},
      {"Greek", {{0x20, 0x7E}, {0x370, 0x3FF}}},
  };
  for (const auto& page : pages) {
    const std::vector<GlyphId> glyphs = Glyphs(page.ranges);
    for (const Hinting hinting : {Hinting::kKeep, Hinting::kStrip}) {
      SCOPED_TRACE(std::string(page.name) + (hinting == Hinting::kKeep ? " hinted" : " stripped"));
      EXPECT_EQ(fuzz::detail::CheckSubset(*font_, glyphs, hinting, bytes_->size()), "");
      const Text subset = font_->Subset(glyphs, hinting);
      const std::size_t compressed = FlateCompress(subset).size();
      EXPECT_LT(compressed, 64u << 10);
      std::cout << "[ subset   ] " << page.name << ", " << glyphs.size() << " glyphs, "
                << (hinting == Hinting::kKeep ? "hinted" : "stripped") << ": " << subset.size()
                << " bytes, " << compressed << " with Flate\n";
    }
  }
  const TrueTypeFont subset = *TrueTypeFont::TryRead(font_->Subset({171}));
  EXPECT_EQ(subset.GlyphCount(), 172);
  EXPECT_EQ(subset.Shape(72), GlyphShape::kOutline);   // e
  EXPECT_EQ(subset.Shape(118), GlyphShape::kOutline);  // acute
  EXPECT_EQ(subset.Shape(36), GlyphShape::kEmpty);     // A, not asked for
}

TEST(TrueTypeFontTest, CharacterMapsAreChosenByRank) {
  const struct {
    const char* font;
    char32_t codePoint;
    GlyphId glyph;
  } cases[] = {
      // (3,10) format 12 wins over the format 4 and 6 maps, which say 2, 3, 4.
      {"cmap-format12-first.ttf", U'A', 1},
      {"cmap-format12-first.ttf", U'\U0001F600', 5},
      {"cmap-format12-first.ttf", U'B', 0},
      // Format 4: a segment with a delta, one through the glyph index array.
      {"cmap-format4.ttf", U'A', 1},
      {"cmap-format4.ttf", U'B', 2},
      {"cmap-format4.ttf", U'C', 4},
      {"cmap-format4.ttf", U'D', 3},
      {"cmap-format4.ttf", U'\u03A9', 5},
      {"cmap-format4.ttf", U'E', 0},
      {"cmap-format0.ttf", U'A', 3},
      {"cmap-format0.ttf", U'\u00E9', 4},
      {"cmap-format0.ttf", U'\u0141', 0},
      // Mac Roman is read for ASCII only: its 0x8E is é.
      {"cmap-mac-format6.ttf", U'A', 1},
      {"cmap-mac-format6.ttf", U'\u00E9', 0},
      {"cmap-mac-format6.ttf", U'\u008E', 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReadTestFont(c.font).GlyphFor(c.codePoint), c.glyph)
        << c.font << " U+" << std::hex << static_cast<std::uint32_t>(c.codePoint);
  }
}

TEST(TrueTypeFontTest, MetricsFromOs2AndPost) {
  const fonts::FontMetrics m = ReadTestFont("apple-true.ttf").Metrics();
  EXPECT_EQ(m.Ascender, 750);
  EXPECT_EQ(m.Descender, -250);
  EXPECT_EQ(m.CapHeight, 700);
  EXPECT_EQ(m.XHeight, 500);
  EXPECT_EQ(m.WeightClass, 700);
  EXPECT_EQ(m.ItalicAngle, -12.5);
  EXPECT_TRUE(m.FixedPitch);
  EXPECT_EQ(m.EmbeddingPermissions, 4);
  // A collection gives its first font.
  const TrueTypeFont first = ReadTestFont("collection.ttc");
  EXPECT_EQ(first.Metrics().UnitsPerEm, 1000);
  EXPECT_EQ(first.PostScriptName(), "First-Regular");
}

TEST(TrueTypeFontTest, ShapesAndSummaries) {
  const struct {
    const char* font;
    std::vector<GlyphShape> shapes;
    std::uint32_t withOutlines;
    std::uint32_t boxes;
    std::optional<GlyphBox> commonBox;
  } cases[] = {
      // Every glyph two off-curve corners, as an OCR font draws them.
      {"glyphless-diagonal.ttf",
       {GlyphShape::kEmpty, GlyphShape::kBox, GlyphShape::kBox, GlyphShape::kBox, GlyphShape::kBox},
       4,
       4,
       GlyphBox{0, 0, 1000, 1000}},
      // A .notdef frame (left out), a rectangle, one closed by a fifth point,
      // a space, and one of off-curve points.
      {"glyphless-rectangle.ttf",
       {GlyphShape::kOutline, GlyphShape::kBox, GlyphShape::kBox, GlyphShape::kEmpty,
        GlyphShape::kBox},
       3,
       3,
       GlyphBox{0, -200, 500, 800}},
      // Two boxes of different widths, a triangle, an hourglass through the
      // corners, a line, a composite of the box, an empty glyph.
      {"shapes.ttf",
       {GlyphShape::kEmpty, GlyphShape::kBox, GlyphShape::kBox, GlyphShape::kOutline,
        GlyphShape::kOutline, GlyphShape::kOutline, GlyphShape::kOutline, GlyphShape::kEmpty},
       6,
       2,
       std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.font);
    const TrueTypeFont font = ReadTestFont(c.font);
    ASSERT_EQ(font.GlyphCount(), c.shapes.size());
    for (std::size_t glyph = 0; glyph < c.shapes.size(); ++glyph) {
      EXPECT_EQ(font.Shape(static_cast<GlyphId>(glyph)), c.shapes[glyph]) << "glyph " << glyph;
    }
    const fonts::OutlineSummary summary = font.SummarizeOutlines();
    EXPECT_EQ(summary.GlyphsWithOutlines, c.withOutlines);
    EXPECT_EQ(summary.BoxGlyphs, c.boxes);
    EXPECT_EQ(summary.CommonBox, c.commonBox);
  }
}

TEST(TrueTypeFontTest, TextFontRefusals) {
  const std::string font = ReadFileBytes(QUILLANE_TEXT_FONT);
  const struct {
    std::string what;
    std::string bytes;
    std::string reason;
  } cases[] = {
      {"empty", "", "it is not a TrueType font"},
      {"a PDF", "%PDF-1.4\n1 0 obj\n<<>>\nendobj\n", "it is not a TrueType font"},
      {"directory cut off", font.substr(0, 40), "it is not a TrueType font"},
      {"CFF outlines", TestFont("cff-outlines.otf"), "it has no TrueType outlines"},
      {"no glyf", WithTableRecord(font, "glyf", "glyx"), "it has no TrueType outlines"},
      {"no head", WithTableRecord(font, "head", "heax"), "it is not a TrueType font"},
      {"no cmap", WithTableRecord(font, "cmap", "cmax"), "it has no Unicode character map"},
      {"head too short", WithTableRecord(font, "head", "", 20), "its head table is damaged"},
      {"glyf beyond the end", WithTableRecord(font, "glyf", "", 0x7FFFFFFF),
       "its glyf table is damaged"},
      {"glyph data beyond glyf", WithTableRecord(font, "glyf", "", 1000),
       "its loca table is damaged"},
      {"cvt beyond the end", WithTableRecord(font, "cvt ", "", 0x7FFFFFFF),
       "its cvt table is damaged"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_THROW_MSG(TrueTypeFont::Load(c.bytes, "othertext.ttf"), Error,
                     "Cannot use the text font \"othertext.ttf\": " + c.reason + ".");
  }
  // A font in a document may lack a character map, and may have a damaged
  // optional table or glyphs outside glyf; it still reads.
  EXPECT_TRUE(TrueTypeFont::TryRead(WithTableRecord(font, "cmap", "cmax")));
  EXPECT_TRUE(TrueTypeFont::TryRead(WithTableRecord(font, "cvt ", "", 0x7FFFFFFF)));
  const std::optional<TrueTypeFont> shortGlyf =
      TrueTypeFont::TryRead(WithTableRecord(font, "glyf", "", 1000));
  ASSERT_TRUE(shortGlyf);
  EXPECT_EQ(shortGlyf->Shape(36), GlyphShape::kEmpty);
  EXPECT_FALSE(TrueTypeFont::TryRead(TestFont("cff-outlines.otf")));
}

// Damaged fonts through the fuzz target's checks: every truncation of a small
// hinted subset (and of a test font with composite glyphs and boxes), and
// random byte changes. None may crash, throw, or take long.
TEST(TrueTypeFontTest, TruncatedAndDamagedFonts) {
  const TrueTypeFont text = TrueTypeFont::Load(ReadFileBytes(QUILLANE_TEXT_FONT), "text");
  const std::vector<std::string> samples = {
      text.Subset({text.GlyphFor(U'A'), text.GlyphFor(U'\u00E9'), text.GlyphFor(U'\u0416')},
                  Hinting::kKeep),
      TestFont("shapes.ttf"), TestFont("cmap-format4.ttf"), TestFont("collection.ttc")};
  const auto start = std::chrono::steady_clock::now();
  std::size_t inputs = 0;
  for (const std::string& font : samples) {
    ASSERT_EQ(fuzz::CheckTrueTypeFont(font), "");
    for (std::size_t length = 0; length < font.size(); length += 1 + length / 2048) {
      ++inputs;
      ASSERT_EQ(fuzz::CheckTrueTypeFont(font.substr(0, length)), "") << "cut at " << length;
    }
  }
  std::mt19937 random(20240611);
  for (int round = 0; round < 3000; ++round) {
    std::string damaged = samples[static_cast<std::size_t>(round) % samples.size()];
    const int changes = 1 + round % 8;
    for (int i = 0; i < changes; ++i) {
      // Mostly the directory and the table headers, where a change matters.
      const std::size_t limit =
          round % 2 == 0 ? std::min<std::size_t>(damaged.size(), 400) : damaged.size();
      damaged[random() % limit] = static_cast<char>(random());
    }
    ++inputs;
    ASSERT_EQ(fuzz::CheckTrueTypeFont(damaged), "") << "round " << round;
  }
  const auto seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::cout << "[ damaged  ] " << inputs << " inputs in " << seconds << " s\n";
  EXPECT_LT(seconds, 120);
}

}  // namespace
}  // namespace quillane::test
