#include "fonts/truetype_font.h"

#include <algorithm>
#include <array>
#include <bit>
#include <utility>

#include "base/error.h"
#include "fonts/sfnt_data.h"

namespace quillane::fonts {

using detail::SfntData;
using detail::Tag;

struct TrueTypeFont::Outcome {
  std::optional<TrueTypeFont> Font;
  Refusal Why = Refusal::kNone;
  Text Damaged;  // the tag of the damaged table
};

namespace {

constexpr std::uint32_t kTrueTypeVersion = 0x00010000;
constexpr std::uint32_t kAppleTrueTypeVersion = Tag("true");
constexpr std::uint32_t kCffVersion = Tag("OTTO");
constexpr std::uint32_t kCollection = Tag("ttcf");

// The sizes that hold the fields read here.
constexpr std::size_t kHeadSize = 54;
constexpr std::size_t kHheaSize = 36;
constexpr std::size_t kMaxpSize = 6;
constexpr std::size_t kPostSize = 32;
constexpr std::size_t kOs2Size = 68;          // Apple's first version
constexpr std::size_t kOs2TypoSize = 74;      // with sTypoAscender .. sTypoLineGap
constexpr std::size_t kOs2Version2Size = 96;  // with sxHeight and sCapHeight
constexpr std::uint16_t kMaxUnitsPerEm = 16384;
constexpr std::size_t kMaxBoxPoints = 8;
constexpr std::size_t kMaxPostScriptName = 63;

// The rank of a character map subtable, best first; 0 when GlyphFor does not
// read it.
int CharacterMapRank(std::uint16_t platform, std::uint16_t encoding, std::uint16_t format) {
  const bool unicodePlatform = platform == 0;
  const bool windowsUnicode = platform == 3 && (encoding == 1 || encoding == 10);
  if (format == 12) {
    if (platform == 3 && encoding == 10) return 1;
    if (unicodePlatform) return 2;
  }
  if (format == 4 && ((platform == 3 && encoding == 1) || (unicodePlatform && encoding <= 3))) {
    return 3;
  }
  if (format == 0 || format == 6) {
    if (windowsUnicode || unicodePlatform) return 4;
    if (platform == 1 && encoding == 0) return 5;
  }
  return 0;
}

// True when the subtable of `format` from `start` fits in `table` with all
// the arrays its header announces (format 4's glyph index array aside, which
// is checked at each read).
bool SubtableFits(const SfntData& table, std::size_t start, std::uint16_t format) {
  const SfntData subtable = table.Part(start, table.Size());
  switch (format) {
    case 0:
      return subtable.Holds(0, 6 + 256);
    case 4: {
      const std::size_t segmentsX2 = subtable.U16(6);
      return subtable.Holds(0, 16) && segmentsX2 != 0 && segmentsX2 % 2 == 0 &&
             subtable.Holds(0, 16 + 4 * segmentsX2);
    }
    case 6:
      return subtable.Holds(0, 10) && subtable.Holds(10, 2 * std::size_t{subtable.U16(8)});
    case 12: {
      const std::size_t groups = subtable.U32(12);
      return subtable.Holds(0, 16) && groups <= (subtable.Size() - 16) / 12;
    }
    default:
      return false;
  }
}

// Keeps the characters a PostScript name may hold.
void AppendNameCharacter(Text& name, std::uint32_t c) {
  constexpr std::string_view kDelimiters = "[](){}<>/%";
  if (c < 33 || c > 126 || kDelimiters.find(static_cast<char>(c)) != std::string_view::npos) {
    return;
  }
  if (name.size() < kMaxPostScriptName) name += static_cast<char>(c);
}

}  // namespace

TrueTypeFont TrueTypeFont::Load(Text bytes, std::string_view name) {
  Outcome outcome = Read(std::move(bytes), true);
  if (outcome.Font) return std::move(*outcome.Font);
  std::string reason;
  switch (outcome.Why) {
    case Refusal::kNoOutlines:
      reason = "it has no TrueType outlines";
      break;
    case Refusal::kDamaged:
      reason = "its " + outcome.Damaged + " table is damaged";
      break;
    case Refusal::kNoCharacterMap:
      reason = "it has no Unicode character map";
      break;
    case Refusal::kNone:
    case Refusal::kNotTrueType:
      reason = "it is not a TrueType font";
      break;
  }
  throw Error("Cannot use the text font \"" + std::string(name) + "\": " + reason + ".");
}

std::optional<TrueTypeFont> TrueTypeFont::TryRead(Text bytes) {
  return std::move(Read(std::move(bytes), false).Font);
}

TrueTypeFont::Outcome TrueTypeFont::Read(Text bytes, bool strict) {
  TrueTypeFont font;
  font.data_ = std::move(bytes);
  const SfntData data(font.data_);
  // A collection begins with 'ttcf', a version, the number of fonts and each
  // font's offset from the start of the file; the tables of every font are
  // found from the start of the file too.
  std::size_t directory = 0;
  if (data.U32(0) == kCollection) {
    if (!data.Holds(12, 4) || data.U32(8) == 0) return {std::nullopt, Refusal::kNotTrueType, {}};
    directory = data.U32(12);
  }
  if (!data.Holds(directory, 12)) return {std::nullopt, Refusal::kNotTrueType, {}};
  const std::uint32_t version = data.U32(directory);
  if (version == kCffVersion) return {std::nullopt, Refusal::kNoOutlines, {}};
  if (version != kTrueTypeVersion && version != kAppleTrueTypeVersion) {
    return {std::nullopt, Refusal::kNotTrueType, {}};
  }
  Text damaged;
  const Refusal refusal = font.ReadTables(directory, strict, damaged);
  if (refusal != Refusal::kNone) return {std::nullopt, refusal, damaged};
  if (!font.ChooseCharacterMap(strict)) return {std::nullopt, Refusal::kDamaged, "cmap"};
  if (strict && !font.HasCharacterMap()) return {std::nullopt, Refusal::kNoCharacterMap, {}};
  if (!font.ReadMetrics(strict, damaged)) return {std::nullopt, Refusal::kDamaged, damaged};
  font.ReadPostScriptName();
  return {std::move(font), Refusal::kNone, {}};
}

TrueTypeFont::Refusal TrueTypeFont::ReadTables(std::size_t directory, bool strict, Text& damaged) {
  const SfntData data(data_);
  // The offset table: version, numTables, three search fields; then a
  // record of 16 bytes per table: tag, checksum, offset, length.
  const std::size_t count = data.U16(directory + 4);
  if (!data.Holds(directory + 12, 16 * count)) return Refusal::kNotTrueType;
  struct Known {
    std::uint32_t Tag;
    Table* Entry;
    bool Required;
    const char* Name;
  };
  const Known known[] = {
      {Tag("head"), &head_, true, "head"},  {Tag("hhea"), &hhea_, true, "hhea"},
      {Tag("maxp"), &maxp_, true, "maxp"},  {Tag("hmtx"), &hmtx_, true, "hmtx"},
      {Tag("loca"), &loca_, true, "loca"},  {Tag("glyf"), &glyf_, true, "glyf"},
      {Tag("cmap"), &cmap_, false, "cmap"}, {Tag("OS/2"), &os2_, false, "OS/2"},
      {Tag("post"), &post_, false, "post"}, {Tag("name"), &name_, false, "name"},
      {Tag("cvt "), &cvt_, false, "cvt"},   {Tag("fpgm"), &fpgm_, false, "fpgm"},
      {Tag("prep"), &prep_, false, "prep"},
  };
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t record = directory + 12 + 16 * i;
    const std::uint32_t tag = data.U32(record);
    const std::size_t offset = data.U32(record + 8);
    const std::size_t length = data.U32(record + 12);
    for (const Known& k : known) {
      if (k.Tag != tag || k.Entry->Present()) continue;
      if (!data.Holds(offset, length)) {
        if (k.Required || strict) {
          damaged = k.Name;
          return Refusal::kDamaged;
        }
        continue;
      }
      *k.Entry = {offset, length, true};
    }
  }
  if (!glyf_.Present() || !loca_.Present()) return Refusal::kNoOutlines;
  if (!head_.Present() || !hhea_.Present() || !maxp_.Present() || !hmtx_.Present()) {
    return Refusal::kNotTrueType;
  }

