#include "pdf/filters/stream_filters.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "pdf/filters/filter_cases.h"

namespace quillane {
namespace {

using namespace std::string_literals;
using test::Filters;
using test::Hex;
using test::Zlib;

FilterChain Chain(const std::string& dictionary) {
  Lexer lexer(dictionary);
  const std::optional<PdfObject> object = ReadObject(lexer, true);
  EXPECT_TRUE(object) << dictionary;
  return object ? ReadFilterChain(*object) : FilterChain{};
}

// The chain compactly ("FlateDecode:12/1/8/4 ASCIIHexDecode"), or its reason.
std::string Describe(const FilterChain& chain) {
  if (!chain.Filters) return "refused: " + chain.Reason;
  std::string text;
  for (const StreamFilter& f : *chain.Filters) {
    if (!text.empty()) text += ' ';
    text += f.Name;
    if (f.Predictor != 1) {
      text += ":" + std::to_string(f.Predictor) + "/" + std::to_string(f.Colors) + "/" +
              std::to_string(f.BitsPerComponent) + "/" + std::to_string(f.Columns);
    }
    if (f.EarlyChange != 1) text += " EarlyChange " + std::to_string(f.EarlyChange);
  }
  return text;
}

TEST(ReadFilterChain, TakesOnlyWhatItCanDecode) {
  const struct {
    const char* dictionary;
    const char* chain;
  } cases[] = {
      {"<</Length 5>>", ""},
      {"<</Filter []>>", ""},
      {"<</Filter[/ASCII85Decode/FlateDecode]/DecodeParms[null<</Predictor 12/Columns 4>>]>>",
       "ASCII85Decode FlateDecode:12/1/8/4"},
      {"<</Filter/FlateDecode/DecodeParms<</Predictor 2/Colors 3/BitsPerComponent 16>>>>",
       "FlateDecode:2/3/16/1"},
      {"<</Filter/FlateDecode/DecodeParms[<</Predictor 15>>]>>", "FlateDecode:15/1/8/1"},
      {"<</Filter/DCTDecode>>", "refused: filter DCTDecode"},
      {"<</Filter[/LZWDecode/RunLengthDecode]>>", "LZWDecode RunLengthDecode"},
      {"<</Filter/LZWDecode/DecodeParms<</Predictor 15/Columns 8/EarlyChange 0>>>>",
       "LZWDecode:15/1/8/8 EarlyChange 0"},
      {"<</Filter/LZWDecode/DecodeParms<</EarlyChange 2>>>>", "refused: LZW parameters"},
      {"<</Filter/RunLengthDecode/DecodeParms<</Predictor 12/EarlyChange 5>>>>",
       "RunLengthDecode"},  // parameters of other filters are not read
      // One row may take at most 1 MiB: 2^20 columns of 8 bits, not one more.
      {"<</Filter/FlateDecode/DecodeParms<</Predictor 10/Columns 1048576>>>>",
       "FlateDecode:10/1/8/1048576"},
      {"<</Filter/FlateDecode/DecodeParms<</Predictor 10/Colors 2/Columns 524289>>>>",
       "refused: predictor parameters"},
      {"<</Filter[/AHx/AHx/AHx/AHx/AHx/AHx/AHx/AHx]>>", "refused: filter AHx"},
      {"<</Filter[/ASCIIHexDecode/ASCIIHexDecode/ASCIIHexDecode/ASCIIHexDecode/ASCIIHexDecode"
       "/ASCIIHexDecode/ASCIIHexDecode/ASCIIHexDecode/ASCIIHexDecode]>>",
       "refused: too many filters"},
      {"<</Filter/Fl>>", "refused: filter Fl"},  // abbreviations are for inline images
      {"<</Filter 7 0 R>>", "refused: filter by reference"},
      {"<</Filter/FlateDecode/DecodeParms 7 0 R>>", "refused: parameters by reference"},
      {"<</Filter/FlateDecode/DecodeParms<</Predictor 5>>>>", "refused: predictor parameters"},
      {"<</Filter/FlateDecode/DecodeParms<</Predictor 12/BitsPerComponent 3>>>>",
       "refused: predictor parameters"},
      {"<</Filter/FlateDecode/DecodeParms<</Columns 9 0 R>>>>", "refused: predictor parameters"},
  };
  for (const auto& c : cases) EXPECT_EQ(Describe(Chain(c.dictionary)), c.chain) << c.dictionary;
}

TEST(DecodeStreamData, DecodesEachSupportedFilter) {
  for (const test::FilterCase& c : test::DecodingCases()) {
    const DecodedData result = DecodeStreamData(c.raw, c.filters);
    ASSERT_TRUE(result.Data) << c.what << ": " << result.Reason;
    EXPECT_EQ(*result.Data, c.decoded) << c.what;
  }
}

TEST(DecodeStreamData, RefusesDamagedOrOversizedData) {
  for (const test::FilterCase& c : test::DamagedCases()) {
    const DecodedData result = DecodeStreamData(c.raw, c.filters);
    EXPECT_FALSE(result.Data) << c.what;
    EXPECT_EQ(result.Reason, c.reason) << c.what;
    EXPECT_FALSE(result.TooLarge) << c.what;
  }
  // A bomb: each stage's output is bounded.
  const std::string flate = Zlib(std::string(1000, 'q'));
  const DecodedData bomb = DecodeStreamData(flate, Filters({"FlateDecode"}), 999);
  EXPECT_FALSE(bomb.Data);
  EXPECT_EQ(bomb.Reason, "decoded data too large");
  EXPECT_TRUE(bomb.TooLarge);
  EXPECT_TRUE(DecodeStreamData(flate, Filters({"FlateDecode"}), 1000).Data);
  // So is an earlier stage's, whose output the next stage shrinks, and the
  // raw data itself.
  const std::string hex = Zlib(Hex(std::string(1000, 'q')));
  EXPECT_EQ(DecodeStreamData(hex, Filters({"FlateDecode", "ASCIIHexDecode"}), 2000).Reason,
            "decoded data too large");
  EXPECT_TRUE(DecodeStreamData(hex, Filters({"FlateDecode", "ASCIIHexDecode"}), 2001).Data);
  EXPECT_TRUE(DecodeStreamData(std::string(10, 'q'), {}, 9).TooLarge);
}

TEST(FlateCompress, GivesZlibDataThatDecodesToTheInput) {
  for (const std::string& data : {""s, "q Q"s, std::string(3 << 20, '\xD0')}) {
    const Text compressed = FlateCompress(data);
    EXPECT_EQ(static_cast<std::uint8_t>(compressed[0]), 0x78);  // zlib, 32 KiB window
    std::string out(data.size() + 1, '\0');
    uLongf size = static_cast<uLongf>(out.size());
    ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(out.data()), &size,
                         reinterpret_cast<const Bytef*>(compressed.data()),
                         static_cast<uLong>(compressed.size())),
              Z_OK);
    EXPECT_EQ(out.substr(0, size), data);
  }
}

}  // namespace
}  // namespace quillane
