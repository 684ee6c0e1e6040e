// The index of a file whose cross-reference chain cannot be read, rebuilt as
// readers repair such files: one pass over the file finds every header
// "N G obj" that stands at a line start or after white space, reads the
// object there (passing over a stream's data, so that headers inside it are
// not taken) and every "trailer" keyword's dictionary. A later definition of
// a number wins, objects in object streams counting at the stream's
// position; the object streams are those that are the winning definition of
// their number.
#include <algorithm>

#include "base/byte_classes.h"
#include "base/checked_number.h"
#include "pdf/filters/stream_filters.h"
#include "pdf/objects/cross_reference.h"
#include "pdf/objects/object_reader.h"
#include "pdf/objects/object_stream.h"

namespace quillane {

namespace {

// Bytes kept before a piece: enough for "N G obj" before an "obj" at the
// piece's start (ten digits, five digits, blanks) and for "trailer".
constexpr Position kLookBack = 64;
// Object bodies are read within this much work (bytes read), a multiple of
// the file's size: beyond it, headers are still taken but their objects
// are not read (a file of nothing but unclosed arrays would otherwise read
// the rest of the file for each).
constexpr Position kBodyBudgetPerByte = 8;
constexpr Position kBodyBudgetBase = Position{4} << 20;
// Decoded object streams, likewise.
constexpr std::size_t kDecodeBudgetPerByte = 16;
constexpr std::size_t kDecodeBudgetBase = std::size_t{64} << 20;
// Of an object in an object stream only /Type is read: whether it is the
// catalog. The rest of a large dictionary is passed over token by token.
constexpr EntryFilter::Entry kTypeEntry[] = {{"Type"}};
constexpr EntryFilter kTypeOnly{kTypeEntry};
// Rounds of dropping object streams whose number a later definition took.
constexpr std::size_t kStreamRounds = 16;

// One definition of an object: a header in the file, or a pair of an
// object stream (at the stream's header position).
struct Definition {
  std::int64_t Number = 0;
  std::int64_t Generation = 0;
  Position At = 0;  // where it counts: its header, or its stream's
  Position Offset = 0;
  std::int64_t StreamNumber = -1;  // compressed: the stream and index
  std::int64_t StreamIndex = 0;
  bool Catalog = false;
};

struct TrailerFound {
  Position At = 0;
  SectionForm Form = SectionForm::kTable;
  PdfObject Dictionary;
  Position ValueStart = 0;
};

struct ObjectStreamFound {
  std::int64_t Number = 0;
  Position At = 0;
  PdfObject Dictionary;
  Position DataStart = 0;
  Position DataEnd = 0;
};

class Reconstruction {
 public:
  explicit Reconstruction(const FileAccess& source)
      : source_(source),
        size_(source.Size()),
        scan_(source),
        bodies_(source),
        bodyBudget_(kBodyBudgetPerByte * size_ + kBodyBudgetBase),
        decodeBudget_(kDecodeBudgetPerByte * static_cast<std::size_t>(size_) + kDecodeBudgetBase) {}

