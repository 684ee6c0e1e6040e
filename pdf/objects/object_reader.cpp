#include "pdf/objects/object_reader.h"

#include <algorithm>

#include "base/byte_classes.h"
#include "base/checked_number.h"

namespace quillane {

namespace {

// Most dictionaries fit the first piece; pieces grow four times over.
constexpr Position kFirstPiece = 1024;
constexpr Position kBlock = 4096;
constexpr Position kLargestSearchPiece = Position{1} << 20;
constexpr std::string_view kEndstream = "endstream";
constexpr std::string_view kEndobj = "endobj";
// White space allowed between the data and "endstream", and between
// "endstream" and "endobj".
constexpr Position kMaxGap = 64;

std::size_t ToIndex(Position value) { return static_cast<std::size_t>(value); }
Position ToPosition(std::size_t value) { return static_cast<Position>(value); }

// A token that holds decimal digits only, as object numbers and
// generations are written.
std::optional<std::int64_t> Digits(const Lexer& lexer, const Token& token) {
  if (token.Kind != TokenKind::kNumber) return std::nullopt;
  return DecimalValue(lexer.Bytes(token));
}

bool IsKeyword(const Lexer& lexer, const Token& token, std::string_view word) {
  return token.Kind == TokenKind::kKeyword && lexer.Bytes(token) == word;
}

constexpr int kMaxNesting = 64;

// A number token's value when it is written as an integer, as
// PdfObject::Integer reads it: a sign, then digits that fit 64 bits.
std::optional<std::int64_t> IntegerToken(std::string_view bytes) {
  const bool sign = !bytes.empty() && (bytes[0] == '+' || bytes[0] == '-');
  const std::optional<std::int64_t> magnitude = DecimalValue(bytes.substr(sign ? 1 : 0));
  if (!magnitude) return std::nullopt;
  return bytes[0] == '-' ? -*magnitude : *magnitude;
}

bool IsNonNegativeInteger(const Lexer& lexer, const Token& token) {
  if (token.Kind != TokenKind::kNumber) return false;
  const std::optional<std::int64_t> value = IntegerToken(lexer.Bytes(token));
  return value && *value >= 0;
}

bool SkipAfter(Lexer& lexer, const Token& token, int depth);

// The elements of an array up to its "]", each token read once: "N G R" is
// a reference exactly where ReadObject reads one, when the two tokens
// before "R" are non-negative integers not taken by an earlier "R".
bool SkipArray(Lexer& lexer, int depth) {
  int integers = 0;
  for (;;) {
    const Token token = lexer.Next();
    if (token.Kind == TokenKind::kArrayClose) return true;
    if (IsKeyword(lexer, token, "R")) {
      if (integers < 2) return false;
      integers = 0;
      continue;
    }
    if (token.Kind == TokenKind::kNumber) {
      integers = IsNonNegativeInteger(lexer, token) ? integers + 1 : 0;
      continue;
    }
    integers = 0;
    if (!SkipAfter(lexer, token, depth + 1)) return false;
  }
}

// Passes over one entry's value that starts with `value` (an integer with
// the rest of a reference after it) and returns the token after it, which
// the dictionary reads next; a token of kind kError where the value is no
// object as ReadObject reads it.
Token SkipEntryValue(Lexer& lexer, const Token& value, int depth) {
  Token failed{TokenKind::kError, value.Start, value.End};
  if (value.Kind != TokenKind::kNumber) {
    if (!SkipAfter(lexer, value, depth)) return failed;
    return lexer.Next();
  }
  const Token next = lexer.Next();
  if (!IsNonNegativeInteger(lexer, value) || !IsNonNegativeInteger(lexer, next)) return next;
  // "N G" must be followed by "R": a second number can be no key.
  if (!IsKeyword(lexer, lexer.Next(), "R")) return failed;
  return lexer.Next();
}

// The entries of a dictionary up to its ">>": a name, then one value.
bool SkipDictionary(Lexer& lexer, int depth) {
  for (Token key = lexer.Next();;) {
    if (key.Kind == TokenKind::kDictionaryClose) return true;
    if (key.Kind != TokenKind::kName) return false;
    key = SkipEntryValue(lexer, lexer.Next(), depth + 1);
  }
}

// Passes over the object that starts with `token`, as ReadObject would
// read it at nesting `depth`; false where ReadObject gives nothing. A
// number is passed over alone: the callers see the rest of a reference.
bool SkipAfter(Lexer& lexer, const Token& token, int depth) {
  switch (token.Kind) {
    case TokenKind::kNumber:
    case TokenKind::kName:
    case TokenKind::kString:
    case TokenKind::kHexString:
      return true;
    case TokenKind::kKeyword: {
      const std::string_view word = lexer.Bytes(token);
      return word == "null" || word == "true" || word == "false";
    }
    case TokenKind::kArrayOpen:
      return depth < kMaxNesting && SkipArray(lexer, depth);
    case TokenKind::kDictionaryOpen:
      return depth < kMaxNesting && SkipDictionary(lexer, depth);
    default:
      return false;
  }
}

// An array whose "[" has been read, checked and passed over but not built
// (see EntryFilter::Entry::Unbuilt); nothing where ReadObject gives nothing.
std::optional<PdfObject> ReadUnbuilt(Lexer& lexer, const Token& open, int depth) {
  if (depth >= kMaxNesting || !SkipArray(lexer, depth)) return std::nullopt;
  PdfObject array;
  array.Kind = PdfObject::Type::kArray;
  array.Start = open.Start;
  array.End = lexer.Position();
  return array;
}

// The filter's entry for the name token `key` ("/Type"), or null.
const EntryFilter::Entry* FilterEntry(const EntryFilter& filter, std::string_view key) {
  const std::string_view raw = key.substr(1);
  const bool escaped = raw.find('#') != std::string_view::npos;
  const Text decoded = escaped ? DecodeName(raw) : Text();
  for (const EntryFilter::Entry& entry : filter.Entries) {
    if (entry.Key == (escaped ? std::string_view(decoded) : raw)) return &entry;
  }
  return nullptr;
}

std::optional<PdfObject> ReadFiltered(Lexer& lexer, const EntryFilter* filter, int depth) {
  const std::size_t start = lexer.Position();
  const Token open = lexer.Next();
  if (filter == nullptr || open.Kind != TokenKind::kDictionaryOpen) {
    lexer.SetPosition(start);
    return ReadObject(lexer, true);
  }
  if (depth >= kMaxNesting) return std::nullopt;
  PdfObject dictionary;
  dictionary.Kind = PdfObject::Type::kDictionary;
  dictionary.Start = open.Start;
  dictionary.Keys.reserve(filter->Entries.size());
  dictionary.KeyStarts.reserve(filter->Entries.size());
  dictionary.Items.reserve(filter->Entries.size());
  for (Token key = lexer.Next();;) {
    if (key.Kind == TokenKind::kDictionaryClose) {
      dictionary.End = key.End;
      return dictionary;
    }
    if (key.Kind != TokenKind::kName) return std::nullopt;
    const EntryFilter::Entry* entry = FilterEntry(*filter, lexer.Bytes(key));
    if (entry == nullptr) {
      key = SkipEntryValue(lexer, lexer.Next(), depth + 1);
      continue;
    }
    std::optional<PdfObject> value;
    if (entry->Unbuilt) {
      const std::size_t before = lexer.Position();
      const Token bracket = lexer.Next();
      if (bracket.Kind == TokenKind::kArrayOpen) {
        value = ReadUnbuilt(lexer, bracket, depth + 1);
      } else {
        lexer.SetPosition(before);
        value = ReadFiltered(lexer, nullptr, depth + 1);
      }
    } else {
      value = ReadFiltered(lexer, entry->Nested, depth + 1);
    }
    if (!value) return std::nullopt;
    dictionary.Keys.push_back(Text(entry->Key));
    dictionary.KeyStarts.push_back(key.Start);
    dictionary.Items.push_back(std::move(*value));
    key = lexer.Next();
  }
}

// One attempt on the bytes of `view`, which start at `at`. Sets `cut` when
// the reading ran into the end of the view, so that a larger one may read
// more.
ObjectReading ReadIn(std::string_view view, Position at, const EntryFilter* filter, bool& cut) {
  ObjectReading reading;
  Lexer lexer(view);
  const Token number = lexer.Next();
  const Token generation = lexer.Next();
  const Token obj = lexer.Next();
  const std::optional<std::int64_t> n = Digits(lexer, number);
  const std::optional<std::int64_t> g = Digits(lexer, generation);
  if (!n || !g || !IsKeyword(lexer, obj, "obj")) {
    cut = lexer.ReachedEnd();
    reading.Reason = "no object header at offset " + IntToText(at);
    return reading;
  }
  std::optional<PdfObject> value = ReadFiltered(lexer, filter, 0);
  if (!value) {
    cut = lexer.ReachedEnd();
    reading.Reason = "object at offset " + IntToText(at) + " unreadable";
    return reading;
  }
  const std::size_t afterValue = lexer.Position();
  const Token keyword = lexer.Next();
  // A value or keyword that touches the end of the view may go on beyond it
  // ("12" of "12 0 R", "endob" of "endobj").
  cut = lexer.ReachedEnd();
  ParsedObject object;
  object.Number = *n;
  object.Generation = *g;
  object.HeaderStart = at + ToPosition(number.Start);
  object.ValueStart = at + ToPosition(value->Start);
  object.ValueEnd = at + ToPosition(value->End);
  object.End = object.ValueEnd;
  if (IsKeyword(lexer, keyword, "endobj")) {
    object.End = at + ToPosition(keyword.End);
  } else if (IsKeyword(lexer, keyword, "stream") && value->Kind == PdfObject::Type::kDictionary) {
    // ISO 32000-1, 7.3.8.1: "stream" is followed by CR LF or LF; a lone CR
    // and blanks before the line end are taken too.
    std::size_t data = keyword.End;
    std::size_t p = data;
    while (p < view.size() && (view[p] == ' ' || view[p] == '\t')) ++p;
    // The line end may lie beyond the view.
    if (p + 1 >= view.size()) cut = true;
    if (p < view.size() && view[p] == '\r') {
      ++p;
      if (p < view.size() && view[p] == '\n') ++p;
      data = p;
    } else if (p < view.size() && view[p] == '\n') {
      data = p + 1;
    }
    object.IsStream = true;
    object.DataStart = at + ToPosition(data);
    object.End = object.DataStart;
  } else {
    lexer.SetPosition(afterValue);
  }
  ShiftPositions(*value, value->Start);
  object.Value = std::move(*value);
  reading.Object = std::move(object);
  return reading;
}

}  // namespace

FilePieces::FilePieces(const FileAccess& source) : source_(source), size_(source.Size()) {}

std::string_view FilePieces::View(Position from, Position to) {
  to = std::min(to, size_);
  if (from >= to) return {};
  if (from < start_ || to > start_ + ToPosition(piece_.size())) {
    piece_ = source_.Substring(from, to);
    start_ = from;
    bytesRead_ += to - from;
  }
  return std::string_view(piece_).substr(ToIndex(from - start_), ToIndex(to - from));
}

Position FilePieces::Find(std::string_view pattern, Position from, Position to) {
  const Position overlap = ToPosition(pattern.size()) - 1;
  Position length = 4096;
  // Each piece starts `overlap` bytes before the end of the last, so that a
  // pattern cut at the seam is seen; `p` grows by at least one byte a turn.
  for (Position p = from; p < to && p + overlap < size_;) {
    const Position end = std::min(size_, std::min(to, p + length) + overlap);
    const std::string_view view = View(p, end);
    const std::size_t found = view.find(pattern);
    if (found != std::string_view::npos) return p + ToPosition(found);
    if (end >= size_ || end - overlap >= to) break;
    p = end - overlap;
    length = std::min(length * 2, kLargestSearchPiece);
  }
  return -1;
}

void EachArrayReference(std::string_view array,
                        const std::function<void(std::int64_t, std::int64_t)>& visit) {
  Lexer lexer(array);
  const Token open = lexer.Next();
  if (open.Kind != TokenKind::kArrayOpen) return;
  const std::size_t start = lexer.Position();
  if (!SkipArray(lexer, 1)) return;
  lexer.SetPosition(start);
  Token last[2] = {};
  for (Token token = lexer.Next(); token.Kind != TokenKind::kArrayClose; token = lexer.Next()) {
    if (IsKeyword(lexer, token, "R")) {
      // SkipArray has seen two non-negative integers before each "R".
      visit(*IntegerToken(lexer.Bytes(last[0])), *IntegerToken(lexer.Bytes(last[1])));
    } else if (token.Kind == TokenKind::kNumber) {
      last[0] = last[1];
      last[1] = token;
    } else {
      SkipAfter(lexer, token, 2);
    }
  }
}

std::optional<PdfObject> ReadFilteredObject(Lexer& lexer, const EntryFilter* filter) {
  return ReadFiltered(lexer, filter, 0);
}

ObjectReading ReadObjectAt(FilePieces& pieces, Position at, Position maxEnd,
                           const EntryFilter* filter) {
  maxEnd = std::min(maxEnd, pieces.Size());
  if (at < 0 || at >= maxEnd)
    return {std::nullopt, "offset " + IntToText(at) + " outside the file"};
  // The first piece stays inside the 4 KiB block that holds `at` when at
  // least 256 bytes of it are left: the file access reads whole blocks, and
  // most objects need no more.
  const Position blockLeft = kBlock - at % kBlock;
  Position length = blockLeft < kFirstPiece && blockLeft >= 256 ? blockLeft : kFirstPiece;
  for (;; length *= 4) {
    const Position end = std::min(maxEnd, at + length);
    bool cut = false;
    ObjectReading reading = ReadIn(pieces.View(at, end), at, filter, cut);
    if (!cut || end >= maxEnd) return reading;
  }
}

std::optional<ValueReading> ReadValueAt(FilePieces& pieces, Position at, Position maxEnd) {
  maxEnd = std::min(maxEnd, pieces.Size());
  if (at < 0 || at >= maxEnd) return std::nullopt;
  for (Position length = kFirstPiece;; length *= 4) {
    const Position end = std::min(maxEnd, at + length);
    Lexer lexer(pieces.View(at, end));
    std::optional<PdfObject> value = ReadObject(lexer, true);
    // A number at the end of the piece may be the start of a reference.
    if (lexer.ReachedEnd() && end < maxEnd) continue;
    if (!value) return std::nullopt;
    ValueReading reading;
    reading.ValueStart = at + ToPosition(value->Start);
    reading.ValueEnd = at + ToPosition(value->End);
    ShiftPositions(*value, value->Start);
    reading.Value = std::move(*value);
    return reading;
  }
}

std::optional<StreamExtent> FindStreamExtent(FilePieces& pieces, Position dataStart,
                                             std::optional<std::int64_t> length,
                                             Position searchEnd) {
  const Position size = pieces.Size();
  const auto endstreamAt = [&pieces](Position p) -> Position {
    // "endstream" after white space only; one past it, or -1.
    const std::string_view view = pieces.View(p, p + kMaxGap + ToPosition(kEndstream.size()));
    std::size_t i = 0;
    while (i < view.size() && IsWhiteSpace(view[i])) ++i;
    if (view.substr(i, kEndstream.size()) != kEndstream) return -1;
    return p + ToPosition(i + kEndstream.size());
  };
  StreamExtent extent;
  extent.DataStart = dataStart;
  Position after = -1;
  if (length && *length >= 0 && *length <= size - dataStart) {
    after = endstreamAt(dataStart + *length);
    if (after >= 0) {
      extent.DataEnd = dataStart + *length;
      extent.LengthFits = true;
    }
  }
  if (after < 0) {
    const Position found = pieces.Find(kEndstream, dataStart, searchEnd);
    if (found < 0) return std::nullopt;
    // The end of line before "endstream" is not part of the data.
    const Position from = std::max(dataStart, found - 2);
    const std::string_view before = pieces.View(from, found);
    Position end = found;
    if (before.ends_with("\r\n")) {
      end -= 2;
    } else if (before.ends_with('\n') || before.ends_with('\r')) {
      end -= 1;
    }
    extent.DataEnd = end;
    after = found + ToPosition(kEndstream.size());
  }
  extent.ObjectEnd = after;
  const std::string_view tail = pieces.View(after, after + kMaxGap + ToPosition(kEndobj.size()));
  std::size_t i = 0;
  while (i < tail.size() && IsWhiteSpace(tail[i])) ++i;
  if (tail.substr(i, kEndobj.size()) == kEndobj &&
      (i + kEndobj.size() == tail.size() || !IsRegular(tail[i + kEndobj.size()]))) {
    extent.ObjectEnd = after + ToPosition(i + kEndobj.size());
  }
  return extent;
}

void ShiftPositions(PdfObject& object, std::size_t by) {
  object.Start -= by;
  object.End -= by;
  for (std::size_t& keyStart : object.KeyStarts) keyStart -= by;
  for (PdfObject& item : object.Items) ShiftPositions(item, by);
}

std::optional<std::int64_t> NonNegativeInteger(const PdfObject* value) {
  if (value == nullptr) return std::nullopt;
  const std::optional<std::int64_t> number = value->Integer();
  if (!number || *number < 0) return std::nullopt;
  return number;
}

}  // namespace quillane