  const SfntData head(TableData(head_));
  const std::uint16_t unitsPerEm = head.U16(18);
  const std::int16_t locaFormat = head.S16(50);
  if (head.Size() < kHeadSize || unitsPerEm == 0 || unitsPerEm > kMaxUnitsPerEm ||
      (locaFormat != 0 && locaFormat != 1)) {
    damaged = "head";
    return Refusal::kDamaged;
  }
  longLoca_ = locaFormat == 1;
  const SfntData maxp(TableData(maxp_));
  const std::uint16_t declaredGlyphs = maxp.U16(4);
  if (maxp.Size() < kMaxpSize || declaredGlyphs == 0) {
    damaged = "maxp";
    return Refusal::kDamaged;
  }

  // loca holds numGlyphs + 1 offsets, each glyph's data running to the next
  // one. Fewer entries mean fewer glyphs. The offsets must not decrease,
  // which keeps the glyphs' data apart: a subset never copies a byte of glyf
  // twice.
  const SfntData loca(TableData(loca_));
  const std::size_t entries = loca.Size() / (longLoca_ ? 4 : 2);
  if (entries < 2 || (strict && entries <= declaredGlyphs)) {
    damaged = "loca";
    return Refusal::kDamaged;
  }
  glyphCount_ = static_cast<std::uint16_t>(std::min<std::size_t>(declaredGlyphs, entries - 1));
  std::size_t previous = 0;
  for (std::size_t i = 0; i <= glyphCount_; ++i) {
    const std::size_t offset = longLoca_ ? loca.U32(4 * i) : std::size_t{loca.U16(2 * i)} * 2;
    if (offset < previous || (strict && offset > glyf_.Length)) {
      damaged = "loca";
      return Refusal::kDamaged;
    }
    previous = offset;
  }

