#include "pdf/objects/cross_reference.h"

#include <algorithm>
#include <set>

#include "base/byte_classes.h"
#include "base/checked_number.h"
#include "pdf/filters/stream_filters.h"
#include "pdf/objects/object_reader.h"

namespace quillane {

namespace {

// The type in the top two bits of an entry's word; the generation or index
// in the 30 bits below. A gap is a number no section lists, kept only to
// make the index dense.
constexpr std::uint32_t kTypeShift = 30;
constexpr std::uint32_t kLowMask = (std::uint32_t{1} << kTypeShift) - 1;
constexpr std::uint32_t kFreeType = 0;
constexpr std::uint32_t kInUseType = 1;
constexpr std::uint32_t kCompressedType = 2;
constexpr std::uint32_t kGapType = 3;
constexpr std::int64_t kMaxGeneration = 65535;
constexpr std::int64_t kMaxStreamIndex = kLowMask;

// The keys of the trailer that describe the document rather than a section.
constexpr std::string_view kTrailerKeys[] = {"Root", "Info", "ID", "Encrypt", "Size"};

// "startxref" is looked for in the last bytes first, then further back.
constexpr Position kStartxrefTail = 1024;
// "%PDF-" is looked for in the first bytes (junk before the header).
constexpr Position kHeaderSearch = 1024;
// A table is read in pieces of this size.
constexpr Position kTablePiece = Position{1} << 16;

std::uint32_t Word(std::uint32_t type, std::int64_t low) {
  return (type << kTypeShift) | static_cast<std::uint32_t>(low);
}

Text At(Position p) { return " at offset " + IntToText(p); }

// The file's bytes from a position on, one at a time, for the table's
// entries; read in large pieces.
class Cursor {
 public:
  Cursor(const FileAccess& source, Position at) : pieces_(source), p_(at) {}

  Position Pos() const { return p_; }
  // The byte at the position, or -1 at the end of the data.
  int Peek() {
    if (p_ < viewStart_ || p_ >= viewStart_ + static_cast<Position>(view_.size())) {
      view_ = pieces_.View(p_, p_ + kTablePiece);
      viewStart_ = p_;
      if (view_.empty()) return -1;
    }
    return static_cast<unsigned char>(view_[static_cast<std::size_t>(p_ - viewStart_)]);
  }
  void Advance() { ++p_; }
  void SkipWhiteSpace() {
    for (int c = Peek(); c >= 0 && IsWhiteSpace(static_cast<std::uint8_t>(c)); c = Peek()) ++p_;
  }
  // White space, and comments up to their line end.
  void SkipWhiteSpaceAndComments() {
    for (int c = Peek(); c >= 0; c = Peek()) {
      if (c == '%') {
        for (c = Peek(); c >= 0 && c != '\r' && c != '\n'; c = Peek()) ++p_;
      } else if (IsWhiteSpace(static_cast<std::uint8_t>(c))) {
        ++p_;
      } else {
        return;
      }
    }
  }
  // A run of decimal digits; nothing when there is none or it passes 64 bits.
  std::optional<std::int64_t> Digits() {
    std::int64_t value = 0;
    bool any = false;
    for (int c = Peek(); c >= '0' && c <= '9'; c = Peek()) {
      if (!AddDecimalDigit(value, c - '0')) return std::nullopt;
      any = true;
      ++p_;
    }
    if (!any) return std::nullopt;
    return value;
  }
  bool Matches(std::string_view word) {
    const std::string_view view = pieces_.View(p_, p_ + static_cast<Position>(word.size()));
    view_ = {};
    return view == word;
  }

 private:
  FilePieces pieces_;
  Position p_;
  std::string_view view_;
  Position viewStart_ = 0;
};

// Reads the chain for one way of counting offsets: `shift` is added to
// every offset the file gives.
class ChainReader {
 public:
  ChainReader(const FileAccess& source, Position shift)
      : source_(source), pieces_(source), shift_(shift), builder_(source.Size()) {}

