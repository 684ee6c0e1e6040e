#include "pdf/filters/flate_encoder.h"

#include <zlib.h>

#include <algorithm>
#include <new>

namespace quillane {

namespace {

// zlib counts its buffers in 32 bits; data is handed over in pieces.
constexpr std::size_t kZlibPiece = std::size_t{1} << 20;
// The output buffer starts small, so that compressing a small stream does not
// cost a large buffer, and grows by four up to its largest size.
constexpr std::size_t kFirstBuffer = std::size_t{1} << 10;
constexpr std::size_t kMaxBuffer = std::size_t{64} << 10;

}  // namespace

FlateEncoder::FlateEncoder(ByteSink& sink) : stream_(std::make_unique<z_stream>()), sink_(&sink) {
  if (deflateInit(stream_.get(), Z_DEFAULT_COMPRESSION) != Z_OK) throw std::bad_alloc();
}

FlateEncoder::~FlateEncoder() { deflateEnd(stream_.get()); }

void FlateEncoder::Reset(ByteSink& sink) {
  if (deflateReset(stream_.get()) != Z_OK) throw std::bad_alloc();
  sink_ = &sink;
  if (buffer_) {
    stream_->next_out = reinterpret_cast<Bytef*>(buffer_.get());
    stream_->avail_out = static_cast<uInt>(capacity_);
  }
  bytesIn_ = 0;
  bytesOut_ = 0;
}

void FlateEncoder::Write(std::string_view data) {
  while (!data.empty()) {
    const std::size_t count = std::min(kZlibPiece, data.size());
    // zlib does not write through next_in; its type lacks the const only.
    stream_->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream_->avail_in = static_cast<uInt>(count);
    Deflate(Z_NO_FLUSH);
    bytesIn_ += count;
    data.remove_prefix(count);
  }
}

void FlateEncoder::Finish() {
  stream_->next_in = nullptr;
  stream_->avail_in = 0;
  Deflate(Z_FINISH);
  Flush();
}

// Runs deflate until it has taken all input (Z_NO_FLUSH) or written the end
// of the stream (Z_FINISH), emptying the buffer into the sink as it fills.
void FlateEncoder::Deflate(int flush) {
  if (!buffer_) {
    capacity_ = kFirstBuffer;
    buffer_ = std::make_unique_for_overwrite<char[]>(capacity_);
    stream_->next_out = reinterpret_cast<Bytef*>(buffer_.get());
    stream_->avail_out = static_cast<uInt>(capacity_);
  }
  while (true) {
    if (stream_->avail_out == 0) Flush();
    const int status = deflate(stream_.get(), flush);
    if (status == Z_STREAM_END) return;
    // With its memory in place deflate cannot fail; Z_BUF_ERROR only says
    // it had nothing to do.
    if (status != Z_OK && status != Z_BUF_ERROR) throw std::bad_alloc();
    if (flush == Z_NO_FLUSH && stream_->avail_in == 0 && stream_->avail_out > 0) return;
  }
}

// Hands the buffered output to the sink; a full buffer grows for the next.
void FlateEncoder::Flush() {
  const std::size_t used = capacity_ - stream_->avail_out;
  if (used > 0) {
    sink_->Write(std::string_view(buffer_.get(), used));
    bytesOut_ += used;
  }
  if (used == capacity_ && capacity_ < kMaxBuffer) {
    capacity_ = std::min(kMaxBuffer, capacity_ * 4);
    buffer_ = std::make_unique_for_overwrite<char[]>(capacity_);
  }
  stream_->next_out = reinterpret_cast<Bytef*>(buffer_.get());
  stream_->avail_out = static_cast<uInt>(capacity_);
}

}  // namespace quillane
