#include "pdf/content/content_stream.h"

#include <gtest/gtest.h>

#include <chrono>

#include "pdf/syntax/lexer.h"

namespace quillane {
namespace {

using namespace std::string_literals;

// The tokens of `data`, compactly: "num:1 name:/A kw:BT err:)".
std::string Tokens(std::string_view data) {
  static const char* const kKinds[] = {"end", "err", "num", "name", "str", "hex",
                                       "[",   "]",   "<<",  ">>",   "kw"};
  Lexer lexer(data);
  std::string text;
  for (Token token = lexer.Next(); token.Kind != TokenKind::kEnd; token = lexer.Next()) {
    if (!text.empty()) text += ' ';
    text += kKinds[static_cast<int>(token.Kind)];
    const auto kind = token.Kind;
    if (kind != TokenKind::kArrayOpen && kind != TokenKind::kArrayClose &&
        kind != TokenKind::kDictionaryOpen && kind != TokenKind::kDictionaryClose) {
      text += ":" + std::string(lexer.Bytes(token));
    }
    if (kind == TokenKind::kError) break;
  }
  return text;
}

TEST(Lexer, ReadsEveryKindOfToken) {
  const struct {
    std::string data;
    const char* tokens;
  } cases[] = {
      {"1 -2 +.5 4. -.002", "num:1 num:-2 num:+.5 num:4. num:-.002"},
      {"/A/B#20C /", "name:/A name:/B#20C name:/"},
      {"(a(b)c\\)d) <41 4>", "str:(a(b)c\\)d) hex:<41 4>"},
      {"[1<</K[2]>>]", "[ num:1 << name:/K [ num:2 ] >> ]"},
      {"T* ' \" d0 1 % ) (\r2", "kw:T* kw:' kw:\" kw:d0 num:1 num:2"},
      {"q\0Q"s, "kw:q kw:Q"},  // NUL is white space
      // Bytes that start no token, each an error.
      {"1 )", "num:1 err:)"},
      {"{ add }", "err:{"},
      {"1.2.3", "err:1.2.3"},
      {"(open (string)", "err:(open (string)"},
      {"<4G>", "err:<4"},
  };
  for (const auto& c : cases) EXPECT_EQ(Tokens(c.data), c.tokens) << c.data;
}

TEST(ReadObject, ReadsReferencesOnlyWhereAsked) {
  const std::string data = "<</Length 12 0 R/Filter[/A85/Fl]/D#50 null/Kids[3 0 R 4 1 R]>>";
  Lexer lexer(data);
  const std::optional<PdfObject> dictionary = ReadObject(lexer, true);
  ASSERT_TRUE(dictionary);
  ASSERT_EQ(dictionary->Keys, (std::vector<Text>{"Length", "Filter", "DP", "Kids"}));
  const PdfObject* length = dictionary->Find("Length");
  EXPECT_EQ(length->Kind, PdfObject::Type::kReference);
  EXPECT_EQ(length->Number, 12);
  EXPECT_EQ(data.substr(length->Start, length->End - length->Start), "12 0 R");
  EXPECT_EQ(dictionary->KeyStarts[1], 16u);
  EXPECT_EQ(dictionary->Find("Kids")->Items.size(), 2u);
  // In a content stream "N G R" is no reference: the R left over is no object.
  Lexer again(data);
  EXPECT_FALSE(ReadObject(again, false));
  for (const char* bad : {"<</A>>", "<<1 2>>", "[1 2", "[1 2>>", "BT", "[-1 0 R]"}) {
    Lexer l(bad);
    EXPECT_FALSE(ReadObject(l, true)) << bad;
  }
  // Integers are exact up to 2^63 - 1; beyond, they have no integer value.
  for (const auto& [text, value] : std::vector<std::pair<std::string, std::optional<std::int64_t>>>{
           {"9223372036854775807", INT64_MAX},
           {"-9223372036854775807", -INT64_MAX},
           {"9223372036854775808", std::nullopt},
           {"+0012", 12},
           {"1.0", std::nullopt}}) {
    Lexer l(text);
    EXPECT_EQ(ReadObject(l, true)->Integer(), value) << text;
  }
  // Nesting is bounded, so a hostile stream cannot exhaust the stack.
  const std::string deep = std::string(65, '[') + std::string(65, ']');
  Lexer d(deep);
  EXPECT_FALSE(ReadObject(d, false));
}

// The inline images found, as "begin-end" pairs, or "fail@N".
std::string Read(const std::string& data) {
  const ContentReading reading = ReadContentStream(data);
  if (!reading.Complete) return "fail@" + std::to_string(reading.Failure);
  std::string text;
  for (const InlineImage& image : reading.InlineImages) {
    if (!text.empty()) text += ' ';
    text += std::to_string(image.Begin) + "-" + std::to_string(image.End);
  }
  return text;
}

struct ReadingCase {
  std::string data;
  const char* found;
};

const std::vector<ReadingCase>& ReadingCases() {
  static const std::vector<ReadingCase> cases = {
      {"q 1 0 0 1 0 0 cm /F1 12 Tf (BI) Tj Q", ""},
      {"BX 1 2 unknownop EX", ""},
      // Unfiltered: the size follows from W, H, BPC and the colour space,
      // so data holding "EI" and white space is passed over.
      {"q BI /W 2 /H 1 /CS /G /BPC 8 ID E\nEI Q", "2-36"},
      {"BI /W 1 /H 2 /CS /RGB /BPC 8 ID EI EI EI\nQ", "0-40"},
      {"BI /Width 9 /Height 1 /ImageMask true ID xy EI", "0-46"},
      {"BI /W 2 /H 1 /CS [/I /RGB 1 <000000FFFFFF>] /BPC 4 ID x EI", "0-58"},
      // Filtered, or a colour space from the resources: the first EI that
      // white space and then an operator or the end follow.
      {"BI /W 4 /H 4 /CS /G /BPC 8 /F /Fl ID xEI\nEIy EI 5 EI\nQ", "0-52"},
      {"BI /W 4 /H 4 /CS /CS0 /BPC 8 ID ab EI BT ET", "0-37"},
      {"BI /W 4 /H 4 /CS /CS0 /BPC 8 ID ab EI BT EI ET", "fail@41"},  // the first EI ends it
      {"BI /W 1 /H 1 /F [/AHx] ID 4 EI > EI Q", "0-35"},
      {"BI /W 1 /H 1 /F /A85 ID EI Q~> EI", "0-33"},
      // PDF 2.0 /L, taken where EI follows it.
      {"BI /W 9 /H 9 /F /Fl /L 5 ID EI Q EI Q", "0-35"},
      {"q BI /W 1 /H 1 /CS /G /BPC 8 ID \xD0 EI Q BI /W 1 /H 1 /CS /G /BPC 8 ID \x00 EI"s,
       "2-36 39-73"},
      // Not content syntax: reading stops where the fault is.
      {"q 1 0 0 1 0 0 cm BI", "fail@17"},
      {"BI /W 3 /H 1 /CS /G /BPC 8 ID x EI", "fail@0"},  // data too short
      {"BI /W 1 /H 1 /CS /G /BPC 8 IDx EI", "fail@0"},   // no white space after ID
      {"BI /W 1 /H 1 /F /Fl ID xx EIQ", "fail@0"},       // no EI as a token
      {"BI /W 1 /H 1 /F /Fl ID xx EI 1 2", "fail@0"},    // no operator after EI
      {"BI 5 ID x EI", "fail@0"},                        // a key that is no name
      {"BI /W 1 /H 1 /F /A85 ID xx EI Q", "fail@0"},     // no ~>
      {"q [1 re] Q", "fail@5"},
      {"<</A 1 /B>> BDC", "fail@9"},
      {"1 0 0 1 0 0 cm lineto", "fail@15"},
      {"q EX EX Q", ""},  // EX is an operator of its own
  };
  return cases;
}

TEST(ReadContentStream, FindsInlineImagesAndRefusesWhatIsNoContent) {
  for (const auto& c : ReadingCases()) EXPECT_EQ(Read(c.data), c.found) << c.data;
}

// Read in pieces, the stream reads as it does in memory, whatever the pieces'
// sizes, and the output is the input with the images replaced, or as it was.
TEST(ReadContent, InPiecesReadsAsInMemoryAndWritesTheRewrite) {
  for (const auto& c : ReadingCases()) {
    const ContentReading whole = ReadContentStream(c.data);
    for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{1} << 16}) {
      for (const bool replace : {false, true}) {
        std::size_t at = 0;
        const ContentInput input = [&](char* buffer, std::size_t capacity) {
          const std::size_t count = std::min({piece, capacity, c.data.size() - at});
          std::copy_n(c.data.data() + at, count, buffer);
          at += count;
          return count;
        };
        std::string output;
        ContentEditing editing;
        editing.ReplaceInlineImages = replace;
        editing.Gray = 0x42;
        editing.Output = [&output](std::string_view bytes) { output.append(bytes); };
        const ContentReading read = ReadContent(input, editing);
        const std::string trace = c.data + " in pieces of " + std::to_string(piece);
        EXPECT_EQ(read.Complete, whole.Complete) << trace;
        EXPECT_EQ(read.Failure, whole.Failure) << trace;
        EXPECT_EQ(read.GlyphDescription, whole.GlyphDescription) << trace;
        ASSERT_EQ(read.InlineImages.size(), whole.InlineImages.size()) << trace;
        for (std::size_t i = 0; i < read.InlineImages.size(); ++i) {
          EXPECT_EQ(read.InlineImages[i].Begin, whole.InlineImages[i].Begin) << trace;
          EXPECT_EQ(read.InlineImages[i].End, whole.InlineImages[i].End) << trace;
        }
        if (!read.Complete) continue;
        EXPECT_EQ(output, replace ? ReplaceInlineImages(c.data, whole.InlineImages, 0x42) : c.data)
            << trace;
      }
    }
  }
}

