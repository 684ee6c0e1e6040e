#include "pdf/filters/stream_decoder.h"

#include <algorithm>
#include <limits>

#include "pdf/filters/decode_stage.h"

namespace quillane {

namespace {

constexpr std::size_t kDrainPiece = std::size_t{16} << 10;

}  // namespace

std::uint64_t DecodedSizeLimit(std::uint64_t encodedLength) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  const std::uint64_t scaled =
      encodedLength > kMax / kBombRatio ? kMax : encodedLength * kBombRatio;
  return std::max(kBombMinimumSize, scaled);
}

StreamDecoder::StreamDecoder() : source_(std::make_unique<SourceStage>()) {}

StreamDecoder::StreamDecoder(ByteSource& source, const std::vector<StreamFilter>& filters,
                             std::uint64_t encodedLength)
    : StreamDecoder() {
  Reset(source, filters, encodedLength);
}

StreamDecoder::~StreamDecoder() = default;

void StreamDecoder::Reset(ByteSource& source, const std::vector<StreamFilter>& filters,
                          std::uint64_t encodedLength) {
  Reset(source, filters, encodedLength, DecodedSizeLimit(encodedLength));
}

void StreamDecoder::Reset(ByteSource& source, const std::vector<StreamFilter>& filters,
                          std::uint64_t encodedLength, std::uint64_t limit) {
  for (std::unique_ptr<DecodeStage>& stage : stages_) {
    stage->Release();
    spare_.push_back(std::move(stage));
  }
  stages_.clear();
  decoded_ = 0;
  ended_ = false;
  tooLarge_ = false;
  reason_ = {};
  static_cast<SourceStage&>(*source_).SetSource(&source);
  source_->Start(nullptr, limit, 0, {});
  DecodeStage* upstream = source_.get();
  std::uint64_t hint = encodedLength > 0 ? encodedLength : kFirstStagePiece;
  for (const StreamFilter& filter : filters) {
    const int kind = DecodeStageKindOf(filter.Name);
    if (kind < 0) {
      unknownFilter_ = "filter " + filter.Name;
      reason_ = unknownFilter_;
      ended_ = true;
      return;
    }
    DecodeStage& stage = Acquire(kind);
    stage.Start(upstream, limit, hint, filter);
    upstream = &stage;
    hint = kFirstStagePiece;
    // The predictors undo what was done to the data before it was
    // compressed, so they follow their filter (ISO 32000-1, 7.4.4.4).
    if ((kind == DecodeStage::kFlate || kind == DecodeStage::kLzw) && filter.Predictor != 1) {
      DecodeStage& predictor =
          Acquire(filter.Predictor == 2 ? DecodeStage::kTiff : DecodeStage::kPng);
      predictor.Start(upstream, limit, hint, filter);
      upstream = &predictor;
    }
  }
  // The stages least recently kept go first.
  if (spare_.size() > kMaxSpareStages) {
    spare_.erase(spare_.begin(), spare_.end() - static_cast<std::ptrdiff_t>(kMaxSpareStages));
  }
}

DecodeStage& StreamDecoder::Acquire(int kind) {
  const auto spare = std::find_if(spare_.rbegin(), spare_.rend(),
                                  [kind](const auto& stage) { return stage->GetKind() == kind; });
  if (spare != spare_.rend()) {
    stages_.push_back(std::move(*spare));
    spare_.erase(std::next(spare).base());
  } else {
    stages_.push_back(MakeDecodeStage(kind));
  }
  return *stages_.back();
}

std::size_t StreamDecoder::Read(char* out, std::size_t capacity) {
  if (ended_) return 0;
  DecodeStage& last = stages_.empty() ? *source_ : *stages_.back();
  const std::size_t count = last.Read(out, capacity);
  decoded_ += count;
  if (count == 0) Finish();
  return count;
}

void StreamDecoder::Finish() {
  ended_ = true;
  // A filter that ended (or failed) leaves data of the stages before it
  // unread. Decoding stage after stage would have found damage there, so
  // they are read to their end as well, each bounded by its limit; the raw
  // bytes after the data are not.
  if (stages_.size() > 1) {
    if (!drain_) drain_ = std::make_unique_for_overwrite<char[]>(kDrainPiece);
    for (std::size_t i = stages_.size() - 1; i-- > 0;) {
      while (stages_[i]->Read(drain_.get(), kDrainPiece) > 0) {
      }
    }
  }
  const DecodeStage* failed = source_->Failed() ? source_.get() : nullptr;
  for (std::size_t i = 0; failed == nullptr && i < stages_.size(); ++i) {
    if (stages_[i]->Failed()) failed = stages_[i].get();
  }
  if (failed != nullptr) {
    reason_ = failed->Reason();
    tooLarge_ = reason_ == kDecodedTooLarge;
  }
}

std::uint64_t StreamDecoder::EncodedBytes() const { return source_->Produced(); }

std::size_t StreamDecoder::MemoryHeld() const {
  std::size_t held = source_->MemoryHeld() + (drain_ ? kDrainPiece : 0);
  for (const auto& stage : stages_) held += stage->MemoryHeld();
  for (const auto& stage : spare_) held += stage->MemoryHeld();
  return held;
}

}  // namespace quillane