  CrossReference Run(Text reason) {
    Scan();
    // The object streams that win their number give their objects.
    std::vector<Definition> all = direct_;
    const std::vector<Definition> headers = Winners(all);
    for (const ObjectStreamFound& stream : streams_) {
      const Definition* winner = Winner(headers, stream.Number);
      if (winner != nullptr && winner->At == stream.At) AddStreamObjects(stream, all);
    }
    // A stream's pairs count only while the stream wins its number: one
    // whose number a later object stream redefines holds nothing a reader
    // can reach (object streams do not nest, ISO 32000-1, 7.5.7), and the
    // earlier definitions of its objects stand again. Each round drops at
    // least one stream; what still names a lost stream after the last round
    // is passed over.
    std::vector<Definition> winners = Winners(all);
    for (std::size_t round = 0; round < kStreamRounds; ++round) {
      std::vector<std::pair<std::int64_t, Position>> lost;
      for (const Definition& definition : winners) {
        if (definition.StreamNumber >= 0 && !StreamStands(winners, definition)) {
          lost.emplace_back(definition.StreamNumber, definition.At);
        }
      }
      if (lost.empty()) break;
      std::sort(lost.begin(), lost.end());
      std::erase_if(all, [&lost](const Definition& d) {
        return d.StreamNumber >= 0 &&
               std::binary_search(lost.begin(), lost.end(), std::make_pair(d.StreamNumber, d.At));
      });
      winners = Winners(all);
    }
    std::erase_if(winners, [&winners](const Definition& d) {
      return d.StreamNumber >= 0 && !StreamStands(winners, d);
    });

    CrossReferenceBuilder builder(size_);
    builder.Reserve(std::min(static_cast<std::int64_t>(winners.size()), kMaxXrefEntries));
    for (const Definition& definition : winners) {
      if (!builder.Reserve(1)) break;
      if (definition.StreamNumber >= 0) {
        builder.AddCompressed(definition.Number, definition.StreamNumber, definition.StreamIndex);
      } else {
        builder.AddInUse(definition.Number, definition.Generation, definition.Offset);
      }
    }
    // The trailer: the last one found wins, key by key; a /Root that names
    // no object found is passed over.
    FilePieces values(source_);
    for (auto found = trailers_.rbegin(); found != trailers_.rend(); ++found) {
      for (const std::string_view key : {"Root", "Info", "ID", "Encrypt"}) {
        const PdfObject* value = found->Dictionary.Find(key);
        if (value == nullptr || builder.HasTrailerValue(key)) continue;
        if (key == "Root" && !Names(winners, *value)) continue;
        const Position start = found->ValueStart + static_cast<Position>(value->Start);
        const Position end = found->ValueStart + static_cast<Position>(value->End);
        builder.AddTrailerValue(key, TrailerValue{*value, Text(values.View(start, end))});
      }
    }
    if (!builder.HasTrailerValue("Root")) {
      if (const Definition* catalog = LastCatalog(winners)) {
        TrailerValue root;
        root.Value.Kind = PdfObject::Type::kReference;
        root.Value.Number = catalog->Number;
        root.Value.Generation = catalog->Generation;
        root.Bytes = ObjectKeyToText(MakeObjectKey(catalog->Number, catalog->Generation)) + " R";
        builder.AddTrailerValue("Root", std::move(root));
      }
    }
    // /Size covers every number found.
    TrailerValue size;
    size.Value.Kind = PdfObject::Type::kNumber;
    size.Value.Value = IntToText(winners.empty() ? 0 : winners.back().Number + 1);
    size.Bytes = size.Value.Value;
    builder.AddTrailerValue("Size", std::move(size));
    const SectionForm form = trailers_.empty() ? SectionForm::kTable : trailers_.back().Form;
    return builder.FinishReconstructed(form, std::move(reason));
  }

 private:
  // The latest definition of each number, sorted by number. Of two
  // definitions at one position (pairs of one object stream) the later
  // pair wins.
  static std::vector<Definition> Winners(std::vector<Definition> all) {
    std::stable_sort(all.begin(), all.end(), [](const Definition& a, const Definition& b) {
      if (a.Number != b.Number) return a.Number < b.Number;
      if (a.At != b.At) return a.At > b.At;
      return a.StreamIndex > b.StreamIndex;
    });
    all.erase(
        std::unique(all.begin(), all.end(),
                    [](const Definition& a, const Definition& b) { return a.Number == b.Number; }),
        all.end());
    return all;
  }

  static const Definition* Winner(const std::vector<Definition>& winners, std::int64_t number) {
    const auto found =
        std::lower_bound(winners.begin(), winners.end(), number,
                         [](const Definition& d, std::int64_t value) { return d.Number < value; });
    return found != winners.end() && found->Number == number ? &*found : nullptr;
  }

  // True when the object stream that holds `definition` is the winning
  // definition of its number, in the file where the pair was read.
  static bool StreamStands(const std::vector<Definition>& winners, const Definition& definition) {
    const Definition* stream = Winner(winners, definition.StreamNumber);
    return stream != nullptr && stream->StreamNumber < 0 && stream->At == definition.At;
  }

