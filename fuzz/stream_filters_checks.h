// The properties the stream-filters fuzz target checks on every input, shared
// with the test that replays its saved findings
// (tests/pdf/filters/stream_filters_fuzz_test.cpp). The input's first bytes
// choose a filter chain, its parameters and the piece sizes of the reading;
// the rest is the raw data. The chain is written as a stream dictionary and
// read by ReadFilterChain, so refused parameters are exercised too. The
// check returns an empty text when every property holds, otherwise a
// description of the first one that does not. Header-only, like
// fuzz_checks.h.
#ifndef QUILLANE_FUZZ_STREAM_FILTERS_CHECKS_H_
#define QUILLANE_FUZZ_STREAM_FILTERS_CHECKS_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "pdf/filters/flate_encoder.h"
#include "pdf/filters/stream_decoder.h"
#include "pdf/filters/stream_filters.h"
#include "pdf/syntax/lexer.h"

namespace quillane::fuzz {

namespace detail {

// Each stage's output is bounded far below the program's limits, so that
// every input runs in milliseconds.
inline constexpr std::size_t kFuzzLimit = std::size_t{64} << 10;

// What the input's first bytes choose.
struct FilterInput {
  std::string dictionary;
  std::size_t piece = 1;  // bytes asked for per Read
  int sourceMode = 0;     // 0: all at once, 1: a byte at a time, 2: 1 to 17 bytes
  std::string_view data;
};

// Byte 0: the number of filters (0 to 3); byte 1: the read sizes; then two
// bytes per filter: its name, predictor and /EarlyChange, then its
// /Colors, /BitsPerComponent and /Columns. Values outside what
// ReadFilterChain accepts (Predictor 3, EarlyChange 2) occur on purpose.
inline FilterInput ReadFilterInput(std::string_view input) {
  static constexpr const char* kNames[] = {"FlateDecode", "LZWDecode", "RunLengthDecode",
                                           "ASCIIHexDecode", "ASCII85Decode"};
  static constexpr int kPredictors[] = {1, 1, 2, 10, 12, 14, 15, 3};
  static constexpr int kBits[] = {1, 2, 4, 8, 16};
  static constexpr std::size_t kPieces[] = {1, 2, 3, 7, 64, 4096, 65536};
  FilterInput result;
  std::size_t at = 0;
  const auto next = [&input, &at]() -> unsigned {
    return at < input.size() ? static_cast<std::uint8_t>(input[at++]) : 0u;
  };
  const unsigned count = next() % 4;
  const unsigned reading = next();
  result.piece = kPieces[reading % 7];
  result.sourceMode = static_cast<int>((reading / 7) % 3);
  std::string names;
  std::string parameters;
  for (unsigned i = 0; i < count; ++i) {
    const unsigned kind = next();
    const unsigned shape = next();
    names += std::string("/") + kNames[kind % 5];
    parameters += "<</Predictor " + std::to_string(kPredictors[(kind / 5) % 8]) + "/EarlyChange " +
                  std::to_string((kind / 40) % 3) + "/Colors " + std::to_string(1 + shape % 4) +
                  "/BitsPerComponent " + std::to_string(kBits[(shape / 4) % 5]) + "/Columns " +
                  std::to_string(1 + (shape / 20) % 13) + ">>";
  }
  result.dictionary = "<</Filter[" + names + "]/DecodeParms[" + parameters + "]>>";
  result.data = input.substr(std::min(at, input.size()));
  return result;
}

// Gives the data in the pieces the input chose.
class PieceSource final : public ByteSource {
 public:
  PieceSource(std::string_view data, int mode) : data_(data), mode_(mode) {}
  std::size_t Read(char* buffer, std::size_t capacity) override {
    std::size_t count = data_.size() - at_;
    if (mode_ == 1) count = std::min<std::size_t>(count, 1);
    if (mode_ == 2) count = std::min<std::size_t>(count, 1 + (calls_++ * 7) % 17);
    count = std::min(count, capacity);
    std::copy_n(data_.data() + at_, count, buffer);
    at_ += count;
    return count;
  }