  // hmtx: numberOfHMetrics (advance, lsb) pairs, then one lsb for each
  // further glyph.
  const SfntData hhea(TableData(hhea_));
  if (hhea.Size() < kHheaSize) {
    damaged = "hhea";
    return Refusal::kDamaged;
  }
  const std::uint16_t declaredMetrics = hhea.U16(34);
  longMetrics_ = static_cast<std::uint16_t>(
      std::min<std::size_t>({declaredMetrics, glyphCount_, hmtx_.Length / 4}));
  if (longMetrics_ == 0 ||
      (strict && hmtx_.Length / 4 < std::min<std::size_t>(declaredMetrics, declaredGlyphs))) {
    damaged = "hmtx";
    return Refusal::kDamaged;
  }
  return Refusal::kNone;
}

bool TrueTypeFont::ChooseCharacterMap(bool strict) {
  if (!cmap_.Present()) return true;
  const SfntData cmap(TableData(cmap_));
  // cmap: version, numTables, then (platformID, encodingID, offset) records.
  const std::size_t count = cmap.U16(2);
  if (!cmap.Holds(4, 8 * count)) return !strict;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t record = 4 + 8 * i;
    const std::size_t start = cmap.U32(record + 4);
    const std::uint16_t format = cmap.U16(start);
    const int rank = CharacterMapRank(cmap.U16(record), cmap.U16(record + 2), format);
    if (rank == 0 || (cmapRank_ != 0 && rank >= cmapRank_)) continue;
    if (!SubtableFits(cmap, start, format)) {
      if (strict) return false;
      continue;
    }
    cmapRank_ = rank;
    cmapFormat_ = format;
    cmapStart_ = cmap_.Offset + start;
    cmapAsciiOnly_ = rank == 5;
  }
  cmapEnd_ = cmap_.Offset + cmap_.Length;
  return true;
}

