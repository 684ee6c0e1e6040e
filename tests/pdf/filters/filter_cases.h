// Stream data for the filter tests, made independently of the code under
// test (zlib itself, a plain LZW encoder written from ISO 32000-1, 7.4.4.2),
// and the table of known cases that the whole-buffer and the streaming
// decoder must both give.
#ifndef QUILLANE_TESTS_PDF_FILTERS_FILTER_CASES_H_
#define QUILLANE_TESTS_PDF_FILTERS_FILTER_CASES_H_

#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/filters/stream_filters.h"
#include "support/zlib_data.h"

namespace quillane::test {

using namespace std::string_literals;

inline std::string Zlib(const std::string& data) { return ZlibCompress(data, 9); }

inline std::vector<StreamFilter> Filters(std::initializer_list<const char*> names) {
  std::vector<StreamFilter> filters;
  for (const char* name : names) filters.push_back({name});
  return filters;
}

inline StreamFilter Predictor(std::int64_t predictor, std::int64_t colors, std::int64_t bits,
                              std::int64_t columns, const char* filter = "FlateDecode") {
  return {filter, predictor, colors, bits, columns};
}

inline StreamFilter LzwFilter(std::int64_t earlyChange) {
  return {"LZWDecode", 1, 1, 8, 1, earlyChange};
}

// Codes packed most significant bit first, each `width` bits wide, the last
// byte padded with zero bits.
inline std::string PackCodes(std::initializer_list<int> codes, int width = 9) {
  std::string out;
  std::uint32_t bits = 0;
  int count = 0;
  for (const int code : codes) {
    bits = (bits << width) | static_cast<std::uint32_t>(code);
    count += width;
    for (; count >= 8; count -= 8) out += static_cast<char>((bits >> (count - 8)) & 0xFF);
    bits &= (1u << count) - 1;
  }
  if (count > 0) out += static_cast<char>((bits << (8 - count)) & 0xFF);
  return out;
}

// `data` LZW-encoded: a clear code, then the code of the longest string the
// table knows each time, each new string added, and the end code. The code
// width grows when the decoder's table (one entry behind the encoder's) is
// about to need it, one code early with `earlyChange`. With `clearWhenFull`
// a clear code follows when the table is full; without, the table stays
// full and codes go on at 12 bits.
inline std::string Lzw(std::string_view data, int earlyChange = 1, bool clearWhenFull = true) {
  std::string out;
  std::uint32_t bits = 0;
  int count = 0;
  int width = 9;
  const auto put = [&](int code) {
    bits = (bits << width) | static_cast<std::uint32_t>(code);
    count += width;
    for (; count >= 8; count -= 8) out += static_cast<char>((bits >> (count - 8)) & 0xFF);
    bits &= (1u << count) - 1;
  };
  std::map<std::string, int> table;
  int next = 258;
  const auto clear = [&] {
    put(256);
    table.clear();
    for (int c = 0; c < 256; ++c) table[std::string(1, static_cast<char>(c))] = c;
    next = 258;
    width = 9;
  };
  clear();
  std::string known;
  for (const char c : data) {
    std::string longer = known + c;
    if (table.count(longer) != 0) {
      known = std::move(longer);
      continue;
    }
    put(table[known]);
    if (next < 4096) {
      table[longer] = next++;
      if (next - 1 + earlyChange >= (1 << width) && width < 12) ++width;
    }
    if (clearWhenFull && next == 4096) clear();
    known = std::string(1, c);
  }
  if (!known.empty()) put(table[known]);
  put(257);
  if (count > 0) out += static_cast<char>((bits << (8 - count)) & 0xFF);
  return out;
}

// `data` as ASCIIHex digits with a ">" at the end.
inline std::string Hex(std::string_view data) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : data) {
    out += kDigits[static_cast<std::uint8_t>(c) >> 4];
    out += kDigits[static_cast<std::uint8_t>(c) & 15];
  }
  return out + ">";
}

// `data` as RunLength copies of up to 128 bytes each, and the end.
inline std::string RunLengthCopies(std::string_view data) {
  std::string out;
  for (std::size_t at = 0; at < data.size(); at += 128) {
    const std::string_view piece = data.substr(at, 128);
    out += static_cast<char>(piece.size() - 1);
    out += piece;
  }
  return out + "\x80";
}

// Text that LZW and Flate find something in: words from a small vocabulary
// with numbers between them, as content streams look.
inline std::string ContentLike(std::size_t size, std::uint32_t seed = 1) {
  static constexpr std::string_view kWords[] = {
      "q ", "Q ", "cm ", "BT ", "ET ", "Tf ", "Tj ", "re ", "f\n", "/F1 ", "(Hello) ", "0 0 1 rg "};
  std::string out;
  while (out.size() < size) {
    seed = seed * 1103515245u + 12345u;
    out += kWords[(seed >> 16) % std::size(kWords)];
    out += std::to_string((seed >> 8) % 1000) + ' ';
  }
  out.resize(size);
  return out;
}

