#include "base/text.h"
#include "pdf/syntax/object_key.h"

#include <gtest/gtest.h>

#include "base/error.h"
#include "support/loaded_file.h"
#include "support/test_util.h"

namespace quillane {
namespace {

TEST(ObjectKeyToText, NumberBlankGeneration) {
  const struct {
    ObjectKey key;
    const char* text;
  } cases[] = {
      {0, "0 0"},
      {1200000, "12 0"},
      {700003, "7 3"},
      {2147400000, "21474 0"},
      {-1, "0 -1"},
      // Keys are 64-bit: numbers beyond 21474 keep their value.
      {MakeObjectKey(25000, 0), "25000 0"},
      {MakeObjectKey(2147483647, 65535), "2147483647 65535"},
  };
  for (const auto& c : cases) EXPECT_EQ(ObjectKeyToText(c.key), c.text) << c.key;
}

TEST(ReplaceAll, LeftmostNonOverlappingNeverRescanned) {
  const struct {
    const char* text;
    const char* pattern;
    const char* replacement;
    const char* expected;
  } cases[] = {
      {"", "%1", "X", ""},
      {"abc", "%1", "X", "abc"},
      {"a%1b%1", "%1", "X", "aXbX"},
      {"a%1b%1", "%1", "", "ab"},
      {"%1%1", "%1", "%1%1", "%1%1%1%1"},
      {"aaaa", "aa", "b", "bb"},
      {"aab", "ab", "X", "aX"},
      {"${EXTRAOBJNR} R", "${EXTRAOBJNR}", "5 0", "5 0 R"},
      {"$${EXTRAOBJNR}", "${EXTRAOBJNR}", "5 0", "$5 0"},
      {"%", "%1", "X", "%"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReplaceAll(c.text, c.pattern, c.replacement), c.expected) << c.text;
  }
  // NUL is an ordinary byte on both sides.
  EXPECT_EQ(ReplaceAll(std::string("a\0%1\0", 5), "%1", std::string("\0", 1)),
            std::string("a\0\0\0", 4));
}

TEST(TailFromAndCopy, OneBasedPositionsClampLikeTheTextLibrary) {
  EXPECT_EQ(TailFrom("abcdef", 3), "cdef");
  EXPECT_EQ(TailFrom("abc", 4), "");
  EXPECT_EQ(TailFrom("abc", 0), "abc");
  EXPECT_EQ(TailFrom("abc", -7), "abc");
  EXPECT_EQ(Copy("abcdef", 2, 3), "bcd");
  EXPECT_EQ(Copy("abcdef", 0, 2), "ab");  // position below 1 counts as 1, count kept
  EXPECT_EQ(Copy("abcdef", 5, 99), "ef");
  EXPECT_EQ(Copy("abcdef", 7, 1), "");
  EXPECT_EQ(Copy("abcdef", 1, 0), "");
  EXPECT_EQ(Copy("abcdef", 1, -1), "");
}

TEST(PadLeftWithZeros, PadsButNeverCuts) {
  EXPECT_EQ(PadLeftWithZeros("", 3), "000");
  EXPECT_EQ(PadLeftWithZeros("-5", 4), "00-5");
  EXPECT_EQ(PadLeftWithZeros("1234", 10), "0000001234");
  EXPECT_EQ(PadLeftWithZeros("0", 5), "00000");
  EXPECT_EQ(PadLeftWithZeros("123456", 5), "123456");
}

TEST(EndsWith, ByteForByte) {
  EXPECT_TRUE(EndsWith("reader.exe", ".exe"));
  EXPECT_FALSE(EndsWith("READER.EXE", ".exe"));
  EXPECT_FALSE(EndsWith("exe", ".exe"));
  EXPECT_TRUE(EndsWith("", ""));
  EXPECT_TRUE(EndsWith("abc", ""));
}

TEST(Trim, RemovesBytesUpToBlankOnBothEnds) {
  EXPECT_EQ(Trim(" \t12 \r"), "12");
  EXPECT_EQ(Trim(std::string("\0 7\x01", 4)), "7");
  EXPECT_EQ(Trim(" \n "), "");
  EXPECT_EQ(Trim("a b"), "a b");
  // TrimBlanks keeps every other control byte.
  EXPECT_EQ(TrimBlanks(" \t12\r \t"), "12\r");
  EXPECT_EQ(TrimBlanks("\t \t"), "");
}

TEST(TextToInt, DecimalWithOptionalSignAfterLeadingSpaces) {
  const struct {
    const char* text;
    std::optional<std::int32_t> value;
  } cases[] = {
      {"12", 12},
      {"  12", 12},
      {"+5", 5},
      {"-5", -5},
      {"007", 7},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"2147483648", std::nullopt},
      {"-2147483649", std::nullopt},
      {"99999999999999999999999", std::nullopt},
      {"", std::nullopt},
      {"-", std::nullopt},
      {"12 ", std::nullopt},
      {"1 2", std::nullopt},
      {"\t12", std::nullopt},
      {"0x1A", std::nullopt},
      {"$1A", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(TryTextToInt(c.text), c.value) << '"' << c.text << '"';
  EXPECT_EQ(TextToIntDef("x", -1), -1);
  EXPECT_THROW_MSG(TextToInt(""), Error, "'' is not a valid integer value");
  EXPECT_THROW_MSG(TextToInt("4294967296"), Error, "'4294967296' is not a valid integer value");
}

}  // namespace
}  // namespace quillane
