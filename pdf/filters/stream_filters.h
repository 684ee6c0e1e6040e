// The data of a stream object through its filters (ISO 32000-1, 7.4), whole
// in memory: decoding for the filters a content stream is rewritten through,
// and Flate compression for the rewritten data. Supported: no filter,
// FlateDecode and LZWDecode (/EarlyChange 0 or 1) with /Predictor 1 (none),
// 2 (TIFF) and 10 to 15 (PNG) and their /Colors, /BitsPerComponent and
// /Columns, RunLengthDecode, ASCIIHexDecode and ASCII85Decode, in any order,
// at most kMaxFilters of them. Anything else gives no data and a reason for
// the log: a stream is never rewritten from data that was guessed.
//
// These are thin layers over the streaming interface (stream_decoder.h,
// flate_encoder.h), which gives the same results in bounded memory.
#ifndef QUILLANE_PDF_FILTERS_STREAM_FILTERS_H_
#define QUILLANE_PDF_FILTERS_STREAM_FILTERS_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "pdf/syntax/lexer.h"

namespace quillane {

// Decoded data is refused beyond this size (256 MiB), which stops a small
// stream that inflates to gigabytes.
inline constexpr std::size_t kMaxDecodedSize = std::size_t{256} << 20;

// A chain of more filters than this is refused ("too many filters"): every
// filter of a chain holds buffers of its own while the stream decodes, and
// no writer chains more than a few.
inline constexpr std::size_t kMaxFilters = 8;

// One filter of a chain with its parameters (ISO 32000-1, Tables 8 and 9);
// the parameters are read only for FlateDecode and LZWDecode.
struct StreamFilter {
  Text Name;
  std::int64_t Predictor = 1;
  std::int64_t Colors = 1;
  std::int64_t BitsPerComponent = 8;
  std::int64_t Columns = 1;
  // LZWDecode only: 1 (the default) when the code width grows one code early.
  std::int64_t EarlyChange = 1;
};

struct FilterChain {
  // Set when every filter and parameter is supported; the filters in the
  // order they are applied to decode.
  std::optional<std::vector<StreamFilter>> Filters;
  // Why not, when `filters` is empty: "filter DCTDecode", "parameters
  // by reference", "predictor parameters", "too many filters", ...
  Text Reason;
};

// The /Filter and /DecodeParms entries of `dictionary`, which must be given
// directly (not as references); /Filter absent, null or [] is no filter.
// REQUIRES: dictionary.kind == kDictionary.
FilterChain ReadFilterChain(const PdfObject& dictionary);

struct DecodedData {
  // The decoded bytes, or nothing when the data is damaged or too large.
  std::optional<Text> Data;
  Text Reason;
  // No data because it would exceed the limit: decoding went that far.
  bool TooLarge = false;
};

// Applies `filters` in order to `raw`. Flate data must reach its end (zlib's
// Z_STREAM_END with a correct checksum; bytes after it are ignored); LZW
// data ends at its end code or where it stops; RunLength data must not stop
// inside a run; PNG and TIFF predictors need whole rows; each stage's output
// is refused beyond `limit` bytes ("decoded data too large", and TooLarge).
// The reasons of damage: "Flate data damaged", "Flate data cut short", "LZW
// data damaged", "RunLength data cut short", "ASCIIHex data damaged",
// "ASCII85 data damaged", "predictor rows damaged"; when several stages are
// damaged, the first of the chain gives the reason.
// REQUIRES: every filter's name is one of the supported ones (as
// ReadFilterChain gives them).
DecodedData DecodeStreamData(std::string_view raw, const std::vector<StreamFilter>& filters,
                             std::size_t limit = kMaxDecodedSize);

// `data` compressed as a zlib stream at zlib's default level, the same bytes
// for the same input and zlib version.
Text FlateCompress(std::string_view data);

}  // namespace quillane

#endif  // QUILLANE_PDF_FILTERS_STREAM_FILTERS_H_
