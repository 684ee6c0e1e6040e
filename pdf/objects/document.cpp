#include "pdf/objects/document.h"

#include <algorithm>

namespace quillane {

namespace {

// Bytes read for objects, and bytes decoded for object streams, may reach
// these multiples of the file's size plus a base: far more than any real
// file needs (it reads each object about once), far less than a hostile
// file full of references into one huge object would take.
constexpr Position kWorkPerByte = 64;
constexpr Position kWorkBase = Position{32} << 20;
constexpr std::size_t kDecodePerByte = 32;
constexpr std::size_t kDecodeBase = std::size_t{64} << 20;
// Decoded object streams held: at most this many bytes, this many streams.
constexpr std::size_t kStreamCacheBytes = std::size_t{8} << 20;
constexpr std::size_t kStreamCacheCount = 256;
constexpr std::size_t kObjectCacheSlots = 256;
// Object streams nested through their /Length references.
constexpr std::size_t kMaxStreamNesting = 4;
// Deflate gives at most about 1032 bytes for one, so decoded data is also
// bounded by the raw data's size.
constexpr std::size_t kMaxInflation = 1100;

constexpr const char* kWorkBoundReached = "work bound reached";

std::shared_ptr<const IndirectObject> Cached(
    const std::vector<std::shared_ptr<const IndirectObject>>& cache, ObjectKey key) {
  const auto& slot = cache[static_cast<std::size_t>(ObjectNumber(key)) % kObjectCacheSlots];
  if (slot && slot->Key == key) return slot;
  return nullptr;
}

// The /Filter and /DecodeParms of `dictionary` with references resolved, as
// ReadFilterChain takes them.
PdfObject WithDirectFilters(const Document& document, const PdfObject& dictionary) {
  PdfObject copy = dictionary;
  for (std::size_t i = 0; i < copy.Keys.size(); ++i) {
    if (copy.Keys[i] != "Filter" && copy.Keys[i] != "DecodeParms") continue;
    PdfObject& value = copy.Items[i];
    if (const Resolved resolved = document.Resolve(value)) {
      value = *resolved;
    } else {
      value = PdfObject{};
    }
    for (PdfObject& item : value.Items) {
      if (item.Kind != PdfObject::Type::kReference) continue;
      const Resolved element = document.Resolve(item);
      item = element ? *element : PdfObject{};
    }
  }
  return copy;
}

}  // namespace

Document::Document(const FileAccess& source, CrossReference xref, LogHook log)
    : source_(source),
      xref_(std::move(xref)),
      log_(std::move(log)),
      pieces_(source),
      dataPieces_(source),
      workBound_(kWorkPerByte * source.Size() + kWorkBase),
      decodeBound_(kDecodePerByte * static_cast<std::size_t>(source.Size()) + kDecodeBase),
      objects_(kObjectCacheSlots) {}

Document::~Document() = default;

Position Document::BytesRead() const { return pieces_.BytesRead() + dataPieces_.BytesRead(); }

bool Document::Affordable() const {
  if (exhausted_) return false;
  if (BytesRead() <= workBound_ && decoded_ <= decodeBound_) return true;
  exhausted_ = true;
  if (log_) log_("Object reading stopped: " + Text(kWorkBoundReached));
  return false;
}

ObjectLookup Document::Lookup(ObjectKey key, const EntryFilter* filter) const {
  if (key < 0) return {nullptr, "not in the cross-reference"};
  if (std::shared_ptr<const IndirectObject> cached = Cached(objects_, key)) return {cached, {}};
  const std::optional<XrefEntry> entry = xref_.Find(ObjectNumber(key));
  if (!entry) return {nullptr, "not in the cross-reference"};
  if (entry->Type == XrefEntryType::kFree) return {nullptr, "free"};
  if (entry->Generation != ObjectGeneration(key)) {
    return {nullptr, "generation " + IntToText(entry->Generation) + " in the cross-reference"};
  }
  if (!Affordable()) return {nullptr, kWorkBoundReached};
  ObjectLookup lookup = entry->Type == XrefEntryType::kInUse ? ReadUncompressed(*entry, filter)
                                                             : ReadCompressed(*entry, filter);
  if (lookup.Object && filter == nullptr) {
    objects_[static_cast<std::size_t>(entry->Number) % kObjectCacheSlots] = lookup.Object;
  }
  return lookup;
}

ObjectLookup Document::ReadUncompressed(const XrefEntry& entry, const EntryFilter* filter) const {
  ObjectReading reading = ReadObjectAt(pieces_, entry.Offset, pieces_.Size(), filter);
  if (!reading.Object) return {nullptr, std::move(reading.Reason)};
  ParsedObject& parsed = *reading.Object;
  if (parsed.Number != entry.Number || parsed.Generation != entry.Generation) {
    return {nullptr, "header at offset " + IntToText(entry.Offset) + " names " +
                         ObjectKeyToText(MakeObjectKey(parsed.Number, parsed.Generation))};
  }
  auto object = std::make_shared<IndirectObject>();
  object->Key = entry.Key();
  object->Value = std::move(parsed.Value);
  object->ValueStart = parsed.ValueStart;
  object->IsStream = parsed.IsStream;
  object->HeaderStart = parsed.HeaderStart;
  object->DataStart = parsed.IsStream ? parsed.DataStart : -1;
  object->End = parsed.End;
  return {std::move(object), {}};
}

ObjectLookup Document::ReadCompressed(const XrefEntry& entry, const EntryFilter* filter) const {
  const Text where = "object stream " + IntToText(entry.StreamNumber);
  StreamLookup loaded = LoadObjectStream(entry.StreamNumber);
  if (!loaded.Stream) return {nullptr, where + ": " + loaded.Reason};
  const ObjectStream& stream = *loaded.Stream;
  const std::optional<std::size_t> index = stream.IndexOf(entry.Number, entry.StreamIndex);
  if (!index) return {nullptr, where + " holds no object " + IntToText(entry.Number)};
  std::optional<StreamedObject> read = stream.ReadAt(*index, filter);
  if (!read) return {nullptr, where + ": object " + IntToText(entry.Number) + " unreadable"};
  auto object = std::make_shared<IndirectObject>();
  object->Key = entry.Key();
  object->Value = std::move(read->Value);
  object->ValueStart = static_cast<Position>(read->ValueStart);
  object->StreamNumber = entry.StreamNumber;
  object->StreamIndex = static_cast<std::int64_t>(*index);
  return {std::move(object), {}};
}

Document::StreamLookup Document::LoadObjectStream(std::int64_t number) const {
  if (lastStream_ < streams_.size() && streams_[lastStream_].Number == number) {
    streams_[lastStream_].LastUse = ++uses_;
    return {streams_[lastStream_].Stream, {}};
  }
  for (std::size_t i = 0; i < streams_.size(); ++i) {
    if (streams_[i].Number == number) {
      streams_[i].LastUse = ++uses_;
      lastStream_ = i;
      return {streams_[i].Stream, {}};
    }
  }
  if (std::find(decoding_.begin(), decoding_.end(), number) != decoding_.end() ||
      decoding_.size() >= kMaxStreamNesting) {
    return {nullptr, "needed to read itself"};
  }
  const std::optional<XrefEntry> entry = xref_.Find(number);
  // The stream's own entry: an object stream is a stream, which never lies
  // inside another object stream (ISO 32000-1, 7.5.7).
  if (!entry || entry->Type != XrefEntryType::kInUse) return {nullptr, "not in use in the file"};
  decoding_.push_back(number);
  const ObjectLookup lookup = Lookup(entry->Key());
  StreamLookup result;
  if (!lookup.Object) {
    result.Reason = lookup.Reason;
  } else if (!lookup.Object->IsStream ||
             lookup.Object->Value.Kind != PdfObject::Type::kDictionary) {
    result.Reason = "no stream";
  } else {
    const IndirectObject& object = *lookup.Object;
    const PdfObject* type = object.Value.Find("Type");
    const std::optional<StreamExtent> extent = Extent(object);
    if (type != nullptr && !type->IsName("ObjStm")) {
      result.Reason = "no object stream";
    } else if (!extent) {
      result.Reason = "no endstream";
    } else {
      const std::size_t raw = static_cast<std::size_t>(extent->DataEnd - extent->DataStart);
      const std::size_t limit = std::min({kMaxDecodedSize, raw * kMaxInflation + 4096,
                                          decodeBound_ - std::min(decodeBound_, decoded_)});
      DecodedData decoded = Decode(object, limit);
      if (!decoded.Data) {
        result.Reason = decoded.Reason;
      } else {
        decoded_ += decoded.Data->size();
        ++streamsDecoded_;
        ObjectStreamReading reading = ObjectStream::Parse(std::move(*decoded.Data), object.Value);
        if (!reading.Stream) {
          result.Reason = reading.Reason;
        } else {
          result.Stream = std::make_shared<const ObjectStream>(std::move(*reading.Stream));
        }
      }
    }
  }
  decoding_.pop_back();
  if (!result.Stream) return result;
  // The least recently used streams make room. The stream just decoded is
  // kept even when it alone passes the bound: its neighbours are what is
  // read next, and decoding it again for each would cost its size each time.
  const std::size_t bytes = result.Stream->Data().size();
  while (!streams_.empty() &&
         (streamBytes_ + bytes > kStreamCacheBytes || streams_.size() >= kStreamCacheCount)) {
    const auto oldest = std::min_element(
        streams_.begin(), streams_.end(),
        [](const CachedStream& a, const CachedStream& b) { return a.LastUse < b.LastUse; });
    streamBytes_ -= oldest->Stream->Data().size();
    streams_.erase(oldest);
  }
  streams_.push_back({number, result.Stream, ++uses_});
  streamBytes_ += bytes;
  lastStream_ = streams_.size() - 1;
  return result;
}

Resolved Document::Resolve(const PdfObject& value, const EntryFilter* filter) const {
  Resolved resolved;
  const PdfObject* current = &value;
  for (int hops = 0; current->Kind == PdfObject::Type::kReference; ++hops) {
    if (hops == kMaxReferenceChain) return {};
    std::shared_ptr<const IndirectObject> object =
        Lookup(MakeObjectKey(current->Number, current->Generation), filter).Object;
    if (!object) return {};
    resolved.Object = std::move(object);
    current = &resolved.Object->Value;
  }
  if (current->Kind == PdfObject::Type::kNull) return {};
  resolved.Value = current;
  return resolved;
}

Resolved Document::Resolve(const PdfObject* value, const EntryFilter* filter) const {
  if (value == nullptr) return {};
  return Resolve(*value, filter);
}

Resolved Document::Get(const PdfObject* dictionary, std::string_view key,
                       const EntryFilter* filter) const {
  if (dictionary == nullptr || dictionary->Kind != PdfObject::Type::kDictionary) return {};
  return Resolve(dictionary->Find(key), filter);
}

Resolved Document::Root() const {
  const TrailerValue* root = xref_.Trailer("Root");
  return root != nullptr ? Resolve(root->Value) : Resolved{};
}

Resolved Document::Info() const {
  const TrailerValue* info = xref_.Trailer("Info");
  return info != nullptr ? Resolve(info->Value) : Resolved{};
}

std::optional<StreamExtent> Document::Extent(const IndirectObject& stream) const {
  std::optional<std::int64_t> length;
  if (const PdfObject* value = stream.Value.Find("Length")) {
    if (value->Kind == PdfObject::Type::kReference) {
      const Resolved resolved = Resolve(*value);
      if (resolved) length = resolved->Integer();
    } else {
      length = value->Integer();
    }
  }
  return FindStreamExtent(pieces_, stream.DataStart, length, pieces_.Size());
}

std::optional<ObjectLocation> Document::Location(ObjectKey key) const {
  const std::shared_ptr<const IndirectObject> object = Object(key);
  if (!object) return std::nullopt;
  ObjectLocation location;
  if (object->Compressed()) {
    location.Compressed = true;
    location.StreamNumber = object->StreamNumber;
    location.StreamIndex = object->StreamIndex;
    return location;
  }
  location.Start = object->HeaderStart;
  location.End = object->End;
  if (object->IsStream) {
    const std::optional<StreamExtent> extent = Extent(*object);
    if (!extent) return std::nullopt;
    location.End = extent->ObjectEnd;
  }
  return location;
}

std::optional<Text> Document::ValueBytes(const IndirectObject& object,
                                         const PdfObject& part) const {
  if (part.End < part.Start || part.End > object.Value.End) return std::nullopt;
  const auto start = static_cast<std::size_t>(object.ValueStart) + part.Start;
  const std::size_t length = part.End - part.Start;
  if (!object.Compressed()) {
    const auto from = static_cast<Position>(start);
    return source_.Substring(from, from + static_cast<Position>(length));
  }
  const StreamLookup loaded = LoadObjectStream(object.StreamNumber);
  if (!loaded.Stream || start + length > loaded.Stream->Data().size()) return std::nullopt;
  return loaded.Stream->Data().substr(start, length);
}

std::optional<Text> Document::RawData(const IndirectObject& stream) const {
  const std::optional<StreamExtent> extent = Extent(stream);
  if (!extent) return std::nullopt;
  return Text(dataPieces_.View(extent->DataStart, extent->DataEnd));
}

DecodedData Document::Decode(const IndirectObject& stream, std::size_t limit) const {
  const std::optional<Text> raw = RawData(stream);
  if (!raw) return {std::nullopt, "no endstream", false};
  const FilterChain chain = ReadFilterChain(WithDirectFilters(*this, stream.Value));
  if (!chain.Filters) return {std::nullopt, chain.Reason, false};
  return DecodeStreamData(*raw, *chain.Filters, limit);
}

}  // namespace quillane
