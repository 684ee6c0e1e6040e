#include "pdf/rewrite/inline_images.h"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "base/byte_classes.h"
#include "base/checked_number.h"
#include "pdf/content/content_stream.h"
#include "pdf/filters/stream_filters.h"
#include "pdf/rewrite/stream_rewrite.h"
#include "pdf/syntax/lexer.h"

namespace quillane {

namespace {

// Pieces read from the file: a first look is small (most dictionaries fit),
// a search grows its pieces up to 1 MiB, and an object body may take up to
// 4 MiB (a dictionary with large inline resources).
constexpr Position kSmallPiece = 1024;
// Pieces are read in whole pages of this size, as the file access reads them.
constexpr Position kPage = 4096;
constexpr Position kLargePiece = Position{1} << 20;
constexpr Position kMaxBody = Position{4} << 20;
// Bytes looked at before "obj" for "N G": ten digits of number, five of
// generation and the blanks between.
constexpr Position kHeaderLookBack = 40;
// White space allowed between the end of the data and "endstream".
constexpr Position kMaxEndGap = 64;

constexpr std::string_view kEndstream = "endstream";

// Bounds on the work for one file, as multiples of its size plus a base, so
// that a hostile file cannot make the walk run for hours: the bytes lexed to
// read object bodies (a real file needs about its size once), and the bytes
// decoded from considered streams (each stream is bounded by kMaxDecodedSize
// too). A walk that runs out of the first gives up and rewrites nothing; a
// stream that would run out of the second is left.
constexpr Position kBodyBudgetPerByte = 8;
constexpr Position kBodyBudgetBase = Position{16} << 20;
constexpr Position kDecodeBudgetPerByte = 16;
constexpr Position kDecodeBudgetBase = Position{256} << 20;

bool IsWhite(char c) { return IsWhiteSpace(c); }
bool IsDigitByte(char c) { return IsDigit(c); }

// A cached piece of the file, so that the walk reads it through Substring
// in pieces rather than byte by byte, and reads nothing of the stream data
// it passes over.
class ByteWindow {
 public:
  explicit ByteWindow(const FileAccess& source) : source_(source), size_(source.Size()) {}

  Position Size() const { return size_; }

  // Up to `length` bytes from `from`, fewer at the end of the data. The view
  // lasts until the next call.
  std::string_view View(Position from, Position length) {
    const Position end = std::min(size_, from + length);
    if (from < start_ || end > start_ + static_cast<Position>(bytes_.size())) {
      // A piece starts a little early, since the header of an object found in
      // it is read backwards from its "obj", and covers whole pages: the end
      // of a stream, the next header and its dictionary then usually come in
      // one read.
      const Position first = std::max<Position>(0, from - kHeaderLookBack);
      start_ = first - first % kPage;
      const Position last = from + std::max(length, kSmallPiece);
      bytes_ = source_.Substring(start_, std::min(size_, last + (kPage - last % kPage) % kPage));
    }
    return std::string_view(bytes_).substr(static_cast<std::size_t>(from - start_),
                                           static_cast<std::size_t>(end - from));
  }

  // Where `pattern` first occurs at or after `from`; -1 when it does not.
  Position Find(std::string_view pattern, Position from) {
    const auto overlap = static_cast<Position>(pattern.size()) - 1;
    Position piece = kSmallPiece;
    for (Position p = from; p + overlap < size_;) {
      const std::string_view view = View(p, piece);
      const std::size_t at = view.find(pattern);
      if (at != std::string_view::npos) return p + static_cast<Position>(at);
      if (p + static_cast<Position>(view.size()) >= size_) break;
      // The next piece starts early enough to see a pattern cut at the seam.
      p += static_cast<Position>(view.size()) - overlap;
      piece = std::min(piece * 4, kLargePiece);
    }
    return -1;
  }

  // The bytes [from, to), read in pieces of at most 1 MiB.
  Text Read(Position from, Position to) {
    Text bytes;
    bytes.reserve(static_cast<std::size_t>(to - from));
    for (Position p = from; p < to; p += kLargePiece) {
      bytes += source_.Substring(p, std::min(to, p + kLargePiece));
    }
    return bytes;
  }

