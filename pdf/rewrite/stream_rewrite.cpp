#include "pdf/rewrite/stream_rewrite.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <memory>

#include "pdf/filters/byte_stream.h"
#include "pdf/filters/flate_encoder.h"
#include "pdf/filters/stream_decoder.h"
#include "pdf/filters/stream_filters.h"

namespace quillane {

namespace {

// The raw data of a stream, read from the file in pieces.
class FileRangeSource final : public ByteSource {
 public:
  FileRangeSource(const FileAccess& file, Position start, Position end)
      : file_(file), at_(start), end_(end) {}

  std::size_t Read(char* buffer, std::size_t capacity) override {
    constexpr Position kPiece = Position{64} << 10;
    const Position count = std::min({static_cast<Position>(capacity), kPiece, end_ - at_});
    if (count <= 0) return 0;
    const Text piece = file_.Substring(at_, at_ + count);
    std::copy(piece.begin(), piece.end(), buffer);
    at_ += count;
    return static_cast<std::size_t>(count);
  }

 private:
  const FileAccess& file_;
  Position at_;
  const Position end_;
};

// The compressed data: in memory while small, then in a spill of the file
// access, so that a large stream never sits in memory.
class CompressedSink final : public ByteSink {
 public:
  explicit CompressedSink(const FileAccess& file) : file_(file) {}

  void Write(std::string_view data) override {
    if (spill_ == nullptr && memory_.size() + data.size() <= kInMemory) {
      memory_.append(data);
      return;
    }
    if (spill_ == nullptr) {
      spill_ = file_.NewSpill();
      spill_->Write(memory_);
      Text().swap(memory_);
    }
    spill_->Write(data);
  }

  Position Size() const {
    return spill_ != nullptr ? spill_->Size() : static_cast<Position>(memory_.size());
  }
  Text& Memory() { return memory_; }
  std::shared_ptr<Spill> TakeSpill() { return std::move(spill_); }

