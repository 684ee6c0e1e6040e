// The PDF lexer and a reader for one direct object (ISO 32000-1, 7.2 Lexical
// conventions and 7.3 Objects), shared by the content-stream reader and the
// walk over stream objects. Both work on bytes already in memory (a decoded
// content stream, or a window of the file); positions are offsets into them.
// Nothing is repaired: bytes that are no PDF token stop the reading.
#ifndef QUILLANE_PDF_SYNTAX_LEXER_H_
#define QUILLANE_PDF_SYNTAX_LEXER_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "base/text.h"

namespace quillane {

enum class TokenKind : std::uint8_t {
  kEnd,              // no token left: only white space and comments remained
  kError,            // bytes that start no token: ")", ">", "{", "}", a string
                     // or hexadecimal string without its end, a bad number
  kNumber,           // ISO 32000-1, 7.3.3: sign, digits, at most one period
  kName,             // "/" and the regular bytes after it, "#xx" escapes raw
  kString,           // "(" to the matching ")", escapes and nesting kept
  kHexString,        // "<" hexadecimal digits and white space ">"
  kArrayOpen,        // "["
  kArrayClose,       // "]"
  kDictionaryOpen,   // "<<"
  kDictionaryClose,  // ">>"
  kKeyword,          // any other run of regular bytes: operators, true, R...
};

struct Token {
  TokenKind Kind = TokenKind::kEnd;
  std::size_t Start = 0;  // first byte
  std::size_t End = 0;    // one past the last byte
};

class Lexer {
 public:
  // `data` must outlive the lexer.
  explicit Lexer(std::string_view data, std::size_t position = 0);

  // Skips white space and comments and reads one token; the position is left
  // one past it. At the end of the data returns kEnd with start = end = the
  // data's size. An error token covers the bytes that were examined.
  Token Next();

  std::size_t Position() const { return position_; }
  void SetPosition(std::size_t position) { position_ = position; }
  std::string_view Data() const { return data_; }
  std::string_view Bytes(const Token& token) const {
    return data_.substr(token.Start, token.End - token.Start);
  }

  // True once a token ran into the end of the data: kEnd, or a string,
  // hexadecimal string or run of regular bytes that the end cut off. A
  // reading that failed then may only lack bytes that were not given.
  bool ReachedEnd() const { return reachedEnd_; }

 private:
  std::string_view data_;
  std::size_t position_;
  bool reachedEnd_ = false;
};

// The name's bytes after the "/" with each "#" and two hexadecimal digits
// replaced by the byte they give (ISO 32000-1, 7.3.5); any other "#" is kept.
Text DecodeName(std::string_view raw);

// One direct object with the span of its bytes.
struct PdfObject {
  enum class Type : std::uint8_t {
    kNull,
    kBoolean,
    kNumber,
    kName,
    kString,
    kArray,
    kDictionary,
    kReference,  // "N G R", read only where references are allowed
  };
  Type Kind = Type::kNull;
  std::size_t Start = 0;
  std::size_t End = 0;
  // kName: the decoded name without its "/"; kNumber: the number as written;
  // kBoolean: "true" or "false".
  Text Value;
  // kArray: the elements; kDictionary: the values, parallel to `keys`.
  std::vector<PdfObject> Items;
  // kDictionary: the decoded keys and where each key's "/" stands.
  std::vector<Text> Keys;
  std::vector<std::size_t> KeyStarts;
  // kReference: the object referred to.
  std::int64_t Number = 0;
  std::int64_t Generation = 0;

  // The value of the first entry named `key`, or null when there is none.
  // REQUIRES: kind == kDictionary.
  const PdfObject* Find(std::string_view key) const;
  // The value of a kNumber written as an integer without a period, when it
  // fits 64 bits (a magnitude above 2^63 - 1 does not).
  std::optional<std::int64_t> Integer() const;
  // The value of a kNumber, integer or real (ISO 32000-1, 7.3.3), read
  // without the locale; nothing for any other object.
  std::optional<double> NumberValue() const;
  bool IsName(std::string_view name) const { return Kind == Type::kName && Value == name; }
};

// Reads one object at the lexer's position and leaves the lexer behind it.
// With `references`, "N G R" is read as a reference (dictionaries of the
// file); without, it is three objects (content streams). Returns nothing for
// bytes that are no object: a keyword other than true, false and null, a
// dictionary key that is not a name, a missing value, an unclosed or
// unbalanced array or dictionary, or nesting deeper than 64 levels.
std::optional<PdfObject> ReadObject(Lexer& lexer, bool references);

}  // namespace quillane

#endif  // QUILLANE_PDF_SYNTAX_LEXER_H_
