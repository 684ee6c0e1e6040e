// Flate compression as a stream (ISO 32000-1, 7.4.4): data written in pieces
// leaves as one zlib stream (RFC 1950) in pieces, through a bounded buffer, to
// a ByteSink. The bytes are those FlateCompress gives for the same data, in
// whatever pieces it was written: zlib's default level and settings, and no
// flush before the end, so the pieces cannot show in the output.
#ifndef QUILLANE_PDF_FILTERS_FLATE_ENCODER_H_
#define QUILLANE_PDF_FILTERS_FLATE_ENCODER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "pdf/filters/byte_stream.h"

struct z_stream_s;  // zlib's stream state (zlib.h)

namespace quillane {

class FlateEncoder {
 public:
  // An encoder whose zlib stream goes to `sink`.
  // Throws std::bad_alloc when zlib cannot get its memory.
  // REQUIRES: `sink` outlives the encoder or the next Reset.
  explicit FlateEncoder(ByteSink& sink);
  ~FlateEncoder();
  FlateEncoder(const FlateEncoder&) = delete;
  FlateEncoder& operator=(const FlateEncoder&) = delete;

  // Starts a new zlib stream to `sink` on the same zlib state (deflateReset),
  // dropping whatever the last one had not written yet.
  // REQUIRES: `sink` outlives the encoder or the next Reset.
  void Reset(ByteSink& sink);

  // Compresses `data` after what was written before. Compressed bytes reach
  // the sink whenever the buffer (at most 64 KiB) is full; the sink's
  // exceptions pass through, after which only Reset may follow.
  // REQUIRES: Finish has not been called since the last Reset.
  void Write(std::string_view data);

  // Ends the zlib stream (its last block and checksum) and hands everything
  // still buffered to the sink. After it, only Reset may follow.
  void Finish();

  // The bytes written into the encoder, and those handed to the sink, since
  // the last Reset.
  std::uint64_t BytesIn() const { return bytesIn_; }
  std::uint64_t BytesOut() const { return bytesOut_; }

 private:
  void Deflate(int flush);
  void Flush();

  std::unique_ptr<z_stream_s> stream_;
  ByteSink* sink_;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0;
  std::uint64_t bytesIn_ = 0;
  std::uint64_t bytesOut_ = 0;
};

}  // namespace quillane

#endif  // QUILLANE_PDF_FILTERS_FLATE_ENCODER_H_