 private:
  static constexpr std::size_t kInMemory = std::size_t{1} << 20;
  const FileAccess& file_;
  Text memory_;
  std::shared_ptr<Spill> spill_;
};

// True when one of `markers` occurs in the decoded data; `decoder` is read to
// its end either way, so that damage anywhere in it shows.
// Most content streams are a line or two: the piece grows with the encoded
// size (decoded data is mostly a few times larger), so that a page's small
// stream costs no 64 KiB buffer.
bool DecodedHolds(StreamDecoder& decoder, const std::vector<std::string_view>& markers,
                  std::uint64_t encoded) {
  std::size_t longest = 0;
  for (const std::string_view marker : markers) longest = std::max(longest, marker.size());
  constexpr std::uint64_t kSmallest = 4096;
  constexpr std::uint64_t kLargest = std::uint64_t{64} << 10;
  const auto piece = static_cast<std::size_t>(std::clamp(encoded * 4, kSmallest, kLargest));
  const std::unique_ptr<char[]> storage = std::make_unique_for_overwrite<char[]>(piece + longest);
  char* const buffer = storage.get();
  std::size_t kept = 0;  // bytes of the last piece kept in front, for a marker cut in two
  bool found = false;
  for (;;) {
    const std::size_t got = decoder.Read(buffer + kept, piece);
    if (got == 0) return found;
    if (found) continue;
    const std::string_view view(buffer, kept + got);
    for (const std::string_view marker : markers) {
      if (view.find(marker) != std::string_view::npos) found = true;
    }
    kept = std::min(longest > 0 ? longest - 1 : 0, view.size());
    std::copy(view.end() - static_cast<std::ptrdiff_t>(kept), view.end(), buffer);
  }
}

bool IsNameIn(const PdfObject* value, std::initializer_list<std::string_view> names) {
  if (value == nullptr) return false;
  return std::any_of(names.begin(), names.end(),
                     [value](std::string_view name) { return value->IsName(name); });
}

}  // namespace

bool MayBeContentStream(const PdfObject& dictionary) {
  if (IsNameIn(dictionary.Find("Type"), {"XRef", "ObjStm", "Metadata", "EmbeddedFile"})) {
    return false;
  }
  const PdfObject* subtype = dictionary.Find("Subtype");
  if (subtype != nullptr && !subtype->IsName("Form")) return false;
  // Type 1 font programs carry /Length2 and /Length3. /Length1 alone is no
  // sign: TrueType programs have it, and so do some writers' page contents.
  for (const std::string_view key :
       {"Length2", "Length3", "FunctionType", "ShadingType", "N", "F", "FFilter"}) {
    if (dictionary.Find(key) != nullptr) return false;
  }
  return true;
}

std::optional<ContentReading> ReadStreamContent(const FileAccess& file, const StreamInFile& stream,
                                                const std::vector<std::string_view>& markers,
                                                const OperationEditor& editor) {
  const FilterChain chain = ReadFilterChain(stream.Dictionary);
  if (!chain.Filters) return std::nullopt;
  const auto encoded = static_cast<std::uint64_t>(stream.DataEnd - stream.DataStart);
  {
    FileRangeSource raw(file, stream.DataStart, stream.DataEnd);
    StreamDecoder decoder(raw, *chain.Filters, encoded);
    if (!DecodedHolds(decoder, markers, encoded) || decoder.Failed()) return std::nullopt;
  }
  FileRangeSource raw(file, stream.DataStart, stream.DataEnd);
  StreamDecoder decoder(raw, *chain.Filters, encoded);
  ContentEditing editing;
  editing.EditOperation = editor;
  return ReadContent(
      [&decoder](char* buffer, std::size_t capacity) { return decoder.Read(buffer, capacity); },
      editing);
}

Text RewrittenDictionary(std::string_view text, const PdfObject& dictionary, std::size_t length) {
  Text result;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < dictionary.Keys.size(); ++i) {
    const Text& key = dictionary.Keys[i];
    if (key != "Length" && key != "Filter" && key != "DecodeParms" && key != "DL") continue;
    result.append(text.substr(kept, dictionary.KeyStarts[i] - kept));
    kept = dictionary.Items[i].End;
  }
  // The closing ">>" is the dictionary's last two bytes.
  result.append(text.substr(kept, text.size() - 2 - kept));
  result += "/Length " + IntToText(static_cast<std::int64_t>(length)) + "/Filter/FlateDecode>>";
  return result;
}

