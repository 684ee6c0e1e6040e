#include "fileaccess/fileaccess.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <iterator>
#include <mutex>
#include <optional>
#include <thread>

#include "base/error.h"
#include "platform/platform.h"

namespace quillane {

namespace {

// Reads by position (the scanners' look-backs and look-aheads, the dictionaries
// the inline-image walk visits between the streams it passes over) are served
// from a block of this size, aligned to it: one page, so that a visit costs a
// page rather than a 64 KiB read.
constexpr Position kBlockBytes = Position{1} << 12;

// The background copy reports its progress, and asks whether to stop,
// between pieces of this size.
constexpr Position kCopyPiece = Position{1} << 22;

[[noreturn]] void ThrowIndexOutOfBounds() { throw Error("IndexOutOfBounds"); }

std::size_t ToSize(Position value) { return static_cast<std::size_t>(value); }

}  // namespace

// Copies the loaded bytes into an output on a thread of its own, piece by
// piece, until done or told to stop. The output exists from construction,
// and is removed again unless Save commits it.
class WindowedFileAccess::BackgroundCopy {
 public:
  BackgroundCopy(const platform::InputFile& input, Position size, const Text& path)
      : path_(path), output_(path), thread_([this, &input, size] { Copy(input, size); }) {}
  ~BackgroundCopy() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  BackgroundCopy(const BackgroundCopy&) = delete;
  BackgroundCopy& operator=(const BackgroundCopy&) = delete;

  const Text& Path() const { return path_; }

  // Writes each of `patches` over the copy as soon as the copy has passed
  // it, while the copy goes on, so that the patches cost little more than
  // the copy alone; returns once the copy has ended and every patch is
  // written. Rethrows what the copy failed with.
  platform::OutputFile& Finish(const std::map<Position, Text>& patches) {
    auto patch = patches.begin();
    const auto patchEnd = [&] {
      return patch->first + static_cast<Position>(patch->second.size());
    };
    for (bool ended = false; !ended;) {
      Position copied = 0;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        progressed_.wait(
            lock, [&] { return ended_ || (patch != patches.end() && copied_ >= patchEnd()); });
        copied = copied_;
        ended = ended_;
      }
      for (; patch != patches.end() && patchEnd() <= copied; ++patch) WritePatch(*patch);
    }
    thread_.join();
    if (failure_) std::rethrow_exception(failure_);
    for (; patch != patches.end(); ++patch) WritePatch(*patch);
    return output_;
  }

 private:
  void Copy(const platform::InputFile& input, Position size) {
    try {
      for (Position done = 0; done < size && !stop_;) {
        const Position piece = std::min(kCopyPiece, size - done);
        input.CopyTo(output_, done, piece);
        done += piece;
        const std::lock_guard<std::mutex> lock(mutex_);
        copied_ = done;
        progressed_.notify_one();
      }
    } catch (...) {
      failure_ = std::current_exception();
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
    progressed_.notify_one();
  }

  void WritePatch(const std::pair<const Position, Text>& patch) {
    output_.WriteAt(patch.first, patch.second.data(), static_cast<Position>(patch.second.size()));
  }

  const Text path_;
  platform::OutputFile output_;
  std::atomic<bool> stop_{false};
  std::exception_ptr failure_;
  // The copy's progress: bytes [0, copied_) are in the output.
  std::mutex mutex_;
  std::condition_variable progressed_;
  Position copied_ = 0;
  bool ended_ = false;
  // Last: the thread starts once everything it uses exists.
  std::thread thread_;
};

namespace {

// A spill in memory while small, in a temporary file once it grows.
class WindowedSpill final : public Spill {
 public:
  void Write(std::string_view bytes) override {
    if (file_ == nullptr && static_cast<Position>(memory_.size() + bytes.size()) <=
                                WindowedFileAccess::kSpillMemoryBytes) {
      memory_.append(bytes);
      return;
    }
    if (file_ == nullptr) {
      file_ = std::make_unique<platform::TemporaryFile>();
      file_->Write(memory_.data(), static_cast<Position>(memory_.size()));
      Text().swap(memory_);
    }
    file_->Write(bytes.data(), static_cast<Position>(bytes.size()));
  }
  Position Size() const override {
    return file_ != nullptr ? file_->Size() : static_cast<Position>(memory_.size());
  }