bool TrueTypeFont::ReadMetrics(bool strict, Text& damaged) {
  const SfntData head(TableData(head_));
  const SfntData hhea(TableData(hhea_));
  metrics_.UnitsPerEm = head.U16(18);
  metrics_.XMin = head.S16(36);
  metrics_.YMin = head.S16(38);
  metrics_.XMax = head.S16(40);
  metrics_.YMax = head.S16(42);
  const std::uint16_t macStyle = head.U16(44);
  metrics_.Bold = (macStyle & 0x01) != 0;
  metrics_.Italic = (macStyle & 0x02) != 0;
  metrics_.Ascender = hhea.S16(4);
  metrics_.Descender = hhea.S16(6);

  const SfntData os2(TableData(os2_));
  if (os2_.Present() && os2.Size() < kOs2Size) {
    if (strict) {
      damaged = "OS/2";
      return false;
    }
  } else if (os2_.Present()) {
    metrics_.AverageWidth = os2.S16(2);
    const std::uint16_t weight = os2.U16(4);
    if (weight >= 1 && weight <= 1000) metrics_.WeightClass = weight;
    metrics_.EmbeddingPermissions = os2.U16(8);
    // sFamilyClass: the class in the high byte, the subclass in the low one.
    const int familyClass = os2.U16(30) >> 8;
    metrics_.Serif = (familyClass >= 1 && familyClass <= 5) || familyClass == 7;
    metrics_.Script = familyClass == 10;
    const std::uint16_t selection = os2.U16(62);
    metrics_.Italic = metrics_.Italic || (selection & 0x01) != 0;
    metrics_.Bold = metrics_.Bold || (selection & 0x20) != 0;
    if (os2.Size() >= kOs2TypoSize && (os2.S16(68) != 0 || os2.S16(70) != 0)) {
      metrics_.Ascender = os2.S16(68);
      metrics_.Descender = os2.S16(70);
    }
    if (os2.U16(0) >= 2 && os2.Size() >= kOs2Version2Size) {
      metrics_.XHeight = os2.S16(86);
      metrics_.CapHeight = os2.S16(88);
    }
  }

  const SfntData post(TableData(post_));
  if (post_.Present() && post.Size() < kPostSize) {
    if (strict) {
      damaged = "post";
      return false;
    }
  } else if (post_.Present()) {
    // italicAngle is a 16.16 fixed-point number.
    metrics_.ItalicAngle = static_cast<std::int32_t>(post.U32(4)) / 65536.0;
    metrics_.FixedPitch = post.U32(12) != 0;
  }

  // The cap height estimated as the top of 'H' (yMax in its glyph header).
  if (metrics_.CapHeight <= 0) {
    const SfntData glyph(GlyphData(GlyphFor(U'H')));
    metrics_.CapHeight = glyph.Size() >= 10 ? glyph.S16(8) : metrics_.Ascender;
  }
  return true;
}

void TrueTypeFont::ReadPostScriptName() {
  const SfntData names(TableData(name_));
  // name: format, count, stringOffset, then 12-byte records (platformID,
  // encodingID, languageID, nameID, length, offset into the storage).
  const std::size_t count = names.U16(2);
  const std::size_t storage = names.U16(4);
  int bestRank = 0;
  std::size_t best = 0;
  for (std::size_t i = 0; i < count && names.Holds(6 + 12 * i, 12); ++i) {
    const std::size_t record = 6 + 12 * i;
    if (names.U16(record + 6) != 6) continue;
    const std::uint16_t platform = names.U16(record);
    const int rank = platform == 3 ? 3 : platform == 1 ? 2 : platform == 0 ? 1 : 0;
    if (rank > bestRank) {
      bestRank = rank;
      best = record;
    }
  }
  if (bestRank == 0) return;
  const SfntData text = names.Part(storage + names.U16(best + 10), names.U16(best + 8));
  if (bestRank == 2) {
    for (std::size_t i = 0; i < text.Size(); ++i) AppendNameCharacter(postScriptName_, text.U8(i));
  } else {
    // UTF-16BE; what lies outside ASCII is not part of a PostScript name.
    for (std::size_t i = 0; i + 1 < text.Size(); i += 2) {
      AppendNameCharacter(postScriptName_, text.U16(i));
    }
  }
}

std::string_view TrueTypeFont::TableData(const Table& table) const {
  return std::string_view(data_).substr(std::min(table.Offset, data_.size()), table.Length);
}

GlyphId TrueTypeFont::GlyphFor(char32_t codePoint) const {
  if (cmapRank_ == 0 || (cmapAsciiOnly_ && codePoint >= 128)) return 0;
  const GlyphId glyph = LookUp(codePoint);
  return glyph < glyphCount_ ? glyph : 0;
}