 private:
  const FileAccess& source_;
  const Position size_;
  Text bytes_;
  Position start_ = 0;
};

// Every "N G obj" the walk found, in file order.
struct Header {
  ObjectKey Key = kNoObject;
  Position At = 0;       // first digit of the number
  bool Dropped = false;  // found inside stream data after all
  // The body is an integer followed by "endobj" (a /Length target).
  std::optional<std::int64_t> Integer;
};

struct StreamObject {
  std::size_t Header = 0;  // index into the headers
  Position DictionaryStart = 0;
  Position DictionaryEnd = 0;
  Position DataStart = 0;
  Position DataEnd = 0;
  // Where the walk went on: after the "endstream" that bounded the data.
  Position After = 0;
  std::optional<ObjectKey> LengthReference;
  // The dictionary does not rule out a content stream.
  bool Considered = false;
};

// What follows "obj": an integer, a stream's dictionary and data start, or
// anything else (skipped up to `end`).
struct Body {
  enum class Kind : std::uint8_t { kUnreadable, kOther, kInteger, kStream };
  Kind Kind = Kind::kUnreadable;
  Position End = 0;
  std::int64_t Integer = 0;
  PdfObject Dictionary;  // offsets relative to dictionaryStart
  Position DictionaryStart = 0;
  Position DataStart = 0;
};

// Shifts every offset of `object` by -`by`.
void Rebase(PdfObject& object, std::size_t by) {
  object.Start -= by;
  object.End -= by;
  for (std::size_t& keyStart : object.KeyStarts) keyStart -= by;
  for (PdfObject& item : object.Items) Rebase(item, by);
}

bool IsNameIn(const PdfObject* value, std::initializer_list<std::string_view> names) {
  if (value == nullptr) return false;
  return std::any_of(names.begin(), names.end(),
                     [value](std::string_view name) { return value->IsName(name); });
}

// False when the dictionary shows a stream that is no content stream.
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

class InlineImageWalk {
 public:
  InlineImageWalk(const FileAccess& source, std::uint8_t gray,
                  const std::vector<ObjectKey>& imageKeys, const LogHook& log)
      : source_(source),
        log_(log),
        window_(source),
        gray_(gray),
        imageKeys_(imageKeys.begin(), imageKeys.end()),
        scanner_(source, log),
        bodyBudget_(kBodyBudgetPerByte * source.Size() + kBodyBudgetBase),
        decodeBudget_(kDecodeBudgetPerByte * source.Size() + kDecodeBudgetBase) {}

  std::vector<RewrittenObject> Run() {
    if (!FindObjects()) return {};
    ResolveLengthReferences();
    std::unordered_map<ObjectKey, std::size_t> last;
    for (std::size_t i = 0; i < headers_.size(); ++i) {
      if (!headers_[i].Dropped) last[headers_[i].Key] = i;
    }
    std::vector<RewrittenObject> rewritten;
    for (const StreamObject& stream : streams_) {
      const Header& header = headers_[stream.Header];
      if (!stream.Considered || header.Dropped || last[header.Key] != stream.Header) continue;
      std::optional<RewrittenObject> object = Rewrite(stream, header.Key);
      if (object) rewritten.push_back(std::move(*object));
    }
    return rewritten;
  }

