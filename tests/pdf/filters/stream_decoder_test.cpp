#include "pdf/filters/stream_decoder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>

#include "pdf/filters/filter_cases.h"
#include "pdf/filters/flate_encoder.h"

namespace quillane {
namespace {

using test::FilterCase;
using test::Filters;

// Hands out its bytes `piece` at a time at most, as a file read in small
// pieces would, and counts the calls made after it ended.
class TrickleSource final : public ByteSource {
 public:
  TrickleSource(std::string_view data, std::size_t piece) : data_(data), piece_(piece) {}
  std::size_t Read(char* buffer, std::size_t capacity) override {
    const std::size_t count = std::min({capacity, piece_, data_.size() - at_});
    std::copy_n(data_.data() + at_, count, buffer);
    at_ += count;
    return count;
  }

 private:
  std::string_view data_;
  std::size_t piece_;
  std::size_t at_ = 0;
};

struct Outcome {
  std::string data;
  std::string reason;
};

// The whole stream through `decoder`, read `piece` bytes at a time from a
// source that gives `sourcePiece` bytes at a time.
Outcome Stream(StreamDecoder& decoder, const FilterCase& c, std::size_t piece,
               std::size_t sourcePiece) {
  TrickleSource source(c.raw, sourcePiece);
  decoder.Reset(source, c.filters, c.raw.size());
  Outcome outcome;
  std::string buffer(piece, '\0');
  while (const std::size_t count = decoder.Read(buffer.data(), piece)) {
    outcome.data.append(buffer, 0, count);
  }
  EXPECT_TRUE(decoder.Ended());
  EXPECT_EQ(decoder.DecodedBytes(), outcome.data.size()) << c.what;
  EXPECT_LE(decoder.EncodedBytes(), c.raw.size()) << c.what;
  outcome.reason = decoder.Reason();
  return outcome;
}

// One decoder serves every case in turn, as it serves the streams of a
// document, so that a state left over from one stream would show in another.
TEST(StreamDecoder, GivesWhatTheWholeBufferDecoderGivesInAnyPieces) {
  std::vector<FilterCase> cases = test::DecodingCases();
  for (FilterCase& c : test::DamagedCases()) cases.push_back(std::move(c));
  StreamDecoder decoder;
  for (const FilterCase& c : cases) {
    const DecodedData whole = DecodeStreamData(c.raw, c.filters);
    for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{4096}}) {
      for (const std::size_t sourcePiece : {std::size_t{1}, c.raw.size() + 1}) {
        const Outcome streamed = Stream(decoder, c, piece, sourcePiece);
        const std::string where = std::string(c.what) + ", pieces of " + std::to_string(piece) +
                                  " from pieces of " + std::to_string(sourcePiece);
        EXPECT_EQ(streamed.reason, whole.Reason) << where;
        if (whole.Data) {
          EXPECT_EQ(streamed.data, *whole.Data) << where;
        }
      }
    }
  }
}

TEST(StreamDecoder, ReadsTheSourceNoFurtherThanItNeeds) {
  // Flate's data ends before the raw data does: what follows is not read
  // beyond the one piece that held the end.
  const std::string raw = test::Zlib("q Q") + std::string(100000, ' ');
  TrickleSource source(raw, 1000);
  StreamDecoder decoder(source, Filters({"FlateDecode"}), raw.size());
  char out[64];
  EXPECT_EQ(decoder.Read(out, sizeof out), 3u);
  EXPECT_EQ(decoder.Read(out, sizeof out), 0u);
  EXPECT_FALSE(decoder.Failed());
  EXPECT_EQ(decoder.EncodedBytes(), 1000u);
  // A decoder before any stream, and one whose chain names a filter it
  // does not know, give nothing.
  StreamDecoder idle;
  EXPECT_EQ(idle.Read(out, sizeof out), 0u);
  decoder.Reset(source, Filters({"JBIG2Decode"}), 10);
  EXPECT_EQ(decoder.Read(out, sizeof out), 0u);
  EXPECT_EQ(decoder.Reason(), "filter JBIG2Decode");
}