GlyphId TrueTypeFont::LookUp(std::uint32_t code) const {
  // Reads end at the end of the cmap table.
  const SfntData cmap(std::string_view(data_).substr(0, cmapEnd_));
  const std::size_t s = cmapStart_;
  switch (cmapFormat_) {
    case 0:
      return code < 256 ? cmap.U8(s + 6 + code) : 0;
    case 6: {
      const std::uint32_t first = cmap.U16(s + 6);
      const std::uint32_t count = cmap.U16(s + 8);
      if (code < first || code - first >= count) return 0;
      return cmap.U16(s + 10 + 2 * std::size_t{code - first});
    }
    case 4: {
      // Segments sorted by their end codes: endCode[], a pad, startCode[],
      // idDelta[], idRangeOffset[], then the glyph index array.
      if (code > 0xFFFF) return 0;
      const std::size_t segmentsX2 = cmap.U16(s + 6);
      const std::size_t ends = s + 14;
      const std::size_t starts = ends + segmentsX2 + 2;
      const std::size_t deltas = starts + segmentsX2;
      const std::size_t rangeOffsets = deltas + segmentsX2;
      std::size_t low = 0;
      std::size_t high = segmentsX2 / 2;
      while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (cmap.U16(ends + 2 * middle) < code) {
          low = middle + 1;
        } else {
          high = middle;
        }
      }
      if (low == segmentsX2 / 2) return 0;
      const std::uint32_t start = cmap.U16(starts + 2 * low);
      if (code < start) return 0;
      const std::uint32_t delta = cmap.U16(deltas + 2 * low);
      const std::size_t rangeOffset = cmap.U16(rangeOffsets + 2 * low);
      if (rangeOffset == 0) return static_cast<GlyphId>((code + delta) & 0xFFFF);
      // The offset counts from the idRangeOffset entry itself.
      const std::uint32_t glyph =
          cmap.U16(rangeOffsets + 2 * low + rangeOffset + 2 * std::size_t{code - start});
      return glyph == 0 ? 0 : static_cast<GlyphId>((glyph + delta) & 0xFFFF);
    }
    case 12: {
      // Groups (startCharCode, endCharCode, startGlyphID) sorted by code.
      std::size_t low = 0;
      std::size_t high = cmap.U32(s + 12);
      const std::size_t groups = s + 16;
      while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (cmap.U32(groups + 12 * middle + 4) < code) {
          low = middle + 1;
        } else {
          high = middle;
        }
      }
      const std::size_t group = groups + 12 * low;
      const std::uint32_t start = cmap.U32(group);
      if (low == cmap.U32(s + 12) || code < start) return 0;
      const std::uint64_t glyph = std::uint64_t{cmap.U32(group + 8)} + (code - start);
      return glyph < glyphCount_ ? static_cast<GlyphId>(glyph) : 0;
    }
    default:
      return 0;
  }
}

std::uint16_t TrueTypeFont::AdvanceWidth(GlyphId glyph) const {
  if (glyph >= glyphCount_) return 0;
  const SfntData hmtx(TableData(hmtx_));
  return hmtx.U16(4 * std::size_t{std::min<GlyphId>(glyph, longMetrics_ - 1)});
}

std::int16_t TrueTypeFont::LeftSideBearing(GlyphId glyph) const {
  const SfntData hmtx(TableData(hmtx_));
  if (glyph < longMetrics_) return hmtx.S16(4 * std::size_t{glyph} + 2);
  const std::size_t at =
      4 * std::size_t{longMetrics_} + 2 * static_cast<std::size_t>(glyph - longMetrics_);
  if (hmtx.Holds(at, 2)) return hmtx.S16(at);
  // A short hmtx: the glyph's xMin is what its bearing should be.
  const SfntData data(GlyphData(glyph));
  return data.Size() >= 10 ? data.S16(2) : std::int16_t{0};
}

std::string_view TrueTypeFont::GlyphData(GlyphId glyph) const {
  if (glyph >= glyphCount_) return {};
  const SfntData loca(TableData(loca_));
  const std::size_t i = glyph;
  const std::size_t start = longLoca_ ? loca.U32(4 * i) : std::size_t{loca.U16(2 * i)} * 2;
  const std::size_t end = longLoca_ ? loca.U32(4 * i + 4) : std::size_t{loca.U16(2 * i + 2)} * 2;
  if (start >= end || start >= glyf_.Length) return {};
  return TableData(glyf_).substr(start, std::min(end, glyf_.Length) - start);
}