// An editor gives operations new bytes; everything else stays, and the
// operation's bytes run from its first operand to its operator.
TEST(ReadContent, EditedOperationsReplaceTheirBytes) {
  const std::string data = "BT /F1 12 Tf 3 Tr (a) Tj\n[(b) 5 (c)]\nTJ ET q 7 Tr Q";
  std::vector<std::string> seen;
  std::string output;
  ContentEditing editing;
  editing.EditOperation = [&seen](const ContentOperation& operation) -> std::optional<Text> {
    seen.push_back(std::string(operation.Operator) + ":" + std::string(operation.Bytes) + "@" +
                   std::to_string(operation.Start));
    if (operation.Operator == "Tr") return Text("0 Tr");
    return std::nullopt;
  };
  editing.Output = [&output](std::string_view bytes) { output.append(bytes); };
  const ContentReading reading = ReadContent(
      [&data, done = false](char* buffer, std::size_t capacity) mutable -> std::size_t {
        if (done) return 0;
        done = true;
        std::copy_n(data.data(), std::min(capacity, data.size()), buffer);
        return std::min(capacity, data.size());
      },
      editing);
  ASSERT_TRUE(reading.Complete);
  EXPECT_EQ(reading.EditedOperations, 2u);
  EXPECT_EQ(output, "BT /F1 12 Tf 0 Tr (a) Tj\n[(b) 5 (c)]\nTJ ET q 0 Tr Q");
  EXPECT_EQ(seen, (std::vector<std::string>{"BT:BT@0", "Tf:/F1 12 Tf@3", "Tr:3 Tr@13",
                                            "Tj:(a) Tj@18", "TJ:[(b) 5 (c)]\nTJ@25", "ET:ET@40",
                                            "q:q@43", "Tr:7 Tr@45", "Q:Q@50"}));
}