// A case of decoding: the raw data, the chain, and either the decoded bytes
// or the reason the data does not decode.
struct FilterCase {
  const char* what;
  std::string raw;
  std::vector<StreamFilter> filters;
  std::string decoded;
  const char* reason;  // null when the data decodes
};

inline std::vector<FilterCase> DecodingCases() {
  const std::string plain = "q 1 0 0 1 0 0 cm BI /W 1 /H 1 ID \x00 EI Q"s;
  // PNG rows: None, Up, Average, Paeth, Sub; three one-byte pixels each.
  const std::string pngRows =
      "\0\x09\x08\x07"
      "\2\x01\x01\x01"
      "\3\x00\x00\x00"
      "\4\x01\x01\x01"
      "\1\x05\x01\x01"s;
  const std::string pngDecoded = "\x09\x08\x07\x0A\x09\x08\x05\x07\x07\x06\x08\x09\x05\x06\x07";
  const std::string long1 = ContentLike(20000, 7);
  const std::string runs =
      "\x02"
      "abc"
      "\xFE"
      "x"
      "\x81"
      "z"
      "\x80"s;
  return {
      {"no filter", plain, {}, plain, nullptr},
      {"Flate", Zlib(plain) + "\r\n", Filters({"FlateDecode"}), plain, nullptr},
      {"hex", "48 65\n6c6C6f7>", Filters({"ASCIIHexDecode"}), "Hellop", nullptr},  // 7 is 70
      {"85", "87cURD_*#TDfTZ)z+T~>", Filters({"ASCII85Decode"}), "Hello, world\0\0\0\0!"s, nullptr},
      {"85 without ~>", "87cUR D_*#TDfTZ)", Filters({"ASCII85Decode"}), "Hello, world", nullptr},
      {"hex then Flate", "78 9C 2B 04 00 00 72 00 72>", Filters({"ASCIIHexDecode", "FlateDecode"}),
       "q", nullptr},
      {"PNG", Zlib(pngRows), {Predictor(12, 1, 8, 3)}, pngDecoded, nullptr},
      // TIFF: two pixels of two 8-bit colours; eight 1-bit samples; two
      // 16-bit samples that wrap.
      {"TIFF 8", Zlib("\x0A\x14\x01\x02"), {Predictor(2, 2, 8, 2)}, "\x0A\x14\x0B\x16", nullptr},
      {"TIFF 1", Zlib("\x80\x80"), {Predictor(2, 1, 1, 8)}, "\xFF\xFF", nullptr},
      {"TIFF 16",
       Zlib("\x00\x01\xFF\xFF"s),
       {Predictor(2, 1, 16, 2)},
       "\x00\x01\x00\x00"s,
       nullptr},
      // TIFF with 4-bit samples of 3 colours, 3 pixels: 36 bits in 5 bytes,
      // the last half byte padding that stays as it is.
      {"TIFF 4 padded",
       Zlib("\x12\x31\x11\x11\x1F"),
       {Predictor(2, 3, 4, 3)},
       "\x12\x32\x34\x34\x5F",
       nullptr},
      // ISO 32000-1, 7.4.4.2: "-----A---B" as the codes 256 45 258 258 65
      // 259 66 257, all 9 bits wide, so /EarlyChange cannot matter.
      {"LZW example",
       "\x80\x0B\x60\x50\x22\x0C\x0C\x85\x01",
       {LzwFilter(1)},
       "-----A---B",
       nullptr},
      {"LZW example, EarlyChange 0",
       "\x80\x0B\x60\x50\x22\x0C\x0C\x85\x01",
       {LzwFilter(0)},
       "-----A---B",
       nullptr},
      {"LZW without clear or end", PackCodes({45, 258, 65}), Filters({"LZWDecode"}), "---A",
       nullptr},
      {"LZW ends at its end code", PackCodes({65, 257, 66}), Filters({"LZWDecode"}), "A", nullptr},
      {"LZW 10 to 12 bits", Lzw(long1, 1), {LzwFilter(1)}, long1, nullptr},
      {"LZW 10 to 12 bits, EarlyChange 0", Lzw(long1, 0), {LzwFilter(0)}, long1, nullptr},
      {"LZW table full", Lzw(long1, 1, false), {LzwFilter(1)}, long1, nullptr},
      {"LZW table full, EarlyChange 0", Lzw(long1, 0, false), {LzwFilter(0)}, long1, nullptr},
      {"LZW PNG", Lzw(pngRows), {Predictor(12, 1, 8, 3, "LZWDecode")}, pngDecoded, nullptr},
      {"LZW TIFF",
       Lzw("\x0A\x14\x01\x02"),
       {Predictor(2, 2, 8, 2, "LZWDecode")},
       "\x0A\x14\x0B\x16",
       nullptr},
      {"RunLength", runs, Filters({"RunLengthDecode"}), "abcxxx" + std::string(128, 'z'), nullptr},
      {"RunLength longest copy", "\x7F" + std::string(128, 'c'), Filters({"RunLengthDecode"}),
       std::string(128, 'c'), nullptr},
      {"RunLength without end",
       "\x00"
       "a"s,
       Filters({"RunLengthDecode"}), "a", nullptr},
      {"RunLength bytes after the end",
       "\x00"
       "a\x80junk"s,
       Filters({"RunLengthDecode"}), "a", nullptr},
      {"hex, LZW, PNG",
       Hex(Lzw(pngRows)),
       {Filters({"ASCIIHexDecode"})[0], Predictor(12, 1, 8, 3, "LZWDecode")},
       pngDecoded,
       nullptr},
      {"Flate then RunLength", Zlib(runs), Filters({"FlateDecode", "RunLengthDecode"}),
       "abcxxx" + std::string(128, 'z'), nullptr},
      {"RunLength then Flate", RunLengthCopies(Zlib(long1)),
       Filters({"RunLengthDecode", "FlateDecode"}), long1, nullptr},
  };
}

