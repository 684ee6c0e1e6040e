#include "pdf/syntax/lexer.h"

#include "base/byte_classes.h"
#include "base/checked_number.h"

namespace quillane {

namespace {

constexpr int kMaxNesting = 64;

// ISO 32000-1, 7.3.3: an optional sign, then digits with at most one period
// among or around them, and at least one digit.
bool IsNumber(std::string_view run) {
  std::size_t i = 0;
  if (run[0] == '+' || run[0] == '-') i = 1;
  bool digit = false;
  bool period = false;
  for (; i < run.size(); ++i) {
    if (IsDigit(run[i])) {
      digit = true;
    } else if (run[i] == '.' && !period) {
      period = true;
    } else {
      return false;
    }
  }
  return digit;
}

// A number token written as an integer: sign and digits only, within 64 bits
// (a larger magnitude is refused rather than wrapped).
std::optional<std::int64_t> IntegerValue(std::string_view text) {
  const std::size_t first = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
  const std::optional<std::int64_t> magnitude = DecimalValue(text.substr(first));
  if (!magnitude) return std::nullopt;
  return text[0] == '-' ? -*magnitude : *magnitude;
}

}  // namespace

Lexer::Lexer(std::string_view data, std::size_t position) : data_(data), position_(position) {}

Token Lexer::Next() {
  const std::size_t size = data_.size();
  std::size_t p = position_;
  // White space and comments; a comment runs to the next CR or LF.
  while (p < size) {
    const char c = data_[p];
    if (IsWhiteSpace(c)) {
      ++p;
    } else if (c == '%') {
      while (p < size && data_[p] != '\r' && data_[p] != '\n') ++p;
    } else {
      break;
    }
  }
  Token token{TokenKind::kEnd, p, p};
  if (p == size) {
    reachedEnd_ = true;
    position_ = p;
    return token;
  }
  const char c = data_[p];
  const bool hasNext = p + 1 < size;
  switch (c) {
    case '(': {
      // Nested parentheses balance; a backslash takes the byte after it
      // along, which covers \( \) \\ (ISO 32000-1, 7.3.4.2).
      int depth = 0;
      token.Kind = TokenKind::kError;
      while (p < size) {
        const char s = data_[p++];
        if (s == '\\') {
          if (p < size) ++p;
        } else if (s == '(') {
          ++depth;
        } else if (s == ')' && --depth == 0) {
          token.Kind = TokenKind::kString;
          break;
        }
      }
      if (token.Kind == TokenKind::kError) reachedEnd_ = true;
      break;
    }
    case '<':
      if (hasNext && data_[p + 1] == '<') {
        token.Kind = TokenKind::kDictionaryOpen;
        p += 2;
        break;
      }
      token.Kind = TokenKind::kError;
      for (++p; p < size; ++p) {
        const char h = data_[p];
        if (h == '>') {
          token.Kind = TokenKind::kHexString;
          ++p;
          break;
        }
        if (!IsHexDigit(h) && !IsWhiteSpace(h)) break;
      }
      if (p == size && token.Kind == TokenKind::kError) reachedEnd_ = true;
      break;
    case '>':
      token.Kind = hasNext && data_[p + 1] == '>' ? TokenKind::kDictionaryClose : TokenKind::kError;
      p += token.Kind == TokenKind::kDictionaryClose ? 2 : 1;
      // A ">" that ends the data may be the first half of ">>".
      if (!hasNext) reachedEnd_ = true;
      break;
    case '[':
      token.Kind = TokenKind::kArrayOpen;
      ++p;
      break;
    case ']':
      token.Kind = TokenKind::kArrayClose;
      ++p;
      break;
    case '/':
      token.Kind = TokenKind::kName;
      for (++p; p < size && IsRegular(data_[p]);) ++p;
      if (p == size) reachedEnd_ = true;
      break;
    case ')':
    case '{':
    case '}':
      token.Kind = TokenKind::kError;
      ++p;
      break;
    default: {
      while (p < size && IsRegular(data_[p])) ++p;
      if (p == size) reachedEnd_ = true;
      const std::string_view run = data_.substr(token.Start, p - token.Start);
      const bool numeric = IsDigit(c) || c == '+' || c == '-' || c == '.';
      if (!numeric) {
        token.Kind = TokenKind::kKeyword;
      } else {
        token.Kind = IsNumber(run) ? TokenKind::kNumber : TokenKind::kError;
      }
      break;
    }
  }
  token.End = p;
  position_ = p;
  return token;
}

Text DecodeName(std::string_view raw) {
  Text name;
  name.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '#' && i + 2 < raw.size() && IsHexDigit(raw[i + 1]) && IsHexDigit(raw[i + 2])) {
      name += static_cast<char>(HexDigitValue(raw[i + 1]) * 16 + HexDigitValue(raw[i + 2]));
      i += 2;
    } else {
      name += raw[i];
    }
  }
  return name;
}