GlyphShape TrueTypeFont::Shape(GlyphId glyph, GlyphBox* box) const {
  const SfntData data(GlyphData(glyph));
  if (data.Size() == 0) return GlyphShape::kEmpty;
  // The glyph header: numberOfContours, then the bounding box.
  const int contours = data.S16(0);
  if (data.Size() >= 10 && contours == 0) return GlyphShape::kEmpty;
  if (data.Size() < 10 || contours != 1) return GlyphShape::kOutline;
  // A simple glyph: endPtsOfContours[], instructionLength, instructions,
  // flags (a flag with bit 3 is repeated as often as the next byte says),
  // then the x and then the y coordinates, each a delta from the previous
  // point: one byte when the flag's short bit is set (its sign in the
  // same-or-positive bit), none when only the same bit is set, else two.
  const std::size_t points = std::size_t{data.U16(10)} + 1;
  if (points > kMaxBoxPoints) return GlyphShape::kOutline;
  std::size_t at = 14 + std::size_t{data.U16(12)};
  std::array<std::uint8_t, kMaxBoxPoints> flags{};
  for (std::size_t i = 0; i < points;) {
    if (!data.Holds(at, 1)) return GlyphShape::kOutline;
    const std::uint8_t flag = data.U8(at++);
    std::size_t repeat = 1;
    if ((flag & 0x08) != 0) {
      if (!data.Holds(at, 1)) return GlyphShape::kOutline;
      repeat += data.U8(at++);
    }
    if (repeat > points - i) return GlyphShape::kOutline;
    for (; repeat > 0; --repeat) flags[i++] = flag;
  }
  std::array<int, kMaxBoxPoints> xs{};
  std::array<int, kMaxBoxPoints> ys{};
  const auto readAxis = [&](std::array<int, kMaxBoxPoints>& values, std::uint8_t shortBit,
                            std::uint8_t sameBit) {
    int value = 0;
    for (std::size_t i = 0; i < points; ++i) {
      if ((flags[i] & shortBit) != 0) {
        if (!data.Holds(at, 1)) return false;
        const int delta = data.U8(at++);
        value += (flags[i] & sameBit) != 0 ? delta : -delta;
      } else if ((flags[i] & sameBit) == 0) {
        if (!data.Holds(at, 2)) return false;
        value += data.S16(at);
        at += 2;
      }
      values[i] = value;
    }
    return true;
  };
  if (!readAxis(xs, 0x02, 0x10) || !readAxis(ys, 0x04, 0x20)) return GlyphShape::kOutline;

  const auto [xMin, xMax] =
      std::minmax_element(xs.begin(), xs.begin() + static_cast<std::ptrdiff_t>(points));
  const auto [yMin, yMax] =
      std::minmax_element(ys.begin(), ys.begin() + static_cast<std::ptrdiff_t>(points));
  if (*xMin == *xMax || *yMin == *yMax) return GlyphShape::kOutline;
  // Each point's corner: bit 0 set on the right, bit 1 at the top.
  std::array<unsigned, kMaxBoxPoints> corners{};
  unsigned seen = 0;
  for (std::size_t i = 0; i < points; ++i) {
    if ((xs[i] != *xMin && xs[i] != *xMax) || (ys[i] != *yMin && ys[i] != *yMax)) {
      return GlyphShape::kOutline;
    }
    corners[i] = (xs[i] == *xMax ? 1u : 0u) | (ys[i] == *yMax ? 2u : 0u);
    seen |= 1u << corners[i];
  }
  if (std::popcount(seen) == 4) {
    // Along the sides: no step of the closed contour crosses the diagonal.
    for (std::size_t i = 0; i < points; ++i) {
      if ((corners[i] ^ corners[(i + 1) % points]) == 3) return GlyphShape::kOutline;
    }
  } else if (seen != 0b1001 && seen != 0b0110) {
    return GlyphShape::kOutline;
  }
  if (box != nullptr) *box = {*xMin, *yMin, *xMax, *yMax};
  return GlyphShape::kBox;
}

OutlineSummary TrueTypeFont::SummarizeOutlines() const {
  OutlineSummary summary;
  bool sameBox = true;
  for (std::size_t glyph = 1; glyph < glyphCount_; ++glyph) {
    GlyphBox box;
    const GlyphShape shape = Shape(static_cast<GlyphId>(glyph), &box);
    if (shape == GlyphShape::kEmpty) continue;
    ++summary.GlyphsWithOutlines;
    if (shape != GlyphShape::kBox) {
      sameBox = false;
      continue;
    }
    ++summary.BoxGlyphs;
    if (summary.BoxGlyphs == 1) {
      summary.CommonBox = box;
    } else if (summary.CommonBox != box) {
      sameBox = false;
    }
  }
  if (!sameBox) summary.CommonBox.reset();
  return summary;
}

}  // namespace quillane::fonts
