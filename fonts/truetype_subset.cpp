// TrueTypeFont::Subset: the glyphs kept, their data with or without
// instructions, and the sfnt file written around the new tables.
#include <algorithm>
#include <utility>

#include "fonts/sfnt_data.h"
#include "fonts/truetype_font.h"

namespace quillane::fonts {

using detail::AppendU16;
using detail::AppendU32;
using detail::PutU16;
using detail::PutU32;
using detail::SfntData;
using detail::Tag;

namespace {

// Component flags of a composite glyph.
constexpr std::uint16_t kArgsAreWords = 0x0001;
constexpr std::uint16_t kHasScale = 0x0008;
constexpr std::uint16_t kMoreComponents = 0x0020;
constexpr std::uint16_t kHasXYScale = 0x0040;
constexpr std::uint16_t kHasTwoByTwo = 0x0080;
constexpr std::uint16_t kHasInstructions = 0x0100;

// The sum that head's checksumAdjustment makes the whole font add up to.
constexpr std::uint32_t kChecksumMagic = 0xB1B0AFBA;
// loca's short format stores offsets / 2 in 16 bits.
constexpr std::size_t kMaxShortLocaOffset = 0x1FFFE;

// Calls visit(offset of the component's flags, its glyph) for each component
// of the composite glyph `glyph`, and returns the offset just after the last
// component record, or 0 when the records run beyond the data. Each record
// is at least 6 bytes, so the walk ends within the glyph.
template <typename Visit>
std::size_t WalkComponents(const SfntData& glyph, Visit visit) {
  std::size_t at = 10;  // after the glyph header
  for (;;) {
    if (!glyph.Holds(at, 4)) return 0;
    const std::uint16_t flags = glyph.U16(at);
    std::size_t size = 4 + ((flags & kArgsAreWords) != 0 ? 4 : 2);
    if ((flags & kHasScale) != 0) {
      size += 2;
    } else if ((flags & kHasXYScale) != 0) {
      size += 4;
    } else if ((flags & kHasTwoByTwo) != 0) {
      size += 8;
    }
    if (!glyph.Holds(at, size)) return 0;
    visit(at, glyph.U16(at + 2));
    at += size;
    if ((flags & kMoreComponents) == 0) return at;
  }
}

// The end of the simple glyph `glyph` of `contours` contours: after its
// flags (a flag with bit 3 set is repeated as often as the next byte says)
// and its coordinates (per point and axis one byte when the flag's short bit
// is set, none when only its same bit is, else two); 0 when they run beyond
// the data. Every round of the loop reads at least one byte of the glyph.
std::size_t SimpleGlyphEnd(const SfntData& glyph, std::size_t contours) {
  const std::size_t points = std::size_t{glyph.U16(10 + 2 * (contours - 1))} + 1;
  std::size_t at = 10 + 2 * contours;
  at += 2 + std::size_t{glyph.U16(at)};
  std::size_t coordinates = 0;
  for (std::size_t point = 0; point < points;) {
    if (!glyph.Holds(at, 1)) return 0;
    const std::uint8_t flag = glyph.U8(at++);
    std::size_t repeat = 1;
    if ((flag & 0x08) != 0) {
      if (!glyph.Holds(at, 1)) return 0;
      repeat += glyph.U8(at++);
    }
    if (repeat > points - point) return 0;
    const std::size_t x = (flag & 0x02) != 0 ? 1 : (flag & 0x10) != 0 ? 0 : 2;
    const std::size_t y = (flag & 0x04) != 0 ? 1 : (flag & 0x20) != 0 ? 0 : 2;
    coordinates += repeat * (x + y);
    point += repeat;
  }
  return glyph.Holds(at, coordinates) ? at + coordinates : 0;
}

// The glyph without its instructions: a simple glyph's instructionLength set
// to 0 and the instructions cut out, a composite glyph's
// WE_HAVE_INSTRUCTIONS flags cleared; either one ends where its outline
// does, without the padding it had. Data that does not read is kept as it
// is.
Text StripInstructions(std::string_view bytes) {
  const SfntData glyph(bytes);
  if (glyph.Size() < 10) return Text(bytes);
  const int contours = glyph.S16(0);
  if (contours > 0) {
    const std::size_t lengthAt = 10 + 2 * static_cast<std::size_t>(contours);
    const std::size_t end = SimpleGlyphEnd(glyph, static_cast<std::size_t>(contours));
    if (end == 0) return Text(bytes);
    Text stripped(bytes.substr(0, lengthAt));
    AppendU16(stripped, 0);
    const std::size_t outline = lengthAt + 2 + glyph.U16(lengthAt);
    stripped += bytes.substr(outline, end - outline);
    return stripped;
  }
  if (contours < 0) {
    Text stripped(bytes);
    const std::size_t end = WalkComponents(glyph, [&](std::size_t flagsAt, GlyphId) {
      PutU16(stripped, flagsAt, glyph.U16(flagsAt) & ~std::uint32_t{kHasInstructions});
    });
    if (end == 0) return Text(bytes);
    stripped.resize(end);
    return stripped;
  }
  return Text(bytes);
}

// The sfnt checksum: the sum of the data as big-endian 32-bit words, the last
// one padded with zeros.
std::uint32_t Checksum(std::string_view bytes) {
  const SfntData data(bytes);
  std::uint32_t sum = 0;
  for (std::size_t at = 0; at < bytes.size(); at += 4) {
    std::uint32_t word = 0;
    for (std::size_t i = 0; i < 4; ++i) word = word << 8 | data.U8(at + i);
    sum += word;
  }
  return sum;
}

// A TrueType font file of `tables` (tag, data), which must be sorted by tag:
// the offset table, the directory, then each table at a 4-byte boundary; the
// checksums filled in, head's checksumAdjustment last.
Text WriteFont(const std::vector<std::pair<std::uint32_t, Text>>& tables) {
  const std::size_t count = tables.size();
  // searchRange is 16 times the largest power of two not above the number of
  // tables, entrySelector its log2, rangeShift the rest.
  std::size_t power = 1;
  std::size_t log = 0;
  while (power * 2 <= count) {
    power *= 2;
    ++log;
  }
  Text out;
  AppendU32(out, 0x00010000);
  AppendU16(out, static_cast<std::uint32_t>(count));
  AppendU16(out, static_cast<std::uint32_t>(power * 16));
  AppendU16(out, static_cast<std::uint32_t>(log));
  AppendU16(out, static_cast<std::uint32_t>(count * 16 - power * 16));
  const std::size_t directory = out.size();
  out.resize(directory + 16 * count, '\0');
  std::size_t head = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const auto& [tag, data] = tables[i];
    const std::size_t record = directory + 16 * i;
    const std::size_t offset = out.size();
    if (tag == Tag("head")) head = offset;
    out += data;
    out.resize((out.size() + 3) / 4 * 4, '\0');
    PutU32(out, record, tag);
    PutU32(out, record + 4, Checksum(data));
    PutU32(out, record + 8, static_cast<std::uint32_t>(offset));
    PutU32(out, record + 12, static_cast<std::uint32_t>(data.size()));
  }
  PutU32(out, head + 8, kChecksumMagic - Checksum(out));
  return out;
}

}  // namespace