StreamRewriteResult RewriteStream(const FileAccess& file, const StreamInFile& stream,
                                  const StreamRewriting& rewriting, const LogHook& log) {
  StreamRewriteResult result;
  const auto left = [&log, &stream](const Text& reason) {
    if (log) log("Stream left: " + IntToText(stream.Key) + " " + reason);
  };
  const FilterChain chain = ReadFilterChain(stream.Dictionary);
  if (!chain.Filters) {
    left(chain.Reason);
    return result;
  }
  const auto encoded = static_cast<std::uint64_t>(stream.DataEnd - stream.DataStart);

  // A first decoding: data that does not decode is left, and data without
  // any marker needs no reading as content.
  bool worthReading = false;
  {
    FileRangeSource raw(file, stream.DataStart, stream.DataEnd);
    StreamDecoder decoder(raw, *chain.Filters, encoded);
    worthReading = DecodedHolds(decoder, rewriting.Markers, encoded);
    if (decoder.Failed()) {
      left(Text(decoder.Reason()));
      return result;
    }
  }
  if (!worthReading) return result;
  if (rewriting.Glyph) {
    left("Type 3 glyph");
    return result;
  }

  // The reading, written as it goes to the compressor.
  FileRangeSource raw(file, stream.DataStart, stream.DataEnd);
  StreamDecoder decoder(raw, *chain.Filters, encoded);
  CompressedSink sink(file);
  FlateEncoder encoder(sink);
  ContentEditing editing;
  editing.ReplaceInlineImages = rewriting.ReplaceInlineImages;
  editing.Gray = rewriting.Gray;
  editing.PlaceholderBefore = rewriting.PlaceholderBefore;
  editing.PlaceholderAfter = rewriting.PlaceholderAfter;
  editing.EditOperation = rewriting.EditOperation;
  editing.Output = [&encoder](std::string_view bytes) { encoder.Write(bytes); };
  const ContentReading reading = ReadContent(
      [&decoder](char* buffer, std::size_t capacity) { return decoder.Read(buffer, capacity); },
      editing);
  result.Reading = reading;
  // A Type 3 glyph draws a letter, often as an image mask: it stays as it
  // is, or every letter of the font would become a gray dot.
  if (!reading.Complete) {
    if (reading.GlyphDescription) {
      left("Type 3 glyph");
    } else {
      left("content syntax at " + IntToText(static_cast<std::int64_t>(reading.Failure)));
    }
    return result;
  }
  const bool replaced = rewriting.ReplaceInlineImages && !reading.InlineImages.empty();
  if (!replaced && reading.EditedOperations == 0) return result;
  if (reading.GlyphDescription) {
    left("Type 3 glyph");
    return result;
  }
  encoder.Finish();

  RewrittenObject object;
  object.Key = stream.Key;
  object.Bytes = IntToText(ObjectNumber(stream.Key)) + " " +
                 IntToText(ObjectGeneration(stream.Key)) + " obj\n";
  object.Bytes += RewrittenDictionary(stream.DictionaryText, stream.Dictionary,
                                      static_cast<std::size_t>(sink.Size()));
  object.Bytes += "\nstream\n";
  object.Data = sink.TakeSpill();
  if (object.Data == nullptr) {
    object.Bytes += sink.Memory();
    object.Bytes += "\nendstream\nendobj\n";
  } else {
    object.After = "\nendstream\nendobj\n";
  }
  result.Object = std::move(object);
  return result;
}

void EachReadableContentStream(const Document& document, const DrawnStreams& drawn,
                               const KeyMarks& images, const LogHook& log,
                               const std::function<void(DrawnContentStream&)>& visit) {
  // The streams of an indirect /Contents array come next, before the rest
  // of the list: kept here, the next one last.
  std::vector<DrawnStream> pending;
  std::size_t next = 0;
  KeyMarks seen(document.Xref());
  while (!pending.empty() || next < drawn.Streams.size()) {
    DrawnStream stream;
    if (!pending.empty()) {
      stream = pending.back();
      pending.pop_back();
    } else {
      stream = drawn.Streams[next++];
    }
    if (!seen.Mark(stream.Key)) continue;
    if (images.Contains(stream.Key)) {
      if (log) log("Stream left: " + IntToText(stream.Key) + " replaced as an image");
      continue;
    }
    std::shared_ptr<const IndirectObject> object = document.Object(stream.Key);
    if (object == nullptr) continue;
    if (!object->IsStream) {
      const std::vector<DrawnStream> items = ContentsOfArray(document, stream, *object);
      pending.insert(pending.end(), items.rbegin(), items.rend());
      continue;
    }
    if (object->Compressed()) continue;
    const std::optional<StreamExtent> extent = document.Extent(*object);
    if (!extent || !MayBeContentStream(object->Value)) continue;
    std::optional<Text> dictionary = document.ValueBytes(*object, object->Value);
    if (!dictionary) continue;
    DrawnContentStream item{stream, object, {}};
    item.In.Key = stream.Key;
    item.In.DictionaryText = std::move(*dictionary);
    item.In.Dictionary = object->Value;
    item.In.DataStart = extent->DataStart;
    item.In.DataEnd = extent->DataEnd;
    visit(item);
  }
}

}  // namespace quillane