  // Bytes [offset, offset + count) into `buffer`.
  void Read(Position offset, char* buffer, Position count) const {
    if (file_ != nullptr) {
      file_->ReadAt(offset, buffer, count);
    } else {
      std::copy_n(memory_.data() + offset, count, buffer);
    }
  }

 private:
  Text memory_;
  std::unique_ptr<platform::TemporaryFile> file_;
};

}  // namespace

// The appended bytes as a sequence of pieces: texts (joined while they
// follow each other) and spills, each starting where the one before ends.
class WindowedFileAccess::AppendedBytes {
 public:
  Position Size() const { return size_; }

  void Append(const Text& text) {
    if (pieces_.empty() || pieces_.back().Spilled != nullptr) pieces_.push_back({size_, {}, {}});
    pieces_.back().Bytes += text;
    size_ += static_cast<Position>(text.size());
  }

  void Append(std::shared_ptr<WindowedSpill> spill) {
    const Position length = spill->Size();
    pieces_.push_back({size_, {}, std::move(spill)});
    size_ += length;
  }

  // Bytes [start, end) of the appended ones, appended to `out`.
  // REQUIRES: 0 <= start <= end <= Size().
  void Read(Position start, Position end, Text& out) const {
    for (auto piece = Holding(start); start < end; ++piece) {
      const Position length = piece->Length();
      const Position stop = std::min(end, piece->Start + length);
      const Position from = start - piece->Start;
      if (piece->Spilled == nullptr) {
        out.append(piece->Bytes, ToSize(from), ToSize(stop - start));
      } else {
        const std::size_t at = out.size();
        out.resize(at + ToSize(stop - start));
        piece->Spilled->Read(from, out.data() + at, stop - start);
      }
      start = stop;
    }
  }

  // REQUIRES: 0 <= index < Size(), and the byte lies in an appended text.
  void Overwrite(Position index, char c) {
    auto piece = Holding(index);
    piece->Bytes[ToSize(index - piece->Start)] = c;
  }

  void WriteTo(platform::OutputFile& output) const {
    Text buffer;
    for (const Piece& piece : pieces_) {
      if (piece.Spilled == nullptr) {
        output.Write(piece.Bytes.data(), static_cast<Position>(piece.Bytes.size()));
        continue;
      }
      // Through a bounded buffer, whatever the spill's size.
      constexpr Position kChunk = Position{1} << 20;
      buffer.resize(ToSize(std::min(kChunk, piece.Length())));
      for (Position done = 0; done < piece.Length();) {
        const Position count = std::min(kChunk, piece.Length() - done);
        piece.Spilled->Read(done, buffer.data(), count);
        output.Write(buffer.data(), count);
        done += count;
      }
    }
  }

 private:
  struct Piece {
    Position Start;
    Text Bytes;
    std::shared_ptr<WindowedSpill> Spilled;
    Position Length() const {
      return Spilled != nullptr ? Spilled->Size() : static_cast<Position>(Bytes.size());
    }
  };

  // The piece that holds appended byte `index`.
  template <typename Pieces>
  static auto Holding(Pieces& pieces, Position index) {
    return std::prev(
        std::upper_bound(pieces.begin(), pieces.end(), index,
                         [](Position at, const Piece& piece) { return at < piece.Start; }));
  }
  std::vector<Piece>::iterator Holding(Position index) { return Holding(pieces_, index); }
  std::vector<Piece>::const_iterator Holding(Position index) const {
    return Holding(pieces_, index);
  }

