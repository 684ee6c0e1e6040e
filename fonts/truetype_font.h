// TrueType font programs (the sfnt format with 'glyf' outlines, as Apple and
// Microsoft define it): reading one from bytes, the metrics a
// PDF font descriptor needs, character-to-glyph lookup, the facts about glyph
// outlines that tell a "glyphless" OCR font from a real one, and subsetting to
// the glyphs a document draws. The layer knows nothing of PDF; it reads fonts
// from two kinds of sources: the text font a user installs (refused with a
// message when unusable) and font programs found inside documents (anything at
// all, so every read is bounds-checked and nothing ever throws for them).
#ifndef QUILLANE_FONTS_TRUETYPE_FONT_H_
#define QUILLANE_FONTS_TRUETYPE_FONT_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "base/text.h"

namespace quillane::fonts {

// A glyph index, 0 .. GlyphCount() - 1; glyph 0 is the font's .notdef glyph.
using GlyphId = std::uint16_t;

// What a PDF font descriptor is made of, in font units (UnitsPerEm to an em)
// unless said otherwise.
struct FontMetrics {
  int UnitsPerEm = 1000;  // head; 1 .. 16384
  // The bounding box of all glyphs (head).
  int XMin = 0;
  int YMin = 0;
  int XMax = 0;
  int YMax = 0;
  // OS/2 sTypoAscender and sTypoDescender when the font has them (not both
  // zero), else hhea's ascender and descender; the descender is negative
  // below the baseline.
  int Ascender = 0;
  int Descender = 0;
  // OS/2 sCapHeight (OS/2 version 2 and later, when not zero); otherwise the
  // top of the glyph for 'H', and the ascender when there is no such glyph.
  int CapHeight = 0;
  // OS/2 sxHeight (version 2 and later); 0 when unknown.
  int XHeight = 0;
  // OS/2 xAvgCharWidth; 0 when unknown.
  int AverageWidth = 0;
  // OS/2 usWeightClass, 100 (thin) .. 900 (black); 400 when unknown.
  int WeightClass = 400;
  // Degrees counter-clockwise from the vertical (post; negative for fonts
  // that lean right), 0 when the font has no post table.
  double ItalicAngle = 0;
  // post isFixedPitch.
  bool FixedPitch = false;
  // Style bits from head macStyle and OS/2 fsSelection (either one sets them).
  bool Bold = false;
  bool Italic = false;
  // OS/2 sFamilyClass: the serif classes (1 .. 5 and 7), and script (10).
  bool Serif = false;
  bool Script = false;
  // OS/2 fsType as stored: the embedding permissions the font's vendor grants
  // (0 installable; bit 1 alone restricted: the font may not be embedded; bit
  // 9 bitmap embedding only). 0 when the font has no OS/2 table.
  std::uint16_t EmbeddingPermissions = 0;
};

// The corners of an axis-aligned box, in font units.
struct GlyphBox {
  int XMin = 0;
  int YMin = 0;
  int XMax = 0;
  int YMax = 0;
  friend bool operator==(const GlyphBox&, const GlyphBox&) = default;
};

// The outline of one glyph, as far as telling a glyphless font goes.
enum class GlyphShape {
  // No outline data: an empty glyph (as space is) or a glyph of no contours.
  kEmpty,
  // One contour whose points all lie on the corners of their extent: the four
  // corners visited along the sides (a rectangle, with or without its first
  // point repeated at the end, whatever the on-curve flags say), or only two
  // opposite corners (the degenerate box some OCR fonts draw every glyph as).
  // At most 8 points, and the extent is wider and taller than 0.
  kBox,
  // Any other outline: real letter shapes, composite glyphs, and glyph data
  // that does not read.
  kOutline,
};

struct OutlineSummary {
  // The glyphs other than glyph 0 whose shape is not kEmpty. Glyph 0 is left
  // out: fonts draw .notdef as a frame whatever their other glyphs are.
  std::uint32_t GlyphsWithOutlines = 0;
  // Of those, the ones of shape kBox.
  std::uint32_t BoxGlyphs = 0;
  // Set when at least one of those glyphs has an outline and every one of
  // them is a box with the same corners: that box. Evidence, not a verdict:
  // a document's subset of a real font that holds only a hyphen or a square
  // bullet has one common box too.
  std::optional<GlyphBox> CommonBox;
};

// Whether a subset keeps the font's hinting: the instructions of each glyph
// and the 'cvt ', 'fpgm' and 'prep' tables. PDF readers render without it at
// screen sizes; stripped, a subset's glyph data is about half as large.
enum class Hinting { kKeep, kStrip };

// A TrueType font read from bytes. It holds its own copy of the bytes, so it
// may outlive them; every query is bounds-checked and never throws.
class TrueTypeFont {
 public:
  // Reads `bytes` as the text font: a TrueType font (sfnt version 0x00010000
  // or 'true') or the first font of a TrueType collection ('ttcf'), with the
  // tables head, hhea, maxp, hmtx, loca and glyf, every glyph's data inside
  // glyf, and a character map GlyphFor can use. Throws Error("Cannot use the
  // text font \"<name>\": <reason>.") where the reason is "it has no TrueType
  // outlines" (CFF outlines, 'OTTO', or no glyf or loca table), "it is not a
  // TrueType font" (no sfnt, a directory cut off, or no head, hhea, maxp or
  // hmtx table), "its <tag> table is damaged" (a table that lies outside the
  // data or does not read; the tag without trailing blanks, "cvt" for
  // 'cvt '), or "it has no Unicode character map".
  static TrueTypeFont Load(Text bytes, std::string_view name);

