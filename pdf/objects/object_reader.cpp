#include "pdf/objects/object_reader.h"

#include <algorithm>

#include "base/byte_classes.h"
#include "base/checked_number.h"

namespace quillane {

namespace {

// Most dictionaries fit the first piece; pieces grow four times over.
constexpr Position kFirstPiece = 1024;
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

// One attempt on the bytes of `view`, which start at `at`. Sets `cut` when
// the reading ran into the end of the view, so that a larger one may read
// more.
ObjectReading ReadIn(std::string_view view, Position at, bool& cut) {
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
  std::optional<PdfObject> value = ReadObject(lexer, true);
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

ObjectReading ReadObjectAt(FilePieces& pieces, Position at, Position maxEnd) {
  maxEnd = std::min(maxEnd, pieces.Size());
  if (at < 0 || at >= maxEnd) return {std::nullopt, "offset " + IntToText(at) + " outside the file"};
  for (Position length = kFirstPiece;; length *= 4) {
    const Position end = std::min(maxEnd, at + length);
    bool cut = false;
    ObjectReading reading = ReadIn(pieces.View(at, end), at, cut);
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