 private:
  // The forward pass: every header and every stream, its data passed over.
  // False when the body budget ran out.
  bool FindObjects() {
    Position p = 0;
    for (;;) {
      const Position keyword = window_.Find("obj", p);
      if (keyword < 0) return true;
      p = keyword + 3;
      const std::optional<Header> header = HeaderBefore(keyword);
      if (!header) continue;
      headers_.push_back(*header);
      const Body body = ReadBody(p);
      if (bodyBudget_ < 0) {
        if (scanner_.Logging()) scanner_.Log("Inline walk stopped @ " + IntToText(p));
        return false;
      }
      if (body.Kind == Body::Kind::kUnreadable) continue;
      p = body.End;
      if (body.Kind == Body::Kind::kInteger) headers_.back().Integer = body.Integer;
      if (body.Kind != Body::Kind::kStream) continue;
      StreamObject stream;
      stream.Header = headers_.size() - 1;
      stream.DictionaryStart = body.DictionaryStart;
      stream.DictionaryEnd = body.DictionaryStart + static_cast<Position>(body.Dictionary.End);
      stream.DataStart = body.DataStart;
      if (!BoundData(body.Dictionary, stream)) {
        // No "endstream" anywhere after it: nothing to pass over.
        continue;
      }
      p = stream.After;
      stream.Considered = MayBeContentStream(body.Dictionary);
      streams_.push_back(stream);
    }
  }

  // The header whose "obj" keyword is at `keyword`: "N G obj" with white
  // space between the three and before "obj", a non-regular byte (or the
  // start of the file) before N and after "obj".
  std::optional<Header> HeaderBefore(Position keyword) {
    const Position from = std::max<Position>(0, keyword - kHeaderLookBack);
    const std::string_view view = window_.View(from, keyword + 4 - from);
    const auto k = static_cast<std::size_t>(keyword - from);
    if (k + 3 < view.size() && IsRegular(view[k + 3])) {
      return std::nullopt;
    }
    // Walks back over: blanks, generation, blanks, number. Each loop stops at
    // the view's first byte.
    std::size_t i = k;
    const auto skip = [&view, &i](bool (*test)(char)) {
      const std::size_t stop = i;
      while (i > 0 && test(view[i - 1])) --i;
      return stop - i;
    };
    if (skip(IsWhite) == 0) return std::nullopt;
    const std::size_t generationEnd = i;
    const std::size_t generationDigits = skip(IsDigitByte);
    if (generationDigits == 0 || generationDigits > 5) return std::nullopt;
    const std::size_t generationStart = i;
    if (skip(IsWhite) == 0) return std::nullopt;
    const std::size_t numberEnd = i;
    const std::size_t numberDigits = skip(IsDigitByte);
    if (numberDigits == 0 || numberDigits > 10) return std::nullopt;
    if (i > 0 ? IsRegular(view[i - 1]) : from > 0) return std::nullopt;
    // Ten digits of number and five of generation always fit.
    const std::optional<std::int64_t> number = DecimalValue(view.substr(i, numberEnd - i));
    const std::optional<std::int64_t> generation =
        DecimalValue(view.substr(generationStart, generationEnd - generationStart));
    if (!number || !generation) return std::nullopt;
    Header header;
    header.Key = MakeObjectKey(*number, *generation);
    header.At = from + static_cast<Position>(i);
    return header;
  }

  // Reads the object after "obj" at `p`, growing the piece read while the
  // object runs into its end.
  Body ReadBody(Position p) {
    for (Position piece = kSmallPiece;; piece *= 4) {
      const std::string_view view = window_.View(p, piece);
      const bool whole = p + static_cast<Position>(view.size()) >= window_.Size();
      Lexer lexer(view);
      Body body = ReadBodyIn(view, lexer);
      bodyBudget_ -= static_cast<Position>(lexer.Position());
      body.End += p;
      if (body.Kind == Body::Kind::kStream) {
        body.DictionaryStart = p + static_cast<Position>(body.Dictionary.Start);
        body.DataStart += p;
        Rebase(body.Dictionary, body.Dictionary.Start);
      }
      // A body cut off by the end of the piece is read again from a larger
      // one.
      if (!lexer.ReachedEnd() || whole || piece >= kMaxBody || bodyBudget_ < 0) return body;
    }
  }