// A long stream is read through a bounded window: 40 MB of path operators
// with an image near the end come out rewritten, while the reading never
// holds more than a piece and an operation.
TEST(ReadContent, LongStreamsAreReadInBoundedMemory) {
  const std::string line = "100.5 200.25 m 300 400 l S\n";
  const std::size_t lines = (std::size_t{40} << 20) / line.size();
  const std::string image = "BI /W 2 /H 1 /CS /G /BPC 8 ID ab EI\n";
  std::size_t produced = 0;
  std::size_t largest = 0;
  const ContentInput input = [&](char* buffer, std::size_t capacity) {
    largest = std::max(largest, capacity);
    std::size_t count = 0;
    while (count + line.size() <= capacity && produced < lines + 2) {
      const std::string& next = produced == lines ? image : line;
      std::copy(next.begin(), next.end(), buffer + count);
      count += next.size();
      ++produced;
    }
    return count;
  };
  std::size_t written = 0;
  std::string tail;
  ContentEditing editing;
  editing.ReplaceInlineImages = true;
  editing.Gray = 0x7F;
  editing.Output = [&](std::string_view bytes) {
    written += bytes.size();
    tail = (tail + std::string(bytes))
               .substr(tail.size() + bytes.size() > 200 ? tail.size() + bytes.size() - 200 : 0);
  };
  const ContentReading reading = ReadContent(input, editing);
  ASSERT_TRUE(reading.Complete);
  ASSERT_EQ(reading.InlineImages.size(), 1u);
  EXPECT_EQ(written, (lines + 1) * line.size() + PlaceholderInlineImage(0x7F).size() + 1);
  EXPECT_NE(tail.find(PlaceholderInlineImage(0x7F) + "\n" + line), std::string::npos);
  EXPECT_LE(largest, std::size_t{1} << 20);
}

