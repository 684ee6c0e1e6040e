// The data of a stream object through its filters (ISO 32000-1, 7.4):
// decoding for the filters a content stream is rewritten through, and Flate
// compression for the rewritten data. Supported: no filter, FlateDecode with
// /Predictor 1 (none), 2 (TIFF) and 10 to 15 (PNG) and their /Colors,
// /BitsPerComponent and /Columns, ASCIIHexDecode and ASCII85Decode, in any
// order. Anything else gives no data and a reason for the log: a stream is
// never rewritten from data that was guessed.
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

// One filter of a chain with its parameters (ISO 32000-1, Table 8); the
// parameters are read only for FlateDecode.
struct StreamFilter {
  Text Name;
  std::int64_t Predictor = 1;
  std::int64_t Colors = 1;
  std::int64_t BitsPerComponent = 8;
  std::int64_t Columns = 1;
};

struct FilterChain {
  // Set when every filter and parameter is supported; the filters in the
  // order they are applied to decode.
  std::optional<std::vector<StreamFilter>> Filters;
  // Why not, when `filters` is empty: "filter LZWDecode", "parameters
  // by reference", ...
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
// Z_STREAM_END with a correct checksum; bytes after it are ignored); PNG and
// TIFF predictors need whole rows; each stage's output is refused beyond
// `limit` bytes.
// REQUIRES: every filter's name is one of the supported ones (as
// ReadFilterChain gives them).
DecodedData DecodeStreamData(std::string_view raw, const std::vector<StreamFilter>& filters,
                             std::size_t limit = kMaxDecodedSize);

// `data` compressed as a zlib stream at zlib's default level, the same bytes
// for the same input and zlib version.
Text FlateCompress(std::string_view data);

}  // namespace quillane

#endif  // QUILLANE_PDF_FILTERS_STREAM_FILTERS_H_