 private:
  std::string_view data_;
  int mode_;
  std::size_t at_ = 0;
  std::size_t calls_ = 0;
};

}  // namespace detail

// Decodes the input's data through the input's chain twice: whole
// (DecodeStreamData) and as a stream in the input's pieces, on a decoder
// reused from input to input. Both must agree: the same bytes when the data
// decodes, the same reason when it does not. The stream decoder's counts
// must match what it handed out and took, and its memory stay bounded by
// its stages' buffers whatever the data. Flate compression of the result in
// the same pieces must give FlateCompress's bytes.
inline std::string CheckStreamFilters(std::string_view input) {
  using namespace detail;
  try {
    const FilterInput chosen = ReadFilterInput(input);
    Lexer lexer(chosen.dictionary);
    const std::optional<PdfObject> dictionary = ReadObject(lexer, true);
    if (!dictionary) return "the chain's dictionary does not read: " + chosen.dictionary;
    const FilterChain chain = ReadFilterChain(*dictionary);
    if (!chain.Filters) return chain.Reason.empty() ? "a chain refused without a reason" : "";

    const DecodedData whole = DecodeStreamData(chosen.data, *chain.Filters, kFuzzLimit);
    static StreamDecoder decoder;
    PieceSource source(chosen.data, chosen.sourceMode);
    decoder.Reset(source, *chain.Filters, chosen.data.size(), kFuzzLimit);
    // Every stage holds at most a 64 KiB buffer and zlib's state or the LZW
    // table (about 48 KiB), the rows of the parameters chosen here are tiny,
    // and the decoder keeps a few stages of earlier inputs for reuse.
    const std::size_t stages = chain.Filters->size() * 2 + 1 + kMaxSpareStages;
    const std::size_t memoryBound = stages * (std::size_t{128} << 10);
    std::string streamed;
    std::string buffer(chosen.piece, '\0');
    while (const std::size_t count = decoder.Read(buffer.data(), buffer.size())) {
      streamed.append(buffer, 0, count);
      if (decoder.MemoryHeld() > memoryBound) {
        return "the decoder holds " + std::to_string(decoder.MemoryHeld()) + " bytes";
      }
      if (streamed.size() > kFuzzLimit + chosen.piece) return "decoding went on past the limit";
    }
    if (!decoder.Ended()) return "Read gave 0 before the end";
    if (decoder.DecodedBytes() != streamed.size()) return "DecodedBytes differs from the output";
    if (decoder.EncodedBytes() > chosen.data.size()) return "more bytes taken than the source had";
    if (std::string(decoder.Reason()) != whole.Reason) {
      return "reasons differ: streamed \"" + std::string(decoder.Reason()) + "\", whole \"" +
             whole.Reason + "\"";
    }
    if (decoder.TooLarge() != whole.TooLarge) return "TooLarge differs";
    if (whole.Data.has_value() == decoder.Failed()) return "one decoded, the other did not";
    if (whole.Data && *whole.Data != streamed) return "the streamed bytes differ from the whole";

    const std::string plainSource = whole.Data ? streamed : std::string(chosen.data);
    const std::string_view plain = std::string_view(plainSource).substr(0, std::size_t{8} << 10);
    Text compressed;
    TextSink sink(compressed);
    FlateEncoder encoder(sink);
    for (std::size_t at = 0; at < plain.size(); at += chosen.piece) {
      encoder.Write(plain.substr(at, chosen.piece));
    }
    encoder.Finish();
    if (compressed != FlateCompress(plain)) return "FlateEncoder's bytes depend on the pieces";
  } catch (const std::exception& error) {
    return std::string("unexpected exception: ") + error.what();
  }
  return {};
}

}  // namespace quillane::fuzz

#endif  // QUILLANE_FUZZ_STREAM_FILTERS_CHECKS_H_
