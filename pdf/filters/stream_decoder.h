// A stream's data decoded as a stream (ISO 32000-1, 7.4): the raw bytes come
// from a ByteSource in pieces, pass through the filter chain that
// ReadFilterChain gives, and leave in pieces of the caller's size. Every
// stage (each filter, each predictor) holds a bounded buffer, so a decoder
// needs about a hundred KiB for a content stream whatever its decoded size
// (at most about 10 MiB for the widest predictor rows in the longest chain
// ReadFilterChain accepts), and its time is linear in the bytes decoded.
//
// The filters are those of stream_filters.h: FlateDecode and LZWDecode (with
// their predictors), RunLengthDecode, ASCIIHexDecode and ASCII85Decode. The
// outcome is exactly that of DecodeStreamData over the same bytes: the same
// bytes when the data ends cleanly, the same reason when it does not.
//
// A decoder is meant to be reused: Reset starts the next stream on the same
// buffers and zlib state (inflateReset), so a small stream costs little more
// than zlib's own work on it, and no allocation.
#ifndef QUILLANE_PDF_FILTERS_STREAM_DECODER_H_
#define QUILLANE_PDF_FILTERS_STREAM_DECODER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "pdf/filters/byte_stream.h"
#include "pdf/filters/stream_filters.h"

namespace quillane {

// Decoded data beyond both of these, 1 GiB and 100 times the stream's
// encoded length, is taken for a decompression bomb.
inline constexpr std::uint64_t kBombMinimumSize = std::uint64_t{1} << 30;
inline constexpr std::uint64_t kBombRatio = 100;

// The most bytes a stream of `encodedLength` encoded bytes may decode to, at
// any stage of its chain: the larger of kBombMinimumSize and kBombRatio times
// `encodedLength` (saturated at the largest value).
std::uint64_t DecodedSizeLimit(std::uint64_t encodedLength);

// A decoder keeps up to this many stages of earlier streams, beyond those of
// the current one, for the next streams to reuse.
inline constexpr std::size_t kMaxSpareStages = 4;

class DecodeStage;  // one filter or predictor (decode_stage.h, private)

class StreamDecoder {
 public:
  // A decoder with no stream: Read returns 0 until Reset gives it one.
  StreamDecoder();
  // The same as StreamDecoder() followed by Reset(source, filters,
  // encodedLength).
  StreamDecoder(ByteSource& source, const std::vector<StreamFilter>& filters,
                std::uint64_t encodedLength);
  ~StreamDecoder();
  StreamDecoder(const StreamDecoder&) = delete;
  StreamDecoder& operator=(const StreamDecoder&) = delete;

  // Starts decoding `source`, a stream's raw data of `encodedLength` bytes
  // (0 when unknown; it sizes the first buffer), through `filters` (in the
  // order they apply, as ReadFilterChain gives them), forgetting any stream
  // before, also one abandoned half-way or after an exception. Every stage's
  // output is refused beyond DecodedSizeLimit(encodedLength) bytes, with the
  // reason "decoded data too large". The buffers and zlib state of the last
  // streams are reused; nothing is read from the source until Read.
  // Throws std::bad_alloc when zlib cannot get its memory.
  // REQUIRES: `source` outlives the decoding; every filter's name and
  // parameters are as ReadFilterChain gives them (another name makes the
  // decoder fail with the reason "filter <name>").
  void Reset(ByteSource& source, const std::vector<StreamFilter>& filters,
             std::uint64_t encodedLength);
  // Reset with the limit on every stage's output given directly.
  void Reset(ByteSource& source, const std::vector<StreamFilter>& filters,
             std::uint64_t encodedLength, std::uint64_t limit);

  // Decodes the next up to `capacity` bytes into `out` and returns how many,
  // at least 1 until the data ends; 0 once it has ended, cleanly or not
  // (Failed tells). Bytes handed out before a failure are what decoded so
  // far: a caller that needs the whole stream keeps them only when the data
  // ended cleanly. Reads the source as far as it needs to and no further than
  // one piece beyond the end of the last filter's data.
  // Throws what the source throws, and std::bad_alloc; after an exception
  // only Reset may follow.
  // REQUIRES: capacity > 0; out holds capacity bytes.
  std::size_t Read(char* out, std::size_t capacity);

  // True once Read has returned 0 for this stream.
  bool Ended() const { return ended_; }
  // True when the data did not decode completely: damaged, cut short, or
  // too large. Meaningful once Ended().
  bool Failed() const { return !reason_.empty(); }
  // True when the failure is "decoded data too large".
  bool TooLarge() const { return tooLarge_; }
  // Why the data did not decode, with the texts of DecodeStreamData:
  // "Flate data damaged", "Flate data cut short", "LZW data damaged",
  // "decoded data too large", ...; empty when it did. The view stays valid
  // until the next Reset. When several stages fail, the first of the chain
  // gives the reason, as decoding stage after stage would.
  std::string_view Reason() const { return reason_; }
  // The raw bytes taken from the source so far.
  std::uint64_t EncodedBytes() const;
  // The decoded bytes handed out so far.
  std::uint64_t DecodedBytes() const { return decoded_; }
  // The memory the decoder holds now, in bytes: its buffers, tables and
  // rows, and what zlib allocated for it, also for the stages it keeps for
  // reuse.
  std::size_t MemoryHeld() const;

 private:
  DecodeStage& Acquire(int kind);
  void Finish();

  std::unique_ptr<DecodeStage> source_;
  // The stages of the current stream, each reading from the one before (the
  // first from `source_`); `spare_` keeps those of earlier streams for reuse.
  std::vector<std::unique_ptr<DecodeStage>> stages_;
  std::vector<std::unique_ptr<DecodeStage>> spare_;
  // Where the stages before the last are read to their end once the last has
  // ended, so that damage there is still found.
  std::unique_ptr<char[]> drain_;
  std::uint64_t decoded_ = 0;
  bool ended_ = true;
  bool tooLarge_ = false;
  std::string_view reason_;
  Text unknownFilter_;  // the reason "filter <name>" for a name no stage decodes
};

}  // namespace quillane

#endif  // QUILLANE_PDF_FILTERS_STREAM_DECODER_H_