  std::optional<CrossReference> Read(Position startxref) {
    std::set<Position> visited;
    std::optional<SectionForm> newestForm;
    std::size_t sections = 0;
    const Position newest = startxref + shift_;
    for (std::optional<Position> at = newest; at;) {
      if (!visited.insert(*at).second)
        return Fail("the /Prev chain returns to offset " + IntToText(*at));
      const std::optional<Section> section = ReadSection(*at, newestForm.has_value());
      if (!section) return std::nullopt;
      if (!newestForm) newestForm = section->Form;
      sections += section->Parts;
      at = section->Prev;
    }
    return builder_.Finish(*newestForm, newest, sections);
  }

  const Text& Reason() const { return reason_; }

 private:
  struct Section {
    SectionForm Form = SectionForm::kTable;
    std::optional<Position> Prev;
    std::size_t Parts = 1;
  };

  std::nullopt_t Fail(Text reason) {
    reason_ = std::move(reason);
    return std::nullopt;
  }

  // The offset a section's dictionary gives under `key`, shifted; nothing
  // when absent. Sets the reason and `bad` when it is there but no offset
  // inside the file.
  std::optional<Position> OffsetEntry(const PdfObject& dictionary, std::string_view key,
                                      Position section, bool& bad) {
    const PdfObject* value = dictionary.Find(key);
    if (value == nullptr) return std::nullopt;
    const std::optional<std::int64_t> offset = NonNegativeInteger(value);
    if (!offset || *offset > source_.Size() - shift_ - 1) {
      bad = true;
      reason_ = "/" + Text(key) + " of the section" + At(section) + " is no offset in the file";
      return std::nullopt;
    }
    return *offset + shift_;
  }

  void TakeTrailerValues(const PdfObject& dictionary, Position valueStart) {
    for (const std::string_view key : kTrailerKeys) {
      const PdfObject* value = dictionary.Find(key);
      if (value == nullptr || builder_.HasTrailerValue(key)) continue;
      TrailerValue taken;
      taken.Value = *value;
      taken.Bytes = Text(pieces_.View(valueStart + static_cast<Position>(value->Start),
                                      valueStart + static_cast<Position>(value->End)));
      builder_.AddTrailerValue(key, std::move(taken));
    }
  }

  std::optional<Section> ReadSection(Position at, bool older) {
    // White space may stand between the offset and the section.
    const std::string_view head = pieces_.View(at, at + 64);
    std::size_t skip = 0;
    while (skip < head.size() && IsWhiteSpace(head[skip])) ++skip;
    const Position start = at + static_cast<Position>(skip);
    if (head.substr(skip, 4) == "xref") return ReadTable(start);
    const ObjectReading reading = ReadObjectAt(pieces_, start, source_.Size());
    if (!reading.Object || !reading.Object->IsStream) {
      return Fail(older ? "no cross-reference section" + At(at) + " (named by /Prev)"
                        : "no cross-reference section" + At(at));
    }
    Section section;
    section.Form = SectionForm::kStream;
    if (!ReadStream(*reading.Object, true, section.Prev)) return std::nullopt;
    return section;
  }