  // Only an integer followed by "endobj" and a dictionary followed by
  // "stream" are read as objects. Any other dictionary, the most common
  // body, is passed over token by token, without building it.
  static Body ReadBodyIn(std::string_view view, Lexer& lexer) {
    Body body;
    const Token first = lexer.Next();
    if (first.Kind == TokenKind::kNumber) {
      lexer.SetPosition(first.Start);
      const std::optional<PdfObject> number = ReadObject(lexer, true);
      if (!number) return body;
      body.Kind = Body::Kind::kOther;
      body.End = static_cast<Position>(number->End);
      const Token next = lexer.Next();
      if (number->Integer() && next.Kind == TokenKind::kKeyword && lexer.Bytes(next) == "endobj") {
        body.Kind = Body::Kind::kInteger;
        body.Integer = *number->Integer();
      }
      return body;
    }
    if (first.Kind != TokenKind::kDictionaryOpen) {
      if (first.Kind != TokenKind::kEnd && first.Kind != TokenKind::kError) {
        body.Kind = Body::Kind::kOther;
        body.End = static_cast<Position>(first.End);
      }
      return body;
    }
    Token token = first;
    for (int depth = 1; depth > 0;) {
      token = lexer.Next();
      if (token.Kind == TokenKind::kEnd || token.Kind == TokenKind::kError) return body;
      if (token.Kind == TokenKind::kDictionaryOpen || token.Kind == TokenKind::kArrayOpen) ++depth;
      if (token.Kind == TokenKind::kDictionaryClose || token.Kind == TokenKind::kArrayClose) {
        --depth;
      }
    }
    body.Kind = Body::Kind::kOther;
    body.End = static_cast<Position>(token.End);
    const Token next = lexer.Next();
    if (next.Kind != TokenKind::kKeyword || lexer.Bytes(next) != "stream") return body;
    // "stream" and its end of line, CR LF or LF (a lone CR is taken too);
    // the data begins after it (ISO 32000-1, 7.3.8.1).
    std::size_t data = next.End;
    if (data + 1 >= view.size()) {
      // The line end may lie beyond the piece read.
      body.Kind = Body::Kind::kUnreadable;
      return body;
    }
    if (view[data] == '\r') ++data;
    if (view[data] == '\n') ++data;
    if (data == next.End) return body;
    Lexer again(view, first.Start);
    std::optional<PdfObject> dictionary = ReadObject(again, true);
    if (!dictionary || dictionary->End != token.End) return body;
    body.Kind = Body::Kind::kStream;
    body.Dictionary = std::move(*dictionary);
    body.DataStart = static_cast<Position>(data);
    body.End = body.DataStart;
    return body;
  }

  // Sets the data's end and where the walk goes on: a direct /Length when
  // "endstream" follows it, else the first "endstream" (a /Length reference
  // is looked at after the pass). False when there is no "endstream".
  bool BoundData(const PdfObject& dictionary, StreamObject& stream) {
    const PdfObject* length = dictionary.Find("Length");
    if (length != nullptr && length->Kind == PdfObject::Type::kReference) {
      stream.LengthReference = MakeObjectKey(length->Number, length->Generation);
    }
    const std::optional<std::int64_t> direct = length != nullptr ? length->Integer() : std::nullopt;
    if (direct && *direct >= 0 && *direct <= window_.Size() - stream.DataStart) {
      const Position end = stream.DataStart + *direct;
      const Position after = EndstreamAfter(end);
      if (after >= 0) {
        stream.DataEnd = end;
        stream.After = after;
        return true;
      }
    }
    // Once a search found none, no later one can: the walk only goes on.
    if (noEndstreamFrom_ >= 0 && stream.DataStart >= noEndstreamFrom_) return false;
    const Position endstream = window_.Find(kEndstream, stream.DataStart);
    if (endstream < 0) {
      noEndstreamFrom_ = stream.DataStart;
      return false;
    }
    // The end-of-line marker before "endstream" is not part of the data.
    const Position from = std::max(stream.DataStart, endstream - 2);
    const std::string_view before = window_.View(from, endstream - from);
    Position end = endstream;
    if (before.ends_with("\r\n")) {
      end -= 2;
    } else if (before.ends_with('\n') || before.ends_with('\r')) {
      end -= 1;
    }
    stream.DataEnd = end;
    stream.After = endstream + static_cast<Position>(kEndstream.size());
    return true;
  }

