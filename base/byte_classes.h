// The byte classes of the program's scanners, as one table: PDF white space,
// delimiters and regular bytes (ISO 32000-1, 7.2.2 Character set), decimal
// and hexadecimal digits. Never <cctype>: its answers depend on the locale
// and it is undefined for negative char values. Every scanner (the trailer
// reading, the image walk, the lexer, the content-stream reader, the stream
// filters, the registry file) asks here, so no two of them can disagree on
// what ends a token.
#ifndef QUILLANE_BASE_BYTE_CLASSES_H_
#define QUILLANE_BASE_BYTE_CLASSES_H_

#include <array>
#include <cstddef>
#include <cstdint>

namespace quillane {

namespace byte_classes_detail {

enum : std::uint8_t {
  kWhiteSpace = 1,
  kDelimiter = 2,
  kDigit = 4,
  kHexDigit = 8,
};

constexpr std::array<std::uint8_t, 256> MakeTable() {
  std::array<std::uint8_t, 256> table{};
  // NUL, tab, line feed, form feed, carriage return, space.
  for (const std::size_t c : {0x00u, 0x09u, 0x0Au, 0x0Cu, 0x0Du, 0x20u}) table[c] |= kWhiteSpace;
  for (const char c : {'%', '(', ')', '/', '<', '>', '[', ']', '{', '}'}) {
    table[static_cast<std::uint8_t>(c)] |= kDelimiter;
  }
  for (std::size_t c = '0'; c <= '9'; ++c) table[c] |= kDigit | kHexDigit;
  for (std::size_t c = 'a'; c <= 'f'; ++c) table[c] |= kHexDigit;
  for (std::size_t c = 'A'; c <= 'F'; ++c) table[c] |= kHexDigit;
  return table;
}

inline constexpr std::array<std::uint8_t, 256> kTable = MakeTable();

}  // namespace byte_classes_detail

// NUL, tab, line feed, form feed, carriage return, space (ISO 32000-1, 7.2.2).
constexpr bool IsWhiteSpace(std::uint8_t c) {
  return (byte_classes_detail::kTable[c] & byte_classes_detail::kWhiteSpace) != 0;
}
// % ( ) / < > [ ] { } (ISO 32000-1, 7.2.2).
constexpr bool IsDelimiter(std::uint8_t c) {
  return (byte_classes_detail::kTable[c] & byte_classes_detail::kDelimiter) != 0;
}
// Neither white space nor a delimiter: a byte of a name, number or keyword.
constexpr bool IsRegular(std::uint8_t c) {
  return (byte_classes_detail::kTable[c] &
          (byte_classes_detail::kWhiteSpace | byte_classes_detail::kDelimiter)) == 0;
}
constexpr bool IsDigit(std::uint8_t c) {
  return (byte_classes_detail::kTable[c] & byte_classes_detail::kDigit) != 0;
}
// 0-9, a-f, A-F.
constexpr bool IsHexDigit(std::uint8_t c) {
  return (byte_classes_detail::kTable[c] & byte_classes_detail::kHexDigit) != 0;
}

// The same tests for a char of a text or view, whatever its signedness.
constexpr bool IsWhiteSpace(char c) { return IsWhiteSpace(static_cast<std::uint8_t>(c)); }
constexpr bool IsDelimiter(char c) { return IsDelimiter(static_cast<std::uint8_t>(c)); }
constexpr bool IsRegular(char c) { return IsRegular(static_cast<std::uint8_t>(c)); }
constexpr bool IsDigit(char c) { return IsDigit(static_cast<std::uint8_t>(c)); }
constexpr bool IsHexDigit(char c) { return IsHexDigit(static_cast<std::uint8_t>(c)); }

// The value of a hexadecimal digit, -1 for any other byte.
constexpr int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace quillane

#endif  // QUILLANE_BASE_BYTE_CLASSES_H_