  // A classic table (ISO 32000-1, 7.5.4): subsections of "first count" and
  // entries of an offset, a generation and "n" or "f" each, white space
  // between them read leniently, so that 19- and 21-byte entries read as
  // well as 20-byte ones. Then "trailer" and its dictionary, and the
  // section's /XRefStm stream when it has one.
  std::optional<Section> ReadTable(Position at) {
    Cursor cursor(source_, at + 4);
    const std::int64_t begin = builder_.Added();
    for (;;) {
      cursor.SkipWhiteSpace();
      if (cursor.Peek() == 't') break;
      const Position header = cursor.Pos();
      const std::optional<std::int64_t> first = cursor.Digits();
      cursor.SkipWhiteSpace();
      const std::optional<std::int64_t> count = cursor.Digits();
      if (!first || !count) {
        return Fail("cross-reference table" + At(at) + ": no subsection or trailer" + At(header));
      }
      if (*count > kMaxObjectNumber + 1 - *first) {
        return Fail("cross-reference table" + At(at) + ": object numbers beyond " +
                    IntToText(kMaxObjectNumber));
      }
      // Each entry takes at least 18 bytes: the data bounds what is reserved.
      const Position left = source_.Size() - cursor.Pos();
      if (!builder_.Reserve(std::min<std::int64_t>(*count, left / 18 + 1))) {
        return Fail("more than " + IntToText(kMaxXrefEntries) + " cross-reference entries");
      }
      for (std::int64_t k = 0; k < *count; ++k) {
        const std::int64_t number = *first + k;
        cursor.SkipWhiteSpace();
        const std::optional<std::int64_t> offset = cursor.Digits();
        cursor.SkipWhiteSpace();
        const std::optional<std::int64_t> generation = cursor.Digits();
        cursor.SkipWhiteSpace();
        const int type = cursor.Peek();
        if (!offset || !generation || (type != 'n' && type != 'f')) {
          return Fail("cross-reference table" + At(at) + ": entry for object " + IntToText(number) +
                      " unreadable" + At(cursor.Pos()));
        }
        cursor.Advance();
        if (!builder_.Reserve(1)) {
          return Fail("more than " + IntToText(kMaxXrefEntries) + " cross-reference entries");
        }
        if (type == 'f') {
          builder_.AddFree(number, std::min(*generation, kMaxGeneration));
        } else if (*generation > kMaxGeneration || *offset > kMaxInt64 - shift_) {
          builder_.AddFree(number, 0);
        } else {
          builder_.AddInUse(number, *generation, *offset + shift_);
        }
      }
    }
    if (!cursor.Matches("trailer")) {
      return Fail("cross-reference table" + At(at) + ": no trailer" + At(cursor.Pos()));
    }
    const std::optional<ValueReading> trailer =
        ReadValueAt(pieces_, cursor.Pos() + 7, source_.Size());
    if (!trailer || trailer->Value.Kind != PdfObject::Type::kDictionary) {
      return Fail("cross-reference table" + At(at) + ": no trailer dictionary");
    }
    TakeTrailerValues(trailer->Value, trailer->ValueStart);
    Section section;
    bool bad = false;
    section.Prev = OffsetEntry(trailer->Value, "Prev", at, bad);
    const std::optional<Position> stream = OffsetEntry(trailer->Value, "XRefStm", at, bad);
    if (bad) return std::nullopt;
    if (stream) {
      // A hybrid file (ISO 32000-1, 7.5.8.4): the stream's entries come
      // after the table's in-use entries and before its free ones, which
      // hide objects from readers without cross-reference streams only.
      const std::int64_t tableEnd = builder_.Added();
      const ObjectReading reading = ReadObjectAt(pieces_, *stream, source_.Size());
      if (!reading.Object || !reading.Object->IsStream) {
        return Fail("no cross-reference stream" + At(*stream) + " (named by /XRefStm)");
      }
      std::optional<Position> ignored;
      if (!ReadStream(*reading.Object, false, ignored)) return std::nullopt;
      builder_.MoveFreeEntriesLast(begin, tableEnd);
      ++section.Parts;
    }
    return section;
  }