inline std::vector<FilterCase> DamagedCases() {
  const std::string flate = Zlib(std::string(1000, 'q'));
  std::string flipped = flate;
  flipped[flipped.size() - 1] = static_cast<char>(flipped.back() ^ 1);  // the checksum
  return {
      {"cut short", flate.substr(0, flate.size() - 4), Filters({"FlateDecode"}), "",
       "Flate data cut short"},
      {"checksum", flipped, Filters({"FlateDecode"}), "", "Flate data damaged"},
      {"not zlib", "BT ET", Filters({"FlateDecode"}), "", "Flate data damaged"},
      {"hex digit", "4G", Filters({"ASCIIHexDecode"}), "", "ASCIIHex data damaged"},
      {"85 char", "87cU{", Filters({"ASCII85Decode"}), "", "ASCII85 data damaged"},
      {"85 lone char", "87cURD~>", Filters({"ASCII85Decode"}), "", "ASCII85 data damaged"},
      {"85 overflow", "uuuuu", Filters({"ASCII85Decode"}), "", "ASCII85 data damaged"},
      {"85 tilde", "87cUR~x", Filters({"ASCII85Decode"}), "", "ASCII85 data damaged"},
      {"PNG type", Zlib("\5\1\2\3"), {Predictor(12, 1, 8, 3)}, "", "predictor rows damaged"},
      {"PNG part row", Zlib("\0\1\2"s), {Predictor(12, 1, 8, 3)}, "", "predictor rows damaged"},
      {"TIFF part row", Zlib("\1\2"), {Predictor(2, 3, 8, 1)}, "", "predictor rows damaged"},
      {"TIFF 16 half sample",
       Zlib("\1\2\3"),
       {Predictor(2, 1, 16, 1)},
       "",
       "predictor rows damaged"},
      // The table holds 258 entries before the second code: 259 is beyond.
      {"LZW code beyond the table", PackCodes({256, 65, 259}), Filters({"LZWDecode"}), "",
       "LZW data damaged"},
      // The entry being added exists only after a first code.
      {"LZW next entry first", PackCodes({256, 258}), Filters({"LZWDecode"}), "",
       "LZW data damaged"},
      {"LZW part row",
       Lzw("\0\1\2"s),
       {Predictor(12, 1, 8, 3, "LZWDecode")},
       "",
       "predictor rows damaged"},
      {"RunLength copy cut short",
       "\x03"
       "ab",
       Filters({"RunLengthDecode"}), "", "RunLength data cut short"},
      {"RunLength repeat without its byte",
       "\x00"
       "a\xFE"s,
       Filters({"RunLengthDecode"}), "", "RunLength data cut short"},
      // Damage in a stage is found even after the next stage's data ended,
      // and the first damaged stage of the chain gives the reason.
      {"hex damaged after Flate's end", "78 9C 2B 04 00 00 72 00 72 G>",
       Filters({"ASCIIHexDecode", "FlateDecode"}), "", "ASCIIHex data damaged"},
      {"hex damaged, then Flate", "78 9C 2B G", Filters({"ASCIIHexDecode", "FlateDecode"}), "",
       "ASCIIHex data damaged"},
      {"Flate cut short, then PNG rows",
       Zlib(std::string(8, '\0')).substr(0, 8),
       {Predictor(12, 1, 8, 3)},
       "",
       "Flate data cut short"},
  };
}

}  // namespace quillane::test

#endif  // QUILLANE_TESTS_PDF_FILTERS_FILTER_CASES_H_