Text TrueTypeFont::Subset(const std::vector<GlyphId>& glyphs, Hinting hinting) const {
  // The glyphs kept: 0, those asked for, and every component of a kept
  // composite glyph; each one enters `pending` once.
  std::vector<bool> kept(glyphCount_, false);
  std::vector<GlyphId> pending{0};
  kept[0] = true;
  for (const GlyphId glyph : glyphs) {
    if (glyph < glyphCount_ && !kept[glyph]) {
      kept[glyph] = true;
      pending.push_back(glyph);
    }
  }
  GlyphId last = 0;
  while (!pending.empty()) {
    const GlyphId glyph = pending.back();
    pending.pop_back();
    last = std::max(last, glyph);
    const SfntData data(GlyphData(glyph));
    if (data.Size() < 10 || data.S16(0) >= 0) continue;
    WalkComponents(data, [&](std::size_t, GlyphId component) {
      if (component < glyphCount_ && !kept[component]) {
        kept[component] = true;
        pending.push_back(component);
      }
    });
  }
  const std::size_t count = std::size_t{last} + 1;

  // glyf, each glyph at an even offset (the short loca format counts in
  // words); the offsets for loca.
  Text glyf;
  std::vector<std::size_t> offsets;
  offsets.reserve(count + 1);
  for (std::size_t glyph = 0; glyph < count; ++glyph) {
    offsets.push_back(glyf.size());
    if (!kept[glyph]) continue;
    // Padded before its instructions are stripped, so that a glyph reads the
    // same in the subset as it did here: its last record may need the pad.
    Text data(GlyphData(static_cast<GlyphId>(glyph)));
    if (data.size() % 2 != 0) data += '\0';
    glyf += hinting == Hinting::kStrip ? StripInstructions(data) : data;
    if (glyf.size() % 2 != 0) glyf += '\0';
  }
  offsets.push_back(glyf.size());
  const bool shortLoca = glyf.size() <= kMaxShortLocaOffset;
  Text loca;
  for (const std::size_t offset : offsets) {
    if (shortLoca) {
      AppendU16(loca, static_cast<std::uint32_t>(offset / 2));
    } else {
      AppendU32(loca, static_cast<std::uint32_t>(offset));
    }
  }
  // hmtx: the glyphs dropped advance 0 from their origin. Long metrics
  // (advance and left side bearing) run up to the last change of advance;
  // the glyphs after it take the last advance and store their bearings only.
  const auto advance = [&](std::size_t glyph) {
    return kept[glyph] ? AdvanceWidth(static_cast<GlyphId>(glyph)) : std::uint16_t{0};
  };
  std::size_t longMetrics = count;
  while (longMetrics > 1 && advance(longMetrics - 2) == advance(longMetrics - 1)) --longMetrics;
  Text hmtx;
  for (std::size_t glyph = 0; glyph < count; ++glyph) {
    if (glyph < longMetrics) AppendU16(hmtx, advance(glyph));
    const std::int16_t bearing =
        kept[glyph] ? LeftSideBearing(static_cast<GlyphId>(glyph)) : std::int16_t{0};
    AppendU16(hmtx, static_cast<std::uint16_t>(bearing));
  }

  const auto numberOfGlyphs = static_cast<std::uint32_t>(count);
  Text head(TableData(head_));
  PutU32(head, 8, 0);  // checksumAdjustment, set when the font is written
  PutU16(head, 50, shortLoca ? 0 : 1);
  Text hhea(TableData(hhea_));
  PutU16(hhea, 34, static_cast<std::uint32_t>(longMetrics));  // numberOfHMetrics
  Text maxp(TableData(maxp_));
  PutU16(maxp, 4, numberOfGlyphs);

  std::vector<std::pair<std::uint32_t, Text>> tables;
  const bool keepHinting = hinting == Hinting::kKeep;
  if (keepHinting && cvt_.Present()) tables.emplace_back(Tag("cvt "), TableData(cvt_));
  if (keepHinting && fpgm_.Present()) tables.emplace_back(Tag("fpgm"), TableData(fpgm_));
  tables.emplace_back(Tag("glyf"), std::move(glyf));
  tables.emplace_back(Tag("head"), std::move(head));
  tables.emplace_back(Tag("hhea"), std::move(hhea));
  tables.emplace_back(Tag("hmtx"), std::move(hmtx));
  tables.emplace_back(Tag("loca"), std::move(loca));
  tables.emplace_back(Tag("maxp"), std::move(maxp));
  if (keepHinting && prep_.Present()) tables.emplace_back(Tag("prep"), TableData(prep_));
  return WriteFont(tables);
}

}  // namespace quillane::fonts