  // True when `value` refers to a number and generation that was found.
  static bool Names(const std::vector<Definition>& winners, const PdfObject& value) {
    if (value.Kind != PdfObject::Type::kReference) return false;
    const Definition* winner = Winner(winners, value.Number);
    return winner != nullptr && winner->Generation == value.Generation;
  }

  // The last object of /Type /Catalog found, of those that win their
  // number.
  static const Definition* LastCatalog(const std::vector<Definition>& winners) {
    const Definition* last = nullptr;
    for (const Definition& definition : winners) {
      if (!definition.Catalog) continue;
      if (last == nullptr || definition.At > last->At ||
          (definition.At == last->At && definition.StreamIndex > last->StreamIndex)) {
        last = &definition;
      }
    }
    return last;
  }

  void Scan() {
    Position p = 0;
    Position nextObj = -2;
    Position nextTrailer = -2;
    while (p < size_) {
      if (nextObj != -1 && nextObj < p) nextObj = FindFrom("obj", p);
      if (nextTrailer != -1 && nextTrailer < p) nextTrailer = FindFrom("trailer", p);
      if (nextObj < 0 && nextTrailer < 0) return;
      if (nextTrailer >= 0 && (nextObj < 0 || nextTrailer < nextObj)) {
        p = TakeTrailer(nextTrailer);
      } else {
        p = TakeObject(nextObj);
      }
    }
  }

  // Where `word` next occurs at or after `from`, standing alone (no regular
  // byte right after it); -1 when it does not.
  Position FindFrom(std::string_view word, Position from) {
    for (Position p = from;;) {
      const Position found = scan_.Find(word, p, size_);
      if (found < 0) return -1;
      const Position after = found + static_cast<Position>(word.size());
      const std::string_view next = scan_.View(after, after + 1);
      if (next.empty() || !IsRegular(next[0])) return found;
      p = found + 1;
    }
  }

  Position TakeTrailer(Position keyword) {
    const Position after = keyword + 7;
    const std::string_view before = scan_.View(std::max<Position>(0, keyword - 1), keyword);
    if (!before.empty() && keyword > 0 && IsRegular(before[0])) return after;
    if (!Affordable()) return after;
    const std::optional<ValueReading> value = ReadValueAt(bodies_, after, size_);
    if (!value || value->Value.Kind != PdfObject::Type::kDictionary) return after;
    trailers_.push_back({keyword, SectionForm::kTable, value->Value, value->ValueStart});
    return value->ValueEnd;
  }

  bool Affordable() const { return bodies_.BytesRead() < bodyBudget_; }

