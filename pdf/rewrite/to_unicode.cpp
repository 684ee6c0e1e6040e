#include "pdf/rewrite/to_unicode.h"

#include <algorithm>

#include "base/byte_classes.h"
#include "pdf/syntax/lexer.h"

namespace quillane {

namespace {

// The bytes of a hexadecimal string token "<...>", white space skipped and
// an odd last digit completed with 0 (ISO 32000-1, 7.3.4.3).
std::string_view::size_type HexBytes(std::string_view token, std::string& out) {
  out.clear();
  int high = -1;
  for (const char c : token.substr(1, token.size() - 2)) {
    if (IsWhiteSpace(c)) continue;
    const int digit = HexDigitValue(c);
    if (digit < 0) return 0;
    if (high < 0) {
      high = digit;
    } else {
      out += static_cast<char>(high * 16 + digit);
      high = -1;
    }
  }
  if (high >= 0) out += static_cast<char>(high * 16);
  return out.size();
}

std::uint32_t CodeValue(std::string_view bytes) {
  std::uint32_t value = 0;
  for (const char c : bytes) value = (value << 8) | static_cast<std::uint8_t>(c);
  return value;
}

// UTF-16BE to code points; a surrogate pair is joined, a lone surrogate kept
// as it is (the text stays what the CMap says).
std::u32string Utf16BeText(std::string_view bytes) {
  std::u32string text;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto unit = static_cast<char32_t>((static_cast<std::uint8_t>(bytes[i]) << 8) |
                                            static_cast<std::uint8_t>(bytes[i + 1]));
    if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes.size()) {
      const auto low = static_cast<char32_t>((static_cast<std::uint8_t>(bytes[i + 2]) << 8) |
                                             static_cast<std::uint8_t>(bytes[i + 3]));
      if (low >= 0xDC00 && low < 0xE000) {
        text += static_cast<char32_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    text += unit;
  }
  return text;
}

}  // namespace

ToUnicodeMap ToUnicodeMap::Read(std::string_view cmap) {
  ToUnicodeMap map;
  Lexer lexer(cmap);
  // The hexadecimal strings since the last keyword, and the array being read.
  std::vector<std::string> strings;
  std::vector<std::u32string> array;
  bool inArray = false;
  enum class Section { kNone, kCodeSpace, kChar, kRange } section = Section::kNone;
  std::string bytes;
  std::size_t order = 0;
  for (Token token = lexer.Next(); token.Kind != TokenKind::kEnd; token = lexer.Next()) {
    if (token.Kind == TokenKind::kError) break;
    const std::string_view text = lexer.Bytes(token);
    if (token.Kind == TokenKind::kHexString) {
      if (HexBytes(text, bytes) == 0 && text.size() > 2) continue;
      if (inArray) {
        array.push_back(Utf16BeText(bytes));
      } else {
        strings.push_back(bytes);
      }
    } else if (token.Kind == TokenKind::kArrayOpen) {
      inArray = true;
      array.clear();
    } else if (token.Kind == TokenKind::kArrayClose) {
      inArray = false;
    } else if (token.Kind == TokenKind::kKeyword) {
      if (text == "begincodespacerange") section = Section::kCodeSpace;
      if (text == "beginbfchar") section = Section::kChar;
      if (text == "beginbfrange") section = Section::kRange;
      if (text.starts_with("end")) section = Section::kNone;
      strings.clear();
      continue;
    } else {
      continue;
    }
    // A complete entry: two strings in a codespace or bfchar section, two
    // and a destination (a string or the array just closed) in a bfrange.
    if (section == Section::kCodeSpace && strings.size() == 2) {
      if (!strings[0].empty() && strings[0].size() == strings[1].size() && strings[0].size() <= 4) {
        map.codeSpaces_.push_back(
            {CodeValue(strings[0]), CodeValue(strings[1]), strings[0].size()});
      }
      strings.clear();
    } else if (section == Section::kChar && strings.size() == 2) {
      if (!strings[0].empty() && strings[0].size() <= 4) {
        const std::uint32_t code = CodeValue(strings[0]);
        map.ranges_.push_back(
            {code, code, strings[0].size(), Utf16BeText(strings[1]), {}, order++});
      }
      strings.clear();
    } else if (section == Section::kRange &&
               (strings.size() == 3 ||
                (strings.size() == 2 && token.Kind == TokenKind::kArrayClose))) {
      const std::string& low = strings[0];
      const std::string& high = strings[1];
      if (!low.empty() && low.size() == high.size() && low.size() <= 4 &&
          CodeValue(low) <= CodeValue(high)) {
        Range range{CodeValue(low), CodeValue(high), low.size(), {}, {}, order++};
        if (strings.size() == 3) {
          range.Destination = Utf16BeText(strings[2]);
        } else {
          range.Destinations = array;
        }
        map.ranges_.push_back(std::move(range));
      }
      strings.clear();
    }
  }
  // Later mappings first among those of the same start, for the search.
  std::sort(map.ranges_.begin(), map.ranges_.end(), [](const Range& a, const Range& b) {
    if (a.Length != b.Length) return a.Length < b.Length;
    if (a.First != b.First) return a.First < b.First;
    return a.Order > b.Order;
  });
  for (const CodeSpace& space : map.codeSpaces_) {
    if (std::find(map.codeLengths_.begin(), map.codeLengths_.end(), space.Length) ==
        map.codeLengths_.end()) {
      map.codeLengths_.push_back(space.Length);
    }
  }
  if (map.codeLengths_.empty()) map.codeLengths_.push_back(2);
  return map;
}

std::optional<std::u32string> ToUnicodeMap::TextOf(std::uint32_t code, std::size_t length) const {
  // The ranges of this length that begin at or before the code; the latest
  // mapping that holds it wins. Real CMaps hold few overlapping ranges.
  const Range* best = nullptr;
  for (const Range& range : ranges_) {
    if (range.Length != length || range.First > code) continue;
    if (code <= range.Last && (best == nullptr || range.Order > best->Order)) best = &range;
  }
  if (best == nullptr) return std::nullopt;
  const std::uint32_t offset = code - best->First;
  if (!best->Destinations.empty() || best->Destination.empty()) {
    if (offset >= best->Destinations.size()) return std::nullopt;
    return best->Destinations[offset];
  }
  std::u32string text = best->Destination;
  text.back() += offset;
  return text;
}

std::vector<ToUnicodeMap::Code> ToUnicodeMap::SplitCodes(std::string_view bytes) const {
  std::vector<Code> codes;
  std::size_t at = 0;
  while (at < bytes.size()) {
    std::size_t length = 0;
    // The first codespace range of any length that holds the code there.
    for (const CodeSpace& space : codeSpaces_) {
      if (at + space.Length > bytes.size()) continue;
      const std::uint32_t value = CodeValue(bytes.substr(at, space.Length));
      if (value >= space.Low && value <= space.High) {
        length = space.Length;
        break;
      }
    }
    if (length == 0) length = codeLengths_.front();
    if (at + length > bytes.size()) break;
    codes.push_back({CodeValue(bytes.substr(at, length)), length});
    at += length;
  }
  return codes;
}

}  // namespace quillane
