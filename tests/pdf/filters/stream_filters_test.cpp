#include "pdf/filters/stream_filters.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "support/zlib_data.h"

namespace quillane {
namespace {

using namespace std::string_literals;

std::string Zlib(const std::string& data) { return test::ZlibCompress(data, 9); }

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
      {"<</Filter/LZWDecode>>", "refused: filter LZWDecode"},
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

std::vector<StreamFilter> Filters(std::initializer_list<const char*> names) {
  std::vector<StreamFilter> filters;
  for (const char* name : names) filters.push_back({name});
  return filters;
}

StreamFilter Predictor(std::int64_t predictor, std::int64_t colors, std::int64_t bits,
                       std::int64_t columns) {
  return {"FlateDecode", predictor, colors, bits, columns};
}

TEST(DecodeStreamData, DecodesEachSupportedFilter) {
  const std::string plain = "q 1 0 0 1 0 0 cm BI /W 1 /H 1 ID \x00 EI Q"s;
  const struct {
    const char* what;
    std::string raw;
    std::vector<StreamFilter> filters;
    std::string decoded;
  } cases[] = {
      {"no filter", plain, {}, plain},
      {"Flate", Zlib(plain) + "\r\n", Filters({"FlateDecode"}), plain},
      {"hex", "48 65\n6c6C6f7>", Filters({"ASCIIHexDecode"}), "Hellop"},  // 7 is 70
      {"85", "87cURD_*#TDfTZ)z+T~>", Filters({"ASCII85Decode"}), "Hello, world\0\0\0\0!"s},
      {"85 without ~>", "87cUR D_*#TDfTZ)", Filters({"ASCII85Decode"}), "Hello, world"},
      {"hex then Flate", "78 9C 2B 04 00 00 72 00 72>", Filters({"ASCIIHexDecode", "FlateDecode"}),
       "q"},
      // PNG rows: None, Up, Average, Paeth, Sub; three one-byte pixels each.
      {"PNG",
       Zlib("\0\x09\x08\x07"
            "\2\x01\x01\x01"
            "\3\x00\x00\x00"
            "\4\x01\x01\x01"
            "\1\x05\x01\x01"s),
       {Predictor(12, 1, 8, 3)},
       "\x09\x08\x07\x0A\x09\x08\x05\x07\x07\x06\x08\x09\x05\x06\x07"},
      // TIFF: two pixels of two 8-bit colours; eight 1-bit samples; two
      // 16-bit samples that wrap.
      {"TIFF 8", Zlib("\x0A\x14\x01\x02"), {Predictor(2, 2, 8, 2)}, "\x0A\x14\x0B\x16"},
      {"TIFF 1", Zlib("\x80\x80"), {Predictor(2, 1, 1, 8)}, "\xFF\xFF"},
      {"TIFF 16", Zlib("\x00\x01\xFF\xFF"s), {Predictor(2, 1, 16, 2)}, "\x00\x01\x00\x00"s},
  };
  for (const auto& c : cases) {
    const DecodedData result = DecodeStreamData(c.raw, c.filters);
    ASSERT_TRUE(result.Data) << c.what << ": " << result.Reason;
    EXPECT_EQ(*result.Data, c.decoded) << c.what;
  }
}

TEST(DecodeStreamData, RefusesDamagedOrOversizedData) {
  const std::string flate = Zlib(std::string(1000, 'q'));
  std::string flipped = flate;
  flipped[flipped.size() - 1] = static_cast<char>(flipped.back() ^ 1);  // the checksum
  const struct {
    const char* what;
    std::string raw;
    std::vector<StreamFilter> filters;
    const char* reason;
  } cases[] = {
      {"cut short", flate.substr(0, flate.size() - 4), Filters({"FlateDecode"}),
       "Flate data cut short"},
      {"checksum", flipped, Filters({"FlateDecode"}), "Flate data damaged"},
      {"not zlib", "BT ET", Filters({"FlateDecode"}), "Flate data damaged"},
      {"hex digit", "4G", Filters({"ASCIIHexDecode"}), "ASCIIHex data damaged"},
      {"85 char", "87cU{", Filters({"ASCII85Decode"}), "ASCII85 data damaged"},
      {"85 lone char", "87cURD~>", Filters({"ASCII85Decode"}), "ASCII85 data damaged"},
      {"85 overflow", "uuuuu", Filters({"ASCII85Decode"}), "ASCII85 data damaged"},
      {"PNG type", Zlib("\5\1\2\3"), {Predictor(12, 1, 8, 3)}, "predictor rows damaged"},
      {"PNG part row", Zlib("\0\1\2"s), {Predictor(12, 1, 8, 3)}, "predictor rows damaged"},
      {"TIFF part row", Zlib("\1\2"), {Predictor(2, 3, 8, 1)}, "predictor rows damaged"},
  };
  for (const auto& c : cases) {
    const DecodedData result = DecodeStreamData(c.raw, c.filters);
    EXPECT_FALSE(result.Data) << c.what;
    EXPECT_EQ(result.Reason, c.reason) << c.what;
  }
  // A bomb: each stage's output is bounded.
  const DecodedData bomb = DecodeStreamData(flate, Filters({"FlateDecode"}), 999);
  EXPECT_FALSE(bomb.Data);
  EXPECT_EQ(bomb.Reason, "decoded data too large");
  EXPECT_TRUE(DecodeStreamData(flate, Filters({"FlateDecode"}), 1000).Data);
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