const PdfObject* PdfObject::Find(std::string_view key) const {
  for (std::size_t i = 0; i < Keys.size(); ++i) {
    if (Keys[i] == key) return &Items[i];
  }
  return nullptr;
}

std::optional<double> PdfObject::NumberValue() const {
  if (Kind != Type::kNumber) return std::nullopt;
  // Sign, digits, at most one period (the lexer made sure of the form).
  double value = 0;
  double scale = 0;
  for (const char c : Value) {
    if (c == '.') {
      scale = 1;
    } else if (IsDigit(c)) {
      value = value * 10 + (c - '0');
      scale *= 10;
    }
  }
  if (scale > 0) value /= scale;
  return !Value.empty() && Value[0] == '-' ? -value : value;
}

std::optional<std::int64_t> PdfObject::Integer() const {
  if (Kind != Type::kNumber) return std::nullopt;
  return IntegerValue(Value);
}

namespace {

std::optional<PdfObject> ReadNested(Lexer& lexer, bool references, int depth);

// After an integer: " G R" makes it a reference; otherwise the lexer is put
// back behind the integer.
bool ReadReferenceTail(Lexer& lexer, PdfObject& object) {
  const std::size_t after = lexer.Position();
  const Token generation = lexer.Next();
  if (generation.Kind == TokenKind::kNumber) {
    const Token r = lexer.Next();
    const std::optional<std::int64_t> number = object.Integer();
    const std::optional<std::int64_t> gen = IntegerValue(lexer.Bytes(generation));
    if (r.Kind == TokenKind::kKeyword && lexer.Bytes(r) == "R" && number && gen && *number >= 0 &&
        *gen >= 0) {
      object.Kind = PdfObject::Type::kReference;
      object.Number = *number;
      object.Generation = *gen;
      object.End = r.End;
      return true;
    }
  }
  lexer.SetPosition(after);
  return false;
}

std::optional<PdfObject> ReadFrom(Lexer& lexer, const Token& token, bool references, int depth) {
  PdfObject object;
  object.Start = token.Start;
  object.End = token.End;
  switch (token.Kind) {
    case TokenKind::kNumber:
      object.Kind = PdfObject::Type::kNumber;
      object.Value = Text(lexer.Bytes(token));
      if (references && object.Integer()) ReadReferenceTail(lexer, object);
      return object;
    case TokenKind::kName:
      object.Kind = PdfObject::Type::kName;
      object.Value = DecodeName(lexer.Bytes(token).substr(1));
      return object;
    case TokenKind::kString:
    case TokenKind::kHexString:
      object.Kind = PdfObject::Type::kString;
      return object;
    case TokenKind::kKeyword: {
      const std::string_view word = lexer.Bytes(token);
      if (word == "null") return object;
      if (word != "true" && word != "false") return std::nullopt;
      object.Kind = PdfObject::Type::kBoolean;
      object.Value = Text(word);
      return object;
    }
    case TokenKind::kArrayOpen:
      if (depth >= kMaxNesting) return std::nullopt;
      object.Kind = PdfObject::Type::kArray;
      for (;;) {
        const Token next = lexer.Next();
        if (next.Kind == TokenKind::kArrayClose) {
          object.End = next.End;
          return object;
        }
        std::optional<PdfObject> item = ReadFrom(lexer, next, references, depth + 1);
        if (!item) return std::nullopt;
        object.Items.push_back(std::move(*item));
      }
    case TokenKind::kDictionaryOpen:
      if (depth >= kMaxNesting) return std::nullopt;
      object.Kind = PdfObject::Type::kDictionary;
      for (;;) {
        const Token key = lexer.Next();
        if (key.Kind == TokenKind::kDictionaryClose) {
          object.End = key.End;
          return object;
        }
        if (key.Kind != TokenKind::kName) return std::nullopt;
        std::optional<PdfObject> value = ReadNested(lexer, references, depth + 1);
        if (!value) return std::nullopt;
        object.Keys.push_back(DecodeName(lexer.Bytes(key).substr(1)));
        object.KeyStarts.push_back(key.Start);
        object.Items.push_back(std::move(*value));
      }
    default:
      return std::nullopt;
  }
}

std::optional<PdfObject> ReadNested(Lexer& lexer, bool references, int depth) {
  const Token token = lexer.Next();
  return ReadFrom(lexer, token, references, depth);
}

}  // namespace

std::optional<PdfObject> ReadObject(Lexer& lexer, bool references) {
  return ReadNested(lexer, references, 0);
}

}  // namespace quillane
