#include "base/byte_classes.h"

#include <gtest/gtest.h>

#include <string>

#include "base/checked_number.h"

namespace quillane {
namespace {

// Every byte value against the lists of ISO 32000-1, 7.2.2, written out here
// rather than derived from the table.
TEST(ByteClasses, EveryByteHasTheClassOfTheStandard) {
  const std::string white("\x00\t\n\f\r ", 6);
  const std::string delimiters = "%()/<>[]{}";
  const std::string hex = "0123456789abcdefABCDEF";
  for (int c = 0; c < 256; ++c) {
    const auto byte = static_cast<std::uint8_t>(c);
    const char ch = static_cast<char>(byte);
    const bool isWhite = white.find(ch) != std::string::npos;
    const bool isDelimiter = delimiters.find(ch) != std::string::npos;
    EXPECT_EQ(IsWhiteSpace(byte), isWhite) << c;
    EXPECT_EQ(IsDelimiter(byte), isDelimiter) << c;
    EXPECT_EQ(IsRegular(byte), !isWhite && !isDelimiter) << c;
    EXPECT_EQ(IsDigit(byte), c >= '0' && c <= '9') << c;
    EXPECT_EQ(IsHexDigit(byte), hex.find(ch) != std::string::npos) << c;
    // A char, negative for the upper half where char is signed, is the same byte.
    EXPECT_EQ(IsRegular(ch), IsRegular(byte)) << c;
    const std::size_t at = hex.find(ch);
    EXPECT_EQ(HexDigitValue(ch),
              at == std::string::npos ? -1 : static_cast<int>(at < 16 ? at : at - 6))
        << c;
  }
}

TEST(CheckedNumber, DigitsStopAtTheLimitWhateverTheirCount) {
  const struct {
    const char* digits;
    std::int64_t limit;
    std::optional<std::int64_t> value;
  } cases[] = {
      {"0", kMaxInt64, 0},
      {"007", kMaxInt64, 7},
      {"9223372036854775807", kMaxInt64, kMaxInt64},
      {"9223372036854775808", kMaxInt64, std::nullopt},
      {"99999999999999999999999999", kMaxInt64, std::nullopt},
      {"2147483647", 2147483647, 2147483647},
      {"2147483648", 2147483647, std::nullopt},
      {"", kMaxInt64, std::nullopt},
      {"12a", kMaxInt64, std::nullopt},
      {"-1", kMaxInt64, std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(DecimalValue(c.digits, c.limit), c.value) << c.digits;
  std::int64_t value = 922337203685477580;
  EXPECT_FALSE(AddDecimalDigit(value, 8));
  EXPECT_EQ(value, 922337203685477580);
  EXPECT_TRUE(AddDecimalDigit(value, 7));
  EXPECT_EQ(value, kMaxInt64);
}

}  // namespace
}  // namespace quillane