TEST(ReadContentStream, TellsAGlyphDescriptionByItsFirstOperator) {
  const struct {
    std::string data;
    bool glyph;
  } cases[] = {
      {"1000 0 0 0 750 750 d1 q 750 0 0 750 0 0 cm BI /IM true /W 1 /H 1 ID \x80 EI Q", true},
      {"% comment\n500 0 d0 0 0 m 10 10 l S", true},
      {"[1 2] 0 d 1000 0 0 0 750 750 d1", false},  // d (dash) comes first
      {"q 1000 0 0 0 750 750 d1 Q", false},
      {"BI /W 1 /H 1 /CS /G /BPC 8 ID x EI 0 0 d0", false},
      {"", false},
      // Known as soon as it is read, also when what follows does not read.
      {"1000 0 0 0 750 750 d1 [ q", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReadContentStream(c.data).GlyphDescription, c.glyph) << c.data;
  }
}

TEST(ReadContentStream, LooksAfterEveryEiInWorkLinearInTheSize) {
  // Each "EI" is followed by a string that runs to the end of the data, so
  // every candidate's look ahead reads all the rest: without a bound, work
  // quadratic in the size (20,000 times the data here).
  std::string data = "BI /W 1 /H 1 /F /Fl ID x";
  for (int i = 0; i < 20000; ++i) data += "EI (";
  const ContentReading reading = ReadContentStream(data);
  EXPECT_FALSE(reading.Complete);
  EXPECT_EQ(reading.Failure, 0u);
  EXPECT_LE(reading.BytesExamined, 9 * data.size() + (1u << 16));
  EXPECT_GT(reading.BytesExamined, data.size()) << "the look-aheads were not counted";
}

TEST(ReplaceInlineImages, KeepsEveryOtherByte) {
  const std::string data =
      "q\r\n100 0 0 50 0 0 cm\nBI /W 2 /H 1 /CS /G /BPC 8 ID ab\nEI\nQ % end\n"
      "BI /IM true /W 1 /H 1 /F /AHx ID 80> EI";
  const ContentReading reading = ReadContentStream(data);
  ASSERT_TRUE(reading.Complete);
  ASSERT_EQ(reading.InlineImages.size(), 2u);
  const std::string rewritten = ReplaceInlineImages(data, reading.InlineImages, 0x80);
  EXPECT_EQ(rewritten,
            "q\r\n100 0 0 50 0 0 cm\nBI /W 1 /H 1 /CS /G /BPC 8 ID \x80 EI\nQ % end\n"
            "BI /W 1 /H 1 /CS /G /BPC 8 ID \x80 EI");
  // The result reads again, with placeholders where the images were.
  const ContentReading again = ReadContentStream(rewritten);
  ASSERT_TRUE(again.Complete);
  ASSERT_EQ(again.InlineImages.size(), 2u);
  EXPECT_EQ(rewritten.substr(again.InlineImages[1].Begin), PlaceholderInlineImage(0x80));
}

TEST(ReplaceInlineImages, PlaceholderReadsForEveryGray) {
  // Whatever the sample byte, white space, "E" or a delimiter included.
  for (int gray = 0; gray < 256; ++gray) {
    const std::string data = PlaceholderInlineImage(static_cast<std::uint8_t>(gray)) + "\nQ";
    EXPECT_EQ(Read(data), "0-34") << gray;
  }
}

}  // namespace
}  // namespace quillane