  // Reads `bytes` as a font program found inside a document: the same as
  // Load, but nothing when the font is refused, and more lenient: a damaged
  // cmap, OS/2, post or name table counts as absent, glyphs whose data lies
  // outside glyf are empty, and the font may have no character map at all.
  // Never throws (but std::bad_alloc); allocates the copy of the bytes and a
  // few small values.
  static std::optional<TrueTypeFont> TryRead(Text bytes);

  // The number of glyphs: maxp numGlyphs, or fewer when loca holds fewer
  // entries. At least 1.
  std::uint16_t GlyphCount() const { return glyphCount_; }

  const FontMetrics& Metrics() const { return metrics_; }

  // The font's PostScript name (name ID 6), reduced to the characters a
  // PostScript name may hold (ASCII 33 .. 126 except [ ] ( ) { } < > / %)
  // and to 63 of them; empty when the font has none.
  const Text& PostScriptName() const { return postScriptName_; }

  // The glyph for `codePoint` (a Unicode scalar value), or 0 when the font
  // has none. The character map used is the best the font has, in this
  // order: (3,10) format 12; (0,4) or (0,6) format 12; (3,1) or (0,0 .. 3)
  // format 4; then, only when none of those is there, format 0 or 6 for
  // (3,1) or (0,*), and last (1,0) format 0 or 6, read for ASCII only (Mac
  // Roman agrees with Unicode there). A glyph index beyond the font is 0.
  GlyphId GlyphFor(char32_t codePoint) const;

  // True when GlyphFor reads a character map (Load requires one).
  bool HasCharacterMap() const { return cmapRank_ != 0; }

  // The advance width of `glyph` in font units (hmtx; a glyph at or beyond
  // the number of long metrics takes the last advance); 0 for a glyph beyond
  // the font.
  std::uint16_t AdvanceWidth(GlyphId glyph) const;

  // The bytes of `glyph` in glyf (what loca says, cut at the end of glyf);
  // empty for an empty glyph, one beyond the font, or one whose range in loca
  // is backwards or starts beyond glyf. The view lives as long as the font.
  std::string_view GlyphData(GlyphId glyph) const;

  // The shape of `glyph` (kEmpty for one beyond the font); for kBox, `box`
  // (when given) receives its corners.
  GlyphShape Shape(GlyphId glyph, GlyphBox* box = nullptr) const;

  // Shapes of every glyph but 0, summed up; linear in the number of glyphs.
  OutlineSummary SummarizeOutlines() const;

  // A TrueType font holding only glyph 0, `glyphs` and the components of the
  // composite glyphs among them (glyph ids beyond the font are passed over),
  // with every glyph id as in this font, so that a PDF CIDFontType2 maps its
  // CIDs to glyphs by /CIDToGIDMap /Identity. Its glyph count is the highest
  // kept id + 1; every other glyph below it is empty with advance 0; a kept
  // glyph has its outline bytes (padded to an even length), advance and left
  // side bearing unchanged, and with Hinting::kStrip loses only its
  // instructions. The tables are head (checksumAdjustment recomputed, loca
  // short when the glyph data allows), hhea, maxp, loca, glyf and hmtx, plus
  // 'cvt ', fpgm and prep when the hinting is kept and the font has them: no
  // cmap, so the result is for a CIDFontType2 only, not a simple TrueType
  // font. Tables are 4-byte aligned with their checksums. At most a few times
  // the size of this font's glyf, loca and hmtx tables; never throws (but
  // std::bad_alloc).
  Text Subset(const std::vector<GlyphId>& glyphs, Hinting hinting = Hinting::kStrip) const;

 private:
  // Where a table lies in data_.
  struct Table {
    std::size_t Offset = 0;
    std::size_t Length = 0;
    bool Found = false;
    bool Present() const { return Found; }
  };
  enum class Refusal { kNone, kNotTrueType, kNoOutlines, kDamaged, kNoCharacterMap };
  struct Outcome;

  TrueTypeFont() = default;
  static Outcome Read(Text bytes, bool strict);
  Refusal ReadTables(std::size_t directory, bool strict, Text& damaged);
  bool ChooseCharacterMap(bool strict);
  bool ReadMetrics(bool strict, Text& damaged);
  void ReadPostScriptName();
  std::string_view TableData(const Table& table) const;
  std::int16_t LeftSideBearing(GlyphId glyph) const;
  GlyphId LookUp(std::uint32_t code) const;

  Text data_;
  Table head_, hhea_, maxp_, hmtx_, loca_, glyf_, cmap_, os2_, post_, name_, cvt_, fpgm_, prep_;
  std::uint16_t glyphCount_ = 1;
  std::uint16_t longMetrics_ = 1;  // hmtx entries with an advance
  bool longLoca_ = false;
  // The character map GlyphFor reads: its rank (0 for none; see
  // GlyphFor), format, where it starts in data_ and where the cmap table ends.
  int cmapRank_ = 0;
  std::uint16_t cmapFormat_ = 0;
  std::size_t cmapStart_ = 0;
  std::size_t cmapEnd_ = 0;
  bool cmapAsciiOnly_ = false;
  FontMetrics metrics_;
  Text postScriptName_;
};

}  // namespace quillane::fonts

#endif  // QUILLANE_FONTS_TRUETYPE_FONT_H_
