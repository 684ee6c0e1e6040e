#include "pdf/raw/scanner.h"

#include <gtest/gtest.h>

#include "base/error.h"
#include "support/memory_pdf.h"
#include "support/test_util.h"

namespace quillane {
namespace {

using test::MemoryPdf;

TEST(CharacterClasses, ExactlyThePdfSets) {
  std::string white;
  std::string delimiters;
  for (int c = 0; c < 256; ++c) {
    if (IsWhiteSpace(static_cast<std::uint8_t>(c))) white += static_cast<char>(c);
    if (IsDelimiter(static_cast<std::uint8_t>(c))) delimiters += static_cast<char>(c);
  }
  EXPECT_EQ(white, std::string("\0\t\n\f\r ", 6));
  EXPECT_EQ(delimiters, "%()/<>[]{}");
}

TEST(ReadInteger, SkipsEverythingBeforeTheDigits) {
  const struct {
    const char* bytes;
    Position start;
    std::int32_t value;
    Position after;
  } cases[] = {
      {"startxref\n1234\n%%EOF", 9, 1234, 14},
      {"-5 ", 0, 5, 2},
      {"/Size 12>>", 0, 12, 8},
      {"abc77", 0, 77, 5},  // digits running to the end of the data
      {"2147483647 ", 0, 2147483647, 10},
  };
  for (const auto& c : cases) {
    MemoryPdf file(c.bytes);
    Scanner scanner(file.source, file.log);
    Position p = c.start;
    EXPECT_EQ(scanner.ReadInteger(p), c.value) << c.bytes;
    EXPECT_EQ(p, c.after) << c.bytes;
  }
}

TEST(ReadInteger, NoDigitsOrTooManyIsTheConversionError) {
  MemoryPdf none("startxref\n%%EOF");
  Scanner scanner(none.source, none.log);
  Position p = 0;
  EXPECT_THROW_MSG(scanner.ReadInteger(p), Error, "'' is not a valid integer value");

  MemoryPdf big("x 2147483648 ");
  Scanner bigScanner(big.source, big.log);
  p = 0;
  EXPECT_THROW_MSG(bigScanner.ReadInteger(p), Error, "'2147483648' is not a valid integer value");
}

TEST(ReadToken, SkipsWhiteSpaceAndStopsBeforeWhiteSpaceOrDelimiter) {
  const struct {
    const char* bytes;
    const char* token;
    Position after;
  } cases[] = {
      {"  xref\r\n", "xref", 6},
      {"12 0 obj", "12", 2},
      {"/Root 1 0 R", "", 0},  // a delimiter first: empty, not moved
      {"Image/Width", "Image", 5},
      {"R", "R", 1},  // the data ends inside the token
      {"   ", "", 3},
  };
  for (const auto& c : cases) {
    MemoryPdf file(c.bytes);
    Scanner scanner(file.source, file.log);
    Position p = 0;
    EXPECT_EQ(scanner.ReadToken(p), c.token) << c.bytes;
    EXPECT_EQ(p, c.after) << c.bytes;
  }
}

struct KeyCase {
  const char* dictionary;
  const char* key;
  std::int32_t value;  // -7 when not found
  const char* log;
};

TEST(FindKeyValue, FindsKeysAtAnyDepthAndCountsNestedDictionaries) {
  const KeyCase cases[] = {
      {"<</Size 22/Root 1 0 R>>", "Size", 22, ""},
      {"<</Size 22/Root 1 0 R>>", "Root", 1, ""},
      {"<</Size 22/Root 1 0 R>>", "Encrypt", -7, "reached dict end @ 21"},
      {"<</A<</Size 5>>/B 1>>", "Size", 5, ""},
      // A nested dictionary right after a name is counted, so keys behind it
      // are still inside the dictionary (a common cross-reference stream
      // layout).
      {"<</DecodeParms<</Columns 5/Predictor 12>>/Size 9/Root 3 0 R>>", "Size", 9, ""},
      {"<</DecodeParms<</Columns 5>>/W[1 2 1]>>", "Size", -7, "reached dict end @ 37"},
      // A name right after a name is read as a name of its own.
      {"<</Type/XRef/Size 7>>", "Size", 7, ""},
      {"<</Type/Size 3>>", "Size", 3, ""},
      {"<</Filter/FlateDecode/Encrypt 4 0 R>>", "Encrypt", 4, ""},
      {"<<>>", "Size", -7, "reached dict end @ 2"},
      {"<</Size", "Size", -7, "!"},  // no digits: the conversion error
      {"<</Sizes 3>>", "Size", -7, "reached dict end @ 10"},
  };
  for (const auto& c : cases) {
    MemoryPdf file(c.dictionary);
    Scanner scanner(file.source, file.log);
    Position p = 0;
    std::int32_t value = -7;
    if (std::string(c.log) == "!") {
      EXPECT_THROW(scanner.FindKeyValue(c.key, value, p), Error) << c.dictionary;
      continue;
    }
    scanner.FindKeyValue(c.key, value, p);
    EXPECT_EQ(value, c.value) << c.dictionary << " " << c.key;
    EXPECT_EQ(file.Lines(), c.log) << c.dictionary << " " << c.key;
  }
}

TEST(FindKeyValue, LeavesThePositionBehindTheNumber) {
  MemoryPdf file("<</Size 22/Root 1 0 R>>");
  Scanner scanner(file.source, file.log);
  Position p = 0;
  std::int32_t value = 0;
  ASSERT_TRUE(scanner.FindKeyValue("Root", value, p));
  EXPECT_EQ(p, 17);  // the blank before the generation
}

TEST(FindKeyValue, EndOfDataWithoutClosingLogsNothing) {
  MemoryPdf file("<</A 1");
  Scanner scanner(file.source, file.log);
  Position p = 0;
  std::int32_t value = -7;
  EXPECT_FALSE(scanner.FindKeyValue("Size", value, p));
  EXPECT_EQ(value, -7);
  EXPECT_EQ(file.Lines(), "");
}

struct HeaderCase {
  std::string bytes;
  ObjectKey key;
  std::string log;
};

TEST(FindObjectKeyBefore, ReadsTheHeaderLineOfTheEnclosingObject) {
  const HeaderCase cases[] = {
      {"%PDF\n12 0 obj\n<</Subtype/Image>>", 1200000, "obj@10 | Number: 12#0"},
      {"%PDF\r7 2 obj <</X 1>>", 700002, "obj@9 | Number: 7#2"},
      {"%PDF\n  12   0   obj <<>>", 1200000, "obj@16 | Number: 12#0"},
      {"x\nendobj 5 0 obj <<>>", kNoObject, "obj@13 | Number: -1#0"},
      {"x\n12\n0 obj <<>>", kNoObject, "obj@7 | Number: 0#-1"},
      {"x\n+5 0 obj <<>>", 500000, "obj@7 | Number: 5#0"},
      // A negative number or generation would name another object.
      {"x\n-5 0 obj <<>>", kNoObject, "obj@7 | Number: -5#0"},
      {"x\n5 -2 obj <<>>", kNoObject, "obj@7 | Number: 5#-2"},
      // A generation the key cannot hold would name object 6.
      {"x\n5 100000 obj <<>>", kNoObject, "obj@11 | Number: 5#100000"},
      // Object numbers beyond 21474 keep their value in the 64-bit key.
      {"x\n30000 0 obj <<>>", MakeObjectKey(30000, 0), "obj@10 | Number: 30000#0"},
      {"x\n2147483648 0 obj <<>>", kNoObject, "obj@15 | Number: -1#0"},
      {"x\n5 99999 obj <<>>", MakeObjectKey(5, 99999), "obj@10 | Number: 5#99999"},
      {"no keyword here at all", kNoObject, ""},
      {"x\n" + std::string(47, '1') + " 0 obj <<>>", kNoObject, "obj@52 | Number: -1#0"},
      // At most 50 bytes between the line start and "obj" (one byte apart).
      {"x\n" + std::string(47, ' ') + "12 0 obj <<>>", 1200000, "obj@54 | Number: 12#0"},
      {"x\n" + std::string(48, ' ') + "12 0 obj <<>>", kNoObject, "obj@55"},
  };
  for (const auto& c : cases) {
    MemoryPdf file(c.bytes);
    Scanner scanner(file.source, file.log);
    const ObjectHeader header = scanner.FindObjectKeyBefore(file.source.Size() - 1);
    EXPECT_EQ(header.Key, c.key) << c.bytes;
    EXPECT_EQ(file.Lines(), c.log) << c.bytes;
  }
}

TEST(FindObjectKeyBefore, GivesUpAfter500Bytes) {
  const std::string bytes = "x\n1 0 obj\n<<" + std::string(600, ' ') + ">>";
  MemoryPdf file(bytes);
  Scanner scanner(file.source, file.log);
  EXPECT_EQ(scanner.FindObjectKeyBefore(file.source.Size() - 1).Key, kNoObject);
  EXPECT_EQ(file.Lines(), "");
  // Within reach it is found.
  EXPECT_EQ(scanner.FindObjectKeyBefore(400).Key, 100000);
}

TEST(FindObjectKeyBefore, HeaderOnTheFirstLineReadsBeforeTheData) {
  MemoryPdf file("12 0 obj <<>>");
  Scanner scanner(file.source, file.log);
  EXPECT_THROW_MSG(scanner.FindObjectKeyBefore(10), Error, "IndexOutOfBounds");
}

// Every prefix of a small document through every scanner: nothing may read
// outside the data (the sanitizer build turns that into a failure).
// Every scanner, started at every position of every prefix of a small
// document, stays inside the data (the in-memory file reports any read
// outside it as a contract violation, which fails the test), leaves its
// position where its contract says, raises only its own errors, and finds
// only what the document holds.
TEST(Scanners, EveryPrefixStaysInBounds) {
  const std::string document =
      "%PDF-1.4\n1 0 obj\n<</Type/Catalog/Pages 2 0 R>>\nendobj\n"
      "3 0 obj\n<</Subtype/Image/Length 3/DecodeParms<</K -1>>>>stream\nabc\nendstream\n"
      "endobj\nxref\n0 1\n0000000000 65535 f\r\ntrailer\n<</Size 4/Root 1 0 R>>\n"
      "startxref\n100\n%%EOF\n";
  const std::string notAnInteger = " is not a valid integer value";
  for (std::size_t length = 1; length <= document.size(); ++length) {
    MemoryPdf file(document.substr(0, length));
    const Scanner scanner(file.source, file.log);
    const Position size = file.source.Size();
    for (Position start = 0; start < size; ++start) {
      const std::string where = "prefix " + std::to_string(length) + " at " + std::to_string(start);
      Position p = start;
      try {
        const std::int32_t value = scanner.ReadInteger(p);
        // Left right behind the digits it converted.
        ASSERT_GT(p, start) << where;
        ASSERT_LE(p, size) << where;
        EXPECT_TRUE(IsDigit(file.source.ByteAt(p - 1))) << where;
        EXPECT_TRUE(p == size || !IsDigit(file.source.ByteAt(p))) << where;
        EXPECT_GE(value, 0) << where;
      } catch (const Error& error) {
        const std::string message = error.what();
        EXPECT_TRUE(message.size() > notAnInteger.size() &&
                    message.compare(message.size() - notAnInteger.size(), notAnInteger.size(),
                                    notAnInteger) == 0)
            << where << ": " << message;
      }

      p = start;
      const Text token = scanner.ReadToken(p);
      ASSERT_GE(p, start) << where;
      ASSERT_LE(p, size) << where;
      EXPECT_EQ(token, file.source.Substring(p - static_cast<Position>(token.size()), p)) << where;

      p = start;
      std::int32_t value = -7;
      try {
        if (scanner.FindKeyValue("Size", value, p)) {
          EXPECT_EQ(value, 4) << where;
        } else {
          EXPECT_EQ(value, -7) << where;
        }
        EXPECT_LE(p, size) << where;
      } catch (const Error& error) {
        EXPECT_NE(std::string(error.what()).find(notAnInteger), std::string::npos) << where;
      }

      try {
        const ObjectHeader header = scanner.FindObjectKeyBefore(start);
        EXPECT_TRUE(header.Key == kNoObject || header.Key == 100000 || header.Key == 300000)
            << where << ": " << header.Key;
        EXPECT_LE(header.Keyword, start) << where;
      } catch (const Error& error) {
        // A header on the first line has no line start before it.
        EXPECT_EQ(std::string(error.what()), "IndexOutOfBounds") << where;
      }
    }
  }
}

}  // namespace
}  // namespace quillane