  std::vector<Piece> pieces_;
  Position size_ = 0;
};

WindowedFileAccess::WindowedFileAccess(std::size_t windowBytes)
    : appended_(std::make_unique<AppendedBytes>()) {
  window_.Capacity = std::max(windowBytes, ToSize(kMinimumLoadedView));
  block_.Capacity = ToSize(kBlockBytes);
}

WindowedFileAccess::~WindowedFileAccess() = default;

void WindowedFileAccess::Load(const Text& path) {
  input_ = std::make_unique<platform::InputFile>(path);
  loadedSize_ = input_->Size();
  patches_.clear();
  appended_ = std::make_unique<AppendedBytes>();
  window_.Length = 0;
  block_.Length = 0;
}

void WindowedFileAccess::BeginSave(const Text& path) {
  begun_.reset();
  // A device or a pipe is written through, in order, and only by Save.
  if (input_ == nullptr || !platform::OutputFile::ReplacesTarget(path)) return;
  try {
    begun_ = std::make_unique<BackgroundCopy>(*input_, loadedSize_, path);
  } catch (const std::exception&) {
    // Save makes the output again and reports what fails then.
    begun_.reset();
  }
}

void WindowedFileAccess::Save(const Text& path) { SaveTo(path, false); }

bool WindowedFileAccess::SaveAsNew(const Text& path) { return SaveTo(path, true); }

bool WindowedFileAccess::SaveTo(const Text& path, bool asNew) {
  std::unique_ptr<BackgroundCopy> begun = std::move(begun_);
  if (begun != nullptr && begun->Path() != path) begun.reset();
  // Checked before the output is finished, and again after the loaded bytes
  // were copied, so that a file changed meanwhile never yields a mixed
  // output.
  CheckUnchanged();
  std::optional<platform::OutputFile> own;
  platform::OutputFile* output = nullptr;
  if (begun != nullptr) {
    // The copy holds the bytes as loaded: the patches go on top.
    try {
      output = &begun->Finish(patches_);
    } catch (const Error&) {
      // A read that failed because the file changed says so.
      CheckUnchanged();
      throw;
    }
  } else {
    output = &own.emplace(path);
    WriteLoadedBytes(*output);
  }
  CheckUnchanged();
  appended_->WriteTo(*output);
  // The output may replace the loaded file itself, which Windows cannot do
  // while the file is open.
  if (input_ != nullptr) input_->Close();
  if (asNew) return output->CommitAsNew();
  output->Commit();
  return true;
}

void WindowedFileAccess::WriteLoadedBytes(platform::OutputFile& output) {
  if (input_ == nullptr) return;
  if (patches_.empty()) {
    try {
      input_->CopyTo(output, 0, loadedSize_);
    } catch (const Error&) {
      CheckUnchanged();
      throw;
    }
    return;
  }
  // Through the window, patches applied, in order: a device or a pipe cannot
  // take writes by position.
  for (Position p = 0; p < loadedSize_;) {
    const std::string_view view = LoadedBytesFrom(p);
    output.Write(view.data(), static_cast<Position>(view.size()));
    p += static_cast<Position>(view.size());
  }
}

void WindowedFileAccess::CheckUnchanged() const {
  if (input_ != nullptr) input_->CheckUnchanged();
}

void WindowedFileAccess::Fill(Buffer& buffer, Position start) const {
  if (buffer.Bytes == nullptr) {
    // A small file needs no more than its size.
    buffer.Capacity = std::min(buffer.Capacity, ToSize(loadedSize_));
    buffer.Bytes = std::make_unique_for_overwrite<char[]>(buffer.Capacity);
  }
  const Position length = std::min(static_cast<Position>(buffer.Capacity), loadedSize_ - start);
  buffer.Length = 0;
  try {
    input_->ReadExactly(start, buffer.Bytes.get(), length);
  } catch (const Error&) {
    // A file cut short meanwhile reads as changed.
    CheckUnchanged();
    throw;
  }
  ApplyPatches(buffer.Bytes.get(), start, length);
  buffer.Start = start;
  buffer.Length = length;
}

void WindowedFileAccess::ApplyPatches(char* data, Position start, Position length) const {
  const Position end = start + length;
  auto run = patches_.upper_bound(start);
  if (run != patches_.begin()) --run;
  for (; run != patches_.end() && run->first < end; ++run) {
    const Position runEnd = run->first + static_cast<Position>(run->second.size());
    const Position from = std::max(run->first, start);
    const Position to = std::min(runEnd, end);
    if (from >= to) continue;
    std::copy(run->second.begin() + (from - run->first), run->second.begin() + (to - run->first),
              data + (from - start));
  }
}

const char* WindowedFileAccess::LoadedByte(Position index) const {
  if (window_.Holds(index)) return window_.Bytes.get() + (index - window_.Start);
  if (!block_.Holds(index)) Fill(block_, index - index % kBlockBytes);
  return block_.Bytes.get() + (index - block_.Start);
}

std::string_view WindowedFileAccess::LoadedBytesFrom(Position start) const {
  if (start >= loadedSize_) return {};
  const Position wanted = std::min(kMinimumLoadedView, loadedSize_ - start);
  if (!window_.Holds(start) || window_.Start + window_.Length - start < wanted) {
    Fill(window_, start);
  }
  const Position offset = start - window_.Start;
  return {window_.Bytes.get() + offset, ToSize(window_.Length - offset)};
}

std::uint8_t WindowedFileAccess::ByteAt(Position index) const {
  if (index < 0 || index >= Size()) ThrowIndexOutOfBounds();
  return RawByteAt(index);
}

std::uint8_t WindowedFileAccess::RawByteAt(Position index) const {
  if (index < loadedSize_) return static_cast<std::uint8_t>(*LoadedByte(index));
  Text byte;
  appended_->Read(index - loadedSize_, index - loadedSize_ + 1, byte);
  return static_cast<std::uint8_t>(byte[0]);
}

Text WindowedFileAccess::Substring(Position start, Position end) const {
  Text result;
  result.reserve(ToSize(end - start));
  // The range may straddle the end of the loaded bytes, and the buffers.
  while (start < std::min(end, loadedSize_)) {
    const char* bytes = LoadedByte(start);
    const Buffer& holder = window_.Holds(start) ? window_ : block_;
    const Position stop = std::min({end, loadedSize_, holder.Start + holder.Length});
    result.append(bytes, ToSize(stop - start));
    start = stop;
  }
  if (start < end) {
    appended_->Read(start - loadedSize_, end - loadedSize_, result);
  }
  return result;
}

Position WindowedFileAccess::Size() const { return loadedSize_ + appended_->Size(); }

void WindowedFileAccess::Overwrite(Position index, const Text& text) {
  for (std::size_t k = 0; k < text.size(); ++k) {
    const Position p = index + static_cast<Position>(k);
    if (p < 0 || p >= Size()) ThrowIndexOutOfBounds();
    const char c = text[k];
    if (p >= loadedSize_) {
      appended_->Overwrite(p - loadedSize_, c);
      continue;
    }
    // Into the run that ends at p or holds it, else a new run; a run that
    // then touches the next one takes it in.
    auto next = patches_.upper_bound(p);
    auto run = next;
    if (run != patches_.begin() &&
        std::prev(run)->first + static_cast<Position>(std::prev(run)->second.size()) >= p) {
      --run;
      const auto offset = ToSize(p - run->first);
      if (offset < run->second.size()) {
        run->second[offset] = c;
      } else {
        run->second += c;
      }
    } else {
      run = patches_.emplace_hint(next, p, Text(1, c));
    }
    if (next != patches_.end() &&
        next->first == run->first + static_cast<Position>(run->second.size())) {
      run->second += next->second;
      patches_.erase(next);
    }
    // The buffers hold the bytes with their patches.
    for (Buffer* buffer : {&window_, &block_}) {
      if (buffer->Holds(p)) buffer->Bytes[ToSize(p - buffer->Start)] = c;
    }
  }
}

void WindowedFileAccess::Append(const Text& text) { appended_->Append(text); }

std::unique_ptr<Spill> WindowedFileAccess::NewSpill() const {
  return std::make_unique<WindowedSpill>();
}

void WindowedFileAccess::AppendSpill(std::shared_ptr<Spill> spill) {
  // Made by NewSpill, so of this class.
  appended_->Append(std::static_pointer_cast<WindowedSpill>(std::move(spill)));
}

}  // namespace quillane