  // A cross-reference stream (ISO 32000-1, 7.5.8): rows of /W field
  // widths for the numbers of /Index, through the stream's filters.
  bool ReadStream(const ParsedObject& object, bool takeTrailer, std::optional<Position>& prev) {
    const PdfObject& dictionary = object.Value;
    const Position at = object.HeaderStart;
    const Text where = "cross-reference stream" + At(at);
    const PdfObject* type = dictionary.Find("Type");
    if (type != nullptr && !type->IsName("XRef")) {
      reason_ = "no cross-reference section" + At(at) + " (an object of another /Type)";
      return false;
    }
    std::int64_t widths[3] = {0, 0, 0};
    const PdfObject* w = dictionary.Find("W");
    if (w == nullptr || w->Kind != PdfObject::Type::kArray || w->Items.size() != 3) {
      reason_ = where + ": no /W of three widths";
      return false;
    }
    for (std::size_t i = 0; i < 3; ++i) {
      const std::optional<std::int64_t> width = NonNegativeInteger(&w->Items[i]);
      if (!width || *width > 8) {
        reason_ = where + ": /W widths must be 0 to 8 bytes";
        return false;
      }
      widths[i] = *width;
    }
    const std::int64_t rowWidth = widths[0] + widths[1] + widths[2];
    const std::optional<std::int64_t> size = NonNegativeInteger(dictionary.Find("Size"));
    if (!size || *size > kMaxObjectNumber + 1 || rowWidth == 0) {
      reason_ = where + (rowWidth == 0 ? ": /W of zero widths" : ": no /Size");
      return false;
    }
    // /Index: pairs of first number and count; [0 Size] when absent.
    std::vector<std::pair<std::int64_t, std::int64_t>> ranges;
    std::int64_t rows = 0;
    if (const PdfObject* index = dictionary.Find("Index")) {
      if (index->Kind != PdfObject::Type::kArray || index->Items.size() % 2 != 0) {
        reason_ = where + ": /Index not pairs of numbers";
        return false;
      }
      for (std::size_t i = 0; i < index->Items.size(); i += 2) {
        const std::optional<std::int64_t> first = NonNegativeInteger(&index->Items[i]);
        const std::optional<std::int64_t> count = NonNegativeInteger(&index->Items[i + 1]);
        if (!first || !count || *first > kMaxObjectNumber ||
            *count > kMaxObjectNumber + 1 - *first) {
          reason_ = where + ": /Index not pairs of numbers";
          return false;
        }
        ranges.emplace_back(*first, *count);
        rows = std::min(rows + *count, kMaxXrefEntries + 1);
      }
    } else {
      ranges.emplace_back(0, *size);
      rows = *size;
    }
    if (rows > kMaxXrefEntries) {
      reason_ = "more than " + IntToText(kMaxXrefEntries) + " cross-reference entries";
      return false;
    }
    if (takeTrailer) TakeTrailerValues(dictionary, object.ValueStart);
    bool bad = false;
    prev = OffsetEntry(dictionary, "Prev", at, bad);
    if (bad) return false;
    // A cross-reference stream may not take its /Length by reference: the
    // index is not there yet. Such a length is found by "endstream".
    const std::optional<std::int64_t> length =
        dictionary.Find("Length") != nullptr ? dictionary.Find("Length")->Integer() : std::nullopt;
    const std::optional<StreamExtent> extent =
        FindStreamExtent(pieces_, object.DataStart, length, source_.Size());
    if (!extent) {
      reason_ = where + ": no endstream";
      return false;
    }
    const FilterChain chain = ReadFilterChain(dictionary);
    if (!chain.Filters) {
      reason_ = where + ": " + chain.Reason;
      return false;
    }
    const Text raw(pieces_.View(extent->DataStart, extent->DataEnd));
    // The rows declared are about all that is decoded: a predictor adds one
    // byte a row before it is undone, and writers pad a little.
    const DecodedData decoded = DecodeStreamData(
        raw, *chain.Filters,
        std::min(kMaxDecodedSize, static_cast<std::size_t>(rows * (rowWidth + 1)) + 4096));
    if (!decoded.Data) {
      reason_ = where + ": " + decoded.Reason;
      return false;
    }
    const std::string_view data = *decoded.Data;
    if (static_cast<std::int64_t>(data.size()) < rows * rowWidth) {
      reason_ = where + ": data for " +
                IntToText(static_cast<std::int64_t>(data.size()) / rowWidth) + " of " +
                IntToText(rows) + " entries";
      return false;
    }
    if (!builder_.Reserve(rows)) {
      reason_ = "more than " + IntToText(kMaxXrefEntries) + " cross-reference entries";
      return false;
    }
    std::size_t p = 0;
    const auto field = [&data, &p](std::int64_t width) {
      std::uint64_t value = 0;
      for (std::int64_t i = 0; i < width; ++i)
        value = (value << 8) | static_cast<std::uint8_t>(data[p++]);
      return value;
    };
    constexpr std::uint64_t kLargest = static_cast<std::uint64_t>(kMaxInt64);
    for (const auto& [first, count] : ranges) {
      for (std::int64_t k = 0; k < count; ++k) {
        const std::int64_t number = first + k;
        // A missing type field means type 1 (ISO 32000-1, Table 17).
        const std::uint64_t rowType = widths[0] == 0 ? 1 : field(widths[0]);
        const std::uint64_t second = field(widths[1]);
        const std::uint64_t third = field(widths[2]);
        if (rowType == 1 && third <= kMaxGeneration && second <= kLargest &&
            static_cast<std::int64_t>(second) <= kMaxInt64 - shift_) {
          builder_.AddInUse(number, static_cast<std::int64_t>(third),
                            static_cast<std::int64_t>(second) + shift_);
        } else if (rowType == 2 && second <= static_cast<std::uint64_t>(kMaxObjectNumber) &&
                   third <= static_cast<std::uint64_t>(kMaxStreamIndex) &&
                   static_cast<std::int64_t>(second) != number) {
          builder_.AddCompressed(number, static_cast<std::int64_t>(second),
                                 static_cast<std::int64_t>(third));
        } else {
          // Type 0, and any other type or a value out of range: a reference
          // to the null object (ISO 32000-1, 7.5.8.3).
          builder_.AddFree(number, rowType == 0 ? static_cast<std::int64_t>(std::min<std::uint64_t>(
                                                      third, kMaxGeneration))
                                                : 0);
        }
      }
    }
    return true;
  }

