// Bytes in pieces: the two ends of a stream decoder or encoder. A ByteSource
// delivers a stream's raw data piece by piece (from memory, or from the file
// through the caller's own source), a ByteSink takes what an encoder writes.
// Neither ever has to hold a whole stream, which is what keeps the memory of
// decoding and re-encoding content a constant rather than the stream's size.
#ifndef QUILLANE_PDF_FILTERS_BYTE_STREAM_H_
#define QUILLANE_PDF_FILTERS_BYTE_STREAM_H_

#include <cstddef>
#include <string_view>

#include "base/text.h"

namespace quillane {

// Where a decoder takes its raw bytes from, in order, in pieces of any size.
class ByteSource {
 public:
  ByteSource() = default;
  ByteSource(const ByteSource&) = delete;
  ByteSource& operator=(const ByteSource&) = delete;
  virtual ~ByteSource();

  // Copies the next up to `capacity` bytes into `buffer` and returns how many;
  // 0 means the data has ended (and every later call returns 0 too). A source
  // may return fewer bytes than asked for at any time without having ended.
  // An error of the source is the source's own exception.
  // REQUIRES: capacity > 0; buffer holds capacity bytes.
  virtual std::size_t Read(char* buffer, std::size_t capacity) = 0;
};

// The bytes of a view, read from its start.
class MemorySource final : public ByteSource {
 public:
  // REQUIRES: the viewed bytes outlive the source.
  explicit MemorySource(std::string_view data) : data_(data) {}

  std::size_t Read(char* buffer, std::size_t capacity) override;

  // The bytes not read yet.
  std::size_t Remaining() const { return data_.size() - at_; }

 private:
  std::string_view data_;
  std::size_t at_ = 0;
};

// Where an encoder puts its output, in order, in pieces.
class ByteSink {
 public:
  ByteSink() = default;
  ByteSink(const ByteSink&) = delete;
  ByteSink& operator=(const ByteSink&) = delete;
  virtual ~ByteSink();

  // Takes the next piece of output; the view is valid only during the call.
  // An error of the sink is the sink's own exception, which reaches the
  // encoder's caller.
  virtual void Write(std::string_view data) = 0;
};

// Appends everything written to a text.
class TextSink final : public ByteSink {
 public:
  // REQUIRES: `out` outlives the sink.
  explicit TextSink(Text& out) : out_(out) {}

  void Write(std::string_view data) override { out_.append(data); }

 private:
  Text& out_;
};

}  // namespace quillane

#endif  // QUILLANE_PDF_FILTERS_BYTE_STREAM_H_
