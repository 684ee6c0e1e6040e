// The stages a StreamDecoder chains: the interface each filter and predictor
// implements, and the stage that reads the raw data. Private to pdf/filters
// (stream_decoder.cpp and decode_stages.cpp); other layers use
// stream_decoder.h.
#ifndef QUILLANE_PDF_FILTERS_DECODE_STAGE_H_
#define QUILLANE_PDF_FILTERS_DECODE_STAGE_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "base/text.h"
#include "pdf/filters/byte_stream.h"
#include "pdf/filters/stream_filters.h"

namespace quillane {

inline constexpr std::string_view kDecodedTooLarge = "decoded data too large";

// The largest input buffer of a stage, and the first one of a stage that is
// not fed from the source. A stage's buffer starts at the size its input
// promises and grows by four while the stage before fills it whole.
inline constexpr std::size_t kMaxStagePiece = std::size_t{64} << 10;
inline constexpr std::size_t kFirstStagePiece = std::size_t{4} << 10;
inline constexpr std::size_t kMinStagePiece = 64;

// One stage of a decoder: it reads what the stage before it hands out (the
// source stage reads the ByteSource), through a buffer of its own, and hands
// out its own output through Read. A stage ends cleanly or fails once; after
// that Read returns 0.
class DecodeStage {
 public:
  enum Kind : int { kSource, kFlate, kLzw, kRunLength, kAsciiHex, kAscii85, kPng, kTiff };

  explicit DecodeStage(Kind kind) : kind_(kind) {}
  virtual ~DecodeStage() = default;
  DecodeStage(const DecodeStage&) = delete;
  DecodeStage& operator=(const DecodeStage&) = delete;

  Kind GetKind() const { return kind_; }

  // Begins a new stream read from `upstream` (null for the source stage),
  // with `inputHint` bytes expected from it.
  void Start(DecodeStage* upstream, std::uint64_t limit, std::uint64_t inputHint,
             const StreamFilter& filter) {
    upstream_ = upstream;
    limit_ = limit;
    produced_ = 0;
    running_ = true;
    reason_ = {};
    next_ = end_ = nullptr;
    const std::uint64_t hint = std::clamp<std::uint64_t>(inputHint, kMinStagePiece, kMaxStagePiece);
    wanted_ = std::max(allocated_, static_cast<std::size_t>(hint));
    Restart(filter);
  }

  // Up to `capacity` bytes of output; 0 once the stage has ended or failed.
  std::size_t Read(char* out, std::size_t capacity) {
    if (!running_) return 0;
    const std::size_t count = Produce(out, capacity);
    produced_ += count;
    if (produced_ > limit_) {
      Fail(kDecodedTooLarge);
    } else if (count == 0) {
      running_ = false;
    }
    return count;
  }

  bool Failed() const { return !reason_.empty(); }
  std::string_view Reason() const { return reason_; }
  std::uint64_t Produced() const { return produced_; }
  // The bytes this stage holds: its input buffer and what Held() adds.
  std::size_t MemoryHeld() const { return allocated_ + Held(); }
  // Gives back memory beyond what a stream of ordinary size needs, as the
  // stage is kept for later streams.
  virtual void Release() {}

 protected:
  // Forgets the last stream and takes `filter`'s parameters.
  virtual void Restart(const StreamFilter& filter) = 0;
  // Writes 1 to `capacity` bytes of output, or fewer (0 too) after calling
  // End or Fail; 0 only then.
  virtual std::size_t Produce(char* out, std::size_t capacity) = 0;
  virtual std::size_t Held() const { return 0; }

  // Makes input available in [next_, end_) from the stage before; false
  // when it has none left (ended or failed: the decoder tells which).
  bool Fill() {
    if (next_ < end_) return true;
    if (wanted_ > allocated_) {
      buffer_ = std::make_unique_for_overwrite<char[]>(wanted_);
      allocated_ = wanted_;
    }
    const std::size_t count = upstream_->Read(buffer_.get(), allocated_);
    if (count == allocated_ && allocated_ < kMaxStagePiece) {
      wanted_ = std::min(kMaxStagePiece, allocated_ * 4);
    }
    next_ = buffer_.get();
    end_ = next_ + count;
    return count > 0;
  }
  void End() { running_ = false; }
  void Fail(std::string_view reason) {
    running_ = false;
    reason_ = reason;
  }

  const char* next_ = nullptr;
  const char* end_ = nullptr;

 private:
  const Kind kind_;
  DecodeStage* upstream_ = nullptr;
  std::uint64_t limit_ = 0;
  std::uint64_t produced_ = 0;
  bool running_ = false;
  std::string_view reason_;
  std::unique_ptr<char[]> buffer_;
  std::size_t allocated_ = 0;
  std::size_t wanted_ = 0;
};

// The raw data, straight from the ByteSource into the reader's buffer.
class SourceStage final : public DecodeStage {
 public:
  SourceStage() : DecodeStage(kSource) {}
  void SetSource(ByteSource* source) { source_ = source; }

 protected:
  void Restart(const StreamFilter& /*filter*/) override {}
  std::size_t Produce(char* out, std::size_t capacity) override {
    const std::size_t count = source_->Read(out, capacity);
    if (count == 0) End();
    return count;
  }

 private:
  ByteSource* source_ = nullptr;
};

// A new stage of `kind`, one of the filter and predictor kinds.
std::unique_ptr<DecodeStage> MakeDecodeStage(int kind);

// The stage kind of a filter's name; -1 for a name no stage decodes.
int DecodeStageKindOf(const Text& name);

}  // namespace quillane

#endif  // QUILLANE_PDF_FILTERS_DECODE_STAGE_H_
