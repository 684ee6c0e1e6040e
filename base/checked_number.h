// Decimal digits gathered into a number with an overflow check, in one place:
// the trailer's startxref offset, the scanner's integers, the lexer's
// numbers, object headers and text conversion all add digits here, so that no
// count of digits can wrap a value around.
#ifndef QUILLANE_BASE_CHECKED_NUMBER_H_
#define QUILLANE_BASE_CHECKED_NUMBER_H_

#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

namespace quillane {

inline constexpr std::int64_t kMaxInt64 = std::numeric_limits<std::int64_t>::max();

// Makes `value` value * 10 + digit and returns true, or returns false and
// leaves `value` as it is when the result would pass `limit`.
// REQUIRES: 0 <= value <= limit, 0 <= digit <= 9.
constexpr bool AddDecimalDigit(std::int64_t& value, int digit, std::int64_t limit = kMaxInt64) {
  if (value > (limit - digit) / 10) return false;
  value = value * 10 + digit;
  return true;
}

// The value of `digits`, which must be one or more decimal digits and nothing
// else, when it is at most `limit`; nothing otherwise.
// REQUIRES: limit >= 0.
constexpr std::optional<std::int64_t> DecimalValue(std::string_view digits,
                                                   std::int64_t limit = kMaxInt64) {
  if (digits.empty()) return std::nullopt;
  std::int64_t value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9' || !AddDecimalDigit(value, c - '0', limit)) return std::nullopt;
  }
  return value;
}

}  // namespace quillane

#endif  // QUILLANE_BASE_CHECKED_NUMBER_H_