  const FileAccess& source_;
  FilePieces pieces_;
  Position shift_;
  CrossReferenceBuilder builder_;
  Text reason_;
};

// The offset after the last "startxref", or the reason there is none.
std::optional<Position> FindStartxref(const FileAccess& source, Text& reason) {
  FilePieces pieces(source);
  const Position size = source.Size();
  constexpr std::string_view kKeyword = "startxref";
  Position found = -1;
  // Pieces from the end, each overlapping the last by the keyword's length.
  for (Position length = kStartxrefTail; found < 0; length *= 8) {
    const Position from = std::max<Position>(0, size - length);
    const std::string_view view = pieces.View(from, size);
    const std::size_t at = view.rfind(kKeyword);
    if (at != std::string_view::npos) found = from + static_cast<Position>(at);
    if (from == 0) break;
  }
  if (found < 0) {
    reason = "no startxref at the end of the file";
    return std::nullopt;
  }
  Cursor cursor(source, found + static_cast<Position>(kKeyword.size()));
  cursor.SkipWhiteSpaceAndComments();
  const std::optional<std::int64_t> offset = cursor.Digits();
  if (!offset) {
    reason = "no offset after startxref" + At(found);
    return std::nullopt;
  }
  if (*offset >= size) {
    reason = "startxref names offset " + IntToText(*offset) + ", beyond the end of the file";
    return std::nullopt;
  }
  return *offset;
}

}  // namespace

// ---------------------------------------------------------------------------
// CrossReferenceBuilder

CrossReferenceBuilder::CrossReferenceBuilder(Position fileSize) : fileSize_(fileSize) {}

bool CrossReferenceBuilder::Reserve(std::int64_t more) {
  const auto size = static_cast<std::int64_t>(entries_.size());
  if (more > kMaxXrefEntries - size) return false;
  if (static_cast<std::int64_t>(entries_.capacity()) < size + more) {
    entries_.reserve(static_cast<std::size_t>(size + more));
  }
  return true;
}

void CrossReferenceBuilder::Add(std::uint32_t number, std::uint32_t word, std::uint64_t value) {
  entries_.push_back({value, number, word});
}

void CrossReferenceBuilder::AddFree(std::int64_t number, std::int64_t generation) {
  Add(static_cast<std::uint32_t>(number), Word(kFreeType, generation), 0);
}

void CrossReferenceBuilder::AddInUse(std::int64_t number, std::int64_t generation,
                                     Position offset) {
  if (offset < 0 || offset >= fileSize_) {
    // Outside the file: no object can be there.
    ++dropped_;
    AddFree(number, 0);
    return;
  }
  Add(static_cast<std::uint32_t>(number), Word(kInUseType, generation),
      static_cast<std::uint64_t>(offset));
}

void CrossReferenceBuilder::AddCompressed(std::int64_t number, std::int64_t streamNumber,
                                          std::int64_t index) {
  Add(static_cast<std::uint32_t>(number), Word(kCompressedType, index),
      static_cast<std::uint64_t>(streamNumber));
}

void CrossReferenceBuilder::MoveFreeEntriesLast(std::int64_t begin, std::int64_t tableEnd) {
  const auto first = entries_.begin() + begin;
  const auto middle = entries_.begin() + tableEnd;
  const auto freeStart = std::stable_partition(
      first, middle, [](const auto& entry) { return (entry.Word >> kTypeShift) != kFreeType; });
  std::rotate(freeStart, middle, entries_.end());
}

void CrossReferenceBuilder::AddTrailerValue(std::string_view key, TrailerValue value) {
  if (HasTrailerValue(key)) return;
  trailer_.emplace_back(Text(key), std::move(value));
}

bool CrossReferenceBuilder::HasTrailerValue(std::string_view key) const {
  return std::any_of(trailer_.begin(), trailer_.end(),
                     [key](const auto& entry) { return entry.first == key; });
}

CrossReference CrossReferenceBuilder::Finish(SectionForm newestForm, Position newestSection,
                                             std::size_t sections) {
  auto& entries = entries_;
  const auto byNumber = [](const auto& a, const auto& b) { return a.Number < b.Number; };
  const bool ascending =
      std::adjacent_find(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return a.Number >= b.Number;
      }) == entries.end();
  if (!ascending) {
    // Stable: of the entries for one number the first added, the newest,
    // stays first and survives.
    std::stable_sort(entries.begin(), entries.end(), byNumber);
    entries.erase(std::unique(entries.begin(), entries.end(),
                              [](const auto& a, const auto& b) { return a.Number == b.Number; }),
                  entries.end());
  }
  CrossReference xref;
  // Dense when every number up to the largest is there or the gaps are
  // few: the gaps are filled in place, from the back.
  if (!entries.empty()) {
    const std::size_t count = entries.size();
    const std::size_t slots = std::size_t{entries.back().Number} + 1;
    if (slots == count) {
      xref.dense_ = true;
    } else if (slots <= count + count / 4 + 1024) {
      // Numbers ascend and each entry moves up to its number, so moving
      // from the back overwrites only slots already read.
      entries.resize(slots);
      const CrossReference::PackedEntry gap{0, 0, Word(kGapType, 0)};
      std::size_t end = slots;
      for (std::size_t i = count; i-- > 0;) {
        const CrossReference::PackedEntry entry = entries[i];
        for (std::size_t k = std::size_t{entry.Number} + 1; k < end; ++k) {
          entries[k] = gap;
          entries[k].Number = static_cast<std::uint32_t>(k);
        }
        entries[entry.Number] = entry;
        end = entry.Number;
      }
      for (std::size_t k = 0; k < end; ++k) {
        entries[k] = gap;
        entries[k].Number = static_cast<std::uint32_t>(k);
      }
      xref.dense_ = true;
    }
  }
  for (const auto& entry : entries) {
    const std::uint32_t type = entry.Word >> kTypeShift;
    if (type == kInUseType || type == kCompressedType) ++xref.liveCount_;
  }
  xref.entries_ = std::move(entries);
  xref.trailer_ = std::move(trailer_);
  xref.newestForm_ = newestForm;
  xref.newestSection_ = newestSection;
  xref.sectionCount_ = sections;
  xref.dropped_ = dropped_;
  return xref;
}