  // One past "endstream" when it follows `end` after white space only; -1
  // otherwise.
  Position EndstreamAfter(Position end) {
    const std::string_view view =
        window_.View(end, kMaxEndGap + static_cast<Position>(kEndstream.size()));
    std::size_t i = 0;
    while (i < view.size() && IsWhite(view[i])) ++i;
    if (view.substr(i, kEndstream.size()) != kEndstream) return -1;
    return end + static_cast<Position>(i + kEndstream.size());
  }

  // A stream whose /Length is a reference takes the value of the referred
  // integer object (its last version) when "endstream" follows it; headers
  // found inside the longer data (which held "endstream") are then dropped.
  void ResolveLengthReferences() {
    std::unordered_map<ObjectKey, std::optional<std::int64_t>> integers;
    for (const Header& header : headers_) integers[header.Key] = header.Integer;
    for (StreamObject& stream : streams_) {
      // A stream inside another's data is none; skipping it also keeps the
      // ranges below from overlapping, so each header is looked at once.
      if (!stream.LengthReference || headers_[stream.Header].Dropped) continue;
      const auto found = integers.find(*stream.LengthReference);
      if (found == integers.end() || !found->second) continue;
      const std::int64_t length = *found->second;
      if (length < 0 || length > window_.Size() - stream.DataStart) continue;
      const Position after = EndstreamAfter(stream.DataStart + length);
      if (after < 0) continue;
      stream.DataEnd = stream.DataStart + length;
      // The headers are in file order.
      auto inside =
          std::upper_bound(headers_.begin(), headers_.end(), stream.DataStart,
                           [](Position at, const Header& header) { return at < header.At; });
      for (; inside != headers_.end() && inside->At < stream.DataEnd; ++inside) {
        inside->Dropped = true;
      }
    }
  }

  std::optional<RewrittenObject> Rewrite(const StreamObject& stream, ObjectKey key) {
    if (imageKeys_.count(key) != 0) return Left(key, "replaced as an image");
    StreamInFile in;
    in.Key = key;
    in.DictionaryText = window_.Read(stream.DictionaryStart, stream.DictionaryEnd);
    Lexer lexer(in.DictionaryText);
    std::optional<PdfObject> dictionary = ReadObject(lexer, true);
    if (!dictionary) return std::nullopt;
    in.Dictionary = std::move(*dictionary);
    in.DataStart = stream.DataStart;
    in.DataEnd = stream.DataEnd;
    StreamRewriting rewriting;
    rewriting.ReplaceInlineImages = true;
    rewriting.Gray = gray_;
    rewriting.Markers = {"BI"};
    StreamRewriteResult result = RewriteStream(source_, in, rewriting, log_);
    if (!result.Object) return std::nullopt;
    if (log_) {
      log_("Inline images: " + IntToText(key) + "#" +
           IntToText(static_cast<std::int64_t>(result.Reading->InlineImages.size())));
    }
    return std::move(result.Object);
  }

  std::optional<RewrittenObject> Left(ObjectKey key, const Text& reason) {
    if (scanner_.Logging()) scanner_.Log("Stream left: " + IntToText(key) + " " + reason);
    return std::nullopt;
  }

  const FileAccess& source_;
  const LogHook& log_;
  ByteWindow window_;
  const std::uint8_t gray_;
  const std::unordered_set<ObjectKey> imageKeys_;
  const Scanner scanner_;
  std::vector<Header> headers_;
  std::vector<StreamObject> streams_;
  Position bodyBudget_;
  Position decodeBudget_;
  // Where a search for "endstream" found none, or -1.
  Position noEndstreamFrom_ = -1;
};

}  // namespace

std::vector<RewrittenObject> RewriteInlineImageStreams(const FileAccess& source, std::uint8_t gray,
                                                       const std::vector<ObjectKey>& imageKeys,
                                                       const LogHook& log) {
  return InlineImageWalk(source, gray, imageKeys, log).Run();
}

}  // namespace quillane