// zlib data that inflates to `blocks` MiB of zeros and never ends: one
// block of a MiB of zeros, compressed after a full flush so that it stands
// alone, repeated. Nothing checks the end, which the decoder must not reach.
std::string ZerosBomb(std::size_t blocks) {
  const std::string zeros(std::size_t{1} << 20, '\0');
  z_stream stream{};
  deflateInit(&stream, 9);
  std::string block(4096, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
  stream.avail_in = static_cast<uInt>(zeros.size());
  stream.next_out = reinterpret_cast<Bytef*>(block.data());
  stream.avail_out = static_cast<uInt>(block.size());
  deflate(&stream, Z_FULL_FLUSH);
  block.resize(block.size() - stream.avail_out);
  deflateEnd(&stream);
  std::string header = block.substr(0, 2);  // the zlib header
  block.erase(0, 2);
  std::string bomb = header;
  bomb.reserve(2 + blocks * block.size());
  for (std::size_t i = 0; i < blocks; ++i) bomb += block;
  return bomb;
}

// Reads everything from `decoder`; the most memory it held meanwhile.
std::size_t Drain(StreamDecoder& decoder) {
  std::string buffer(std::size_t{64} << 10, '\0');
  std::size_t peak = decoder.MemoryHeld();
  while (decoder.Read(buffer.data(), buffer.size()) > 0) {
    peak = std::max(peak, decoder.MemoryHeld());
  }
  return peak;
}

TEST(StreamDecoder, StopsADecompressionBombInBoundedMemory) {
  // 2 GiB of zeros from about 2 MB: stopped once past 1 GiB, the larger of
  // 1 GiB and 100 times the encoded length.
  const std::string bomb = ZerosBomb(2048);
  ASSERT_LT(bomb.size(), std::size_t{3} << 20);
  MemorySource source(bomb);
  StreamDecoder decoder(source, Filters({"FlateDecode"}), bomb.size());
  const std::size_t peak = Drain(decoder);
  EXPECT_TRUE(decoder.TooLarge());
  EXPECT_EQ(decoder.Reason(), "decoded data too large");
  EXPECT_GT(decoder.DecodedBytes(), kBombMinimumSize);
  EXPECT_LE(decoder.DecodedBytes(), kBombMinimumSize + (std::uint64_t{64} << 10));
  EXPECT_LT(decoder.EncodedBytes(), bomb.size());
  EXPECT_LT(peak, std::size_t{256} << 10) << "bytes held";

  // A limit given directly bounds every stage; below it the data decodes to
  // its end (missing here).
  const std::string small = ZerosBomb(8);
  MemorySource tight(small);
  decoder.Reset(tight, Filters({"FlateDecode"}), small.size(), std::uint64_t{1} << 20);
  Drain(decoder);
  EXPECT_EQ(decoder.Reason(), "decoded data too large");
  MemorySource roomy(small);
  decoder.Reset(roomy, Filters({"FlateDecode"}), small.size(), std::uint64_t{8} << 20);
  Drain(decoder);
  EXPECT_EQ(decoder.Reason(), "Flate data cut short");
  EXPECT_EQ(decoder.DecodedBytes(), std::uint64_t{8} << 20);
}

TEST(StreamDecoder, LimitIsTheLargerOfAGibibyteAndAHundredTimesTheLength) {
  EXPECT_EQ(DecodedSizeLimit(0), kBombMinimumSize);
  EXPECT_EQ(DecodedSizeLimit(10'000'000), kBombMinimumSize);
  EXPECT_EQ(DecodedSizeLimit(300'000'000), 30'000'000'000u);
  EXPECT_EQ(DecodedSizeLimit(~std::uint64_t{0} / 10), ~std::uint64_t{0});
}

TEST(StreamDecoder, HoldsMemorySizedToSmallStreams) {
  // A 100-byte content stream costs no buffers of the largest sizes: the
  // input buffer follows the stream's length, zlib holds its state and
  // 32 KiB window.
  const std::string content = test::ContentLike(400);
  const std::string raw = test::Zlib(content);
  StreamDecoder decoder;
  for (int round = 0; round < 3; ++round) {
    MemorySource source(raw);
    decoder.Reset(source, Filters({"FlateDecode"}), raw.size());
    Drain(decoder);
    EXPECT_FALSE(decoder.Failed());
    EXPECT_EQ(decoder.DecodedBytes(), content.size());
    EXPECT_LT(decoder.MemoryHeld(), std::size_t{48} << 10);
  }
  // Rows of 512 KiB are held while their stream decodes, not after it.
  const std::string wide = test::Zlib(std::string((std::size_t{512} << 10) + 1, '\0'));
  MemorySource wideSource(wide);
  decoder.Reset(wideSource, {test::Predictor(10, 1, 8, std::int64_t{512} << 10)}, wide.size());
  EXPECT_GT(Drain(decoder), std::size_t{512} << 10);
  EXPECT_FALSE(decoder.Failed());
  MemorySource source(raw);
  decoder.Reset(source, Filters({"FlateDecode"}), raw.size());
  Drain(decoder);
  EXPECT_LT(decoder.MemoryHeld(), std::size_t{256} << 10);
}

// FlateCompress's bytes must not change, or the outputs of the program
// would: the encoder gives them for data in any pieces, and so does zlib's
// own one-call compress2 at the default level.
TEST(FlateEncoder, GivesTheBytesOfFlateCompressInAnyPieces) {
  const std::string inputs[] = {
      "",
      "q Q",
      test::ContentLike(100000),
      test::ContentLike(std::size_t{5} << 20, 3),
      std::string(std::size_t{3} << 20, '\xD0'),
  };
  Text out;
  TextSink sink(out);
  FlateEncoder encoder(sink);
  for (const std::string& input : inputs) {
    const Text expected = FlateCompress(input);
    EXPECT_EQ(expected, test::ZlibCompress(input, Z_DEFAULT_COMPRESSION)) << input.size();
    for (const std::size_t piece :
         {std::size_t{1}, std::size_t{4096}, (std::size_t{1} << 20) + 1}) {
      if (piece == 1 && input.size() > 100000) continue;  // a byte at a time is slow enough
      out.clear();
      encoder.Reset(sink);
      for (std::size_t at = 0; at < input.size(); at += piece) {
        encoder.Write(std::string_view(input).substr(at, piece));
      }
      encoder.Finish();
      EXPECT_EQ(out, expected) << input.size() << " bytes in pieces of " << piece;
      EXPECT_EQ(encoder.BytesIn(), input.size());
      EXPECT_EQ(encoder.BytesOut(), out.size());
    }
  }
}

TEST(FlateEncoder, ResetDropsWhatTheLastStreamHadNotWritten) {
  Text first;
  Text second;
  TextSink firstSink(first);
  TextSink secondSink(second);
  FlateEncoder encoder(firstSink);
  encoder.Write("BT /F1 12 Tf (abandoned) Tj ET");
  encoder.Reset(secondSink);
  encoder.Write("q Q");
  encoder.Finish();
  EXPECT_EQ(second, FlateCompress("q Q"));
  EXPECT_TRUE(first.empty());
}

}  // namespace
}  // namespace quillane