CrossReference CrossReferenceBuilder::FinishReconstructed(SectionForm form, Text reason) {
  CrossReference xref = Finish(form, -1, 0);
  xref.reconstructed_ = true;
  xref.reason_ = std::move(reason);
  return xref;
}

// ---------------------------------------------------------------------------
// CrossReference

XrefEntry CrossReference::Unpack(const PackedEntry& packed) {
  XrefEntry entry;
  entry.Number = packed.Number;
  const std::uint32_t type = packed.Word >> kTypeShift;
  const std::int64_t low = packed.Word & kLowMask;
  if (type == kInUseType) {
    entry.Type = XrefEntryType::kInUse;
    entry.Generation = low;
    entry.Offset = static_cast<Position>(packed.Value);
  } else if (type == kCompressedType) {
    entry.Type = XrefEntryType::kCompressed;
    entry.StreamNumber = static_cast<std::int64_t>(packed.Value);
    entry.StreamIndex = low;
  } else {
    entry.Generation = low;
  }
  return entry;
}

std::optional<std::size_t> CrossReference::SlotOf(std::int64_t number) const {
  if (number < 0 || number > kMaxObjectNumber) return std::nullopt;
  const auto n = static_cast<std::uint32_t>(number);
  if (dense_) {
    if (n >= entries_.size()) return std::nullopt;
    return n;
  }
  const auto found = std::lower_bound(
      entries_.begin(), entries_.end(), n,
      [](const PackedEntry& entry, std::uint32_t value) { return entry.Number < value; });
  if (found == entries_.end() || found->Number != n) return std::nullopt;
  return static_cast<std::size_t>(found - entries_.begin());
}