  // The header whose "obj" is at `keyword`, its object read when the work
  // allows; returns where the scan goes on.
  Position TakeObject(Position keyword) {
    const Position after = keyword + 3;
    const Position from = std::max<Position>(0, keyword - kLookBack);
    const std::string_view view = scan_.View(from, keyword);
    // Back over: white space, generation, white space, number; white space
    // or the file's start before the number. Each step stops at the view's
    // first byte.
    std::size_t i = view.size();
    const auto back = [&view, &i](bool (*test)(char)) {
      const std::size_t stop = i;
      while (i > 0 && test(view[i - 1])) --i;
      return stop - i;
    };
    const auto white = [](char c) { return IsWhiteSpace(c); };
    const auto digit = [](char c) { return IsDigit(c); };
    if (back(white) == 0) return after;
    const std::size_t generationEnd = i;
    const std::size_t generationDigits = back(digit);
    if (generationDigits == 0 || generationDigits > 5) return after;
    const std::size_t generationStart = i;
    if (back(white) == 0) return after;
    const std::size_t numberEnd = i;
    const std::size_t numberDigits = back(digit);
    if (numberDigits == 0 || numberDigits > 10) return after;
    if (i > 0 ? !IsWhiteSpace(view[i - 1]) : from > 0) return after;
    const std::optional<std::int64_t> number =
        DecimalValue(view.substr(i, numberEnd - i), kMaxObjectNumber);
    const std::optional<std::int64_t> generation =
        DecimalValue(view.substr(generationStart, generationEnd - generationStart), 65535);
    if (!number || !generation) return after;
    Definition definition;
    definition.Number = *number;
    definition.Generation = *generation;
    definition.At = from + static_cast<Position>(i);
    definition.Offset = definition.At;
    if (!Affordable()) {
      direct_.push_back(definition);
      return after;
    }
    const ObjectReading reading = ReadObjectAt(bodies_, definition.At, size_);
    if (!reading.Object || reading.Object->Number != *number) {
      direct_.push_back(definition);
      return after;
    }
    const ParsedObject& object = *reading.Object;
    const PdfObject* type =
        object.Value.Kind == PdfObject::Type::kDictionary ? object.Value.Find("Type") : nullptr;
    definition.Catalog = type != nullptr && type->IsName("Catalog");
    direct_.push_back(definition);
    if (!object.IsStream) return std::max(after, object.End);
    std::optional<std::int64_t> length;
    if (const PdfObject* value = object.Value.Find("Length")) length = value->Integer();
    const std::optional<StreamExtent> extent = FindStreamExtent(
        bodies_, object.DataStart, length, noEndstreamFrom_ < 0 ? size_ : noEndstreamFrom_);
    if (!extent) {
      // No "endstream" anywhere after it: none after any later start either.
      if (noEndstreamFrom_ < 0 || object.DataStart < noEndstreamFrom_) {
        noEndstreamFrom_ = object.DataStart;
      }
      return object.DataStart;
    }
    if (type != nullptr && type->IsName("XRef")) {
      trailers_.push_back({definition.At, SectionForm::kStream, object.Value, object.ValueStart});
    } else if (type != nullptr && type->IsName("ObjStm")) {
      streams_.push_back(
          {*number, definition.At, object.Value, extent->DataStart, extent->DataEnd});
    }
    return extent->ObjectEnd;
  }

  // The pairs of an object stream as definitions at the stream's position.
  void AddStreamObjects(const ObjectStreamFound& found, std::vector<Definition>& all) {
    const FilterChain chain = ReadFilterChain(found.Dictionary);
    if (!chain.Filters || decodeBudget_ == 0) return;
    FilePieces pieces(source_);
    const Text raw(pieces.View(found.DataStart, found.DataEnd));
    const std::size_t limit = std::min(kMaxDecodedSize, decodeBudget_);
    DecodedData decoded = DecodeStreamData(raw, *chain.Filters, limit);
    if (!decoded.Data) {
      if (decoded.TooLarge) decodeBudget_ = 0;
      return;
    }
    decodeBudget_ -= std::min(decodeBudget_, decoded.Data->size());
    const ObjectStreamReading reading =
        ObjectStream::Parse(std::move(*decoded.Data), found.Dictionary);
    if (!reading.Stream) return;
    const ObjectStream& stream = *reading.Stream;
    for (std::size_t i = 0; i < stream.Count(); ++i) {
      const std::int64_t number = stream.NumberAt(i);
      if (number > kMaxObjectNumber || number == found.Number || i > 0x3FFFFFFF) continue;
      Definition definition;
      definition.Number = number;
      definition.At = found.At;
      definition.StreamNumber = found.Number;
      definition.StreamIndex = static_cast<std::int64_t>(i);
      if (const std::optional<StreamedObject> object = stream.ReadAt(i, &kTypeOnly)) {
        const PdfObject* type = object->Value.Kind == PdfObject::Type::kDictionary
                                    ? object->Value.Find("Type")
                                    : nullptr;
        definition.Catalog = type != nullptr && type->IsName("Catalog");
      }
      all.push_back(definition);
    }
  }

  const FileAccess& source_;
  const Position size_;
  FilePieces scan_;
  FilePieces bodies_;
  const Position bodyBudget_;
  std::size_t decodeBudget_;
  Position noEndstreamFrom_ = -1;
  std::vector<Definition> direct_;
  std::vector<TrailerFound> trailers_;
  std::vector<ObjectStreamFound> streams_;
};

}  // namespace

CrossReference CrossReference::Reconstruct(const FileAccess& source, Text reason) {
  return Reconstruction(source).Run(std::move(reason));
}

}  // namespace quillane