std::optional<std::size_t> CrossReference::LiveSlotOf(ObjectKey key) const {
  const std::optional<std::size_t> slot = SlotOf(ObjectNumber(key));
  if (!slot) return std::nullopt;
  const std::optional<XrefEntry> entry = EntryAt(*slot);
  if (!entry || !entry->Live() || entry->Generation != ObjectGeneration(key)) return std::nullopt;
  return slot;
}

std::optional<XrefEntry> CrossReference::EntryAt(std::size_t slot) const {
  const PackedEntry& packed = entries_[slot];
  if ((packed.Word >> kTypeShift) == kGapType) return std::nullopt;
  return Unpack(packed);
}

std::optional<XrefEntry> CrossReference::Find(std::int64_t number) const {
  const std::optional<std::size_t> slot = SlotOf(number);
  if (!slot) return std::nullopt;
  return EntryAt(*slot);
}

void CrossReference::ForEachLiveEntry(const std::function<void(const XrefEntry&)>& visit) const {
  for (const PackedEntry& packed : entries_) {
    const std::uint32_t type = packed.Word >> kTypeShift;
    if (type == kInUseType || type == kCompressedType) visit(Unpack(packed));
  }
}

const TrailerValue* CrossReference::Trailer(std::string_view key) const {
  for (const auto& [name, value] : trailer_) {
    if (name == key) return &value;
  }
  return nullptr;
}

std::optional<ObjectKey> CrossReference::RootKey() const {
  const TrailerValue* root = Trailer("Root");
  if (root == nullptr || root->Value.Kind != PdfObject::Type::kReference) return std::nullopt;
  return MakeObjectKey(root->Value.Number, root->Value.Generation);
}

CrossReferenceReading CrossReference::Read(const FileAccess& source) {
  CrossReferenceReading reading;
  const std::optional<Position> startxref = FindStartxref(source, reading.Reason);
  if (!startxref) return reading;
  ChainReader reader(source, 0);
  reading.Xref = reader.Read(*startxref);
  if (reading.Xref) return reading;
  reading.Reason = reader.Reason();
  // Junk before the header: the offsets may count from the header.
  FilePieces pieces(source);
  const std::size_t header = pieces.View(0, kHeaderSearch).find("%PDF-");
  if (header != std::string_view::npos && header > 0 &&
      *startxref + static_cast<Position>(header) < source.Size()) {
    ChainReader shifted(source, static_cast<Position>(header));
    reading.Xref = shifted.Read(*startxref);
    if (reading.Xref) reading.Reason.clear();
  }
  return reading;
}

CrossReference CrossReference::ReadOrReconstruct(const FileAccess& source, const LogHook& log) {
  CrossReferenceReading reading = Read(source);
  if (reading.Xref) return std::move(*reading.Xref);
  CrossReference xref = Reconstruct(source, reading.Reason);
  if (log) {
    log("Cross-reference not readable (" + reading.Reason +
        "); reconstructed: " + IntToText(static_cast<std::int64_t>(xref.LiveCount())) + " objects");
  }
  return xref;
}

}  // namespace quillane
