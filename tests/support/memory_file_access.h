// An in-memory FileAccess for the pdf/ tests, the whole-run tests of app/,
// the fuzz targets and their regression replay: it holds the input bytes
// given at construction instead of loading a file (Load only notes the path),
// saves what it holds into a real output file, and it enforces the REQUIRES clauses of RawByteAt
// and Substring, which the real implementation leaves unchecked, so that a scanner that reads
// outside the data is reported at once instead of reading a neighbour's bytes. Its views of the
// loaded bytes can be made as short as the contract allows, so that a scan meets view boundaries
// everywhere.
#ifndef QUILLANE_TESTS_SUPPORT_MEMORY_FILE_ACCESS_H_
#define QUILLANE_TESTS_SUPPORT_MEMORY_FILE_ACCESS_H_

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string_view>

#include "base/error.h"
#include "fileaccess/fileaccess.h"
#include "platform/platform.h"

namespace quillane::test {

// A caller broke a REQUIRES clause of FileAccess. Not an Error: a run must
// never raise it, whatever the input.
class ContractViolation : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

class MemoryFileAccess : public FileAccess {
 public:
  // Copies `bytes` into a buffer of exactly their size, so that AddressSanitizer
  // also sees a read one byte past the end.
  // `viewBytes`: how many bytes LoadedBytesFrom hands out at most (0: all
  // that remain). REQUIRES: 0 or at least kMinimumLoadedView.
  explicit MemoryFileAccess(std::string_view bytes, Position viewBytes = 0)
      : loaded_(new char[bytes.size() + (bytes.empty() ? 1 : 0)]),
        loadedSize_(static_cast<Position>(bytes.size())),
        viewBytes_(viewBytes) {
    if (!bytes.empty()) std::memcpy(loaded_.get(), bytes.data(), bytes.size());
  }

  // The bytes stand for the file at `path`, whatever is there.
  void Load(const Text& path) override { loadedPath_ = path; }
  // Content() through a real output file, as the run's own file access saves.
  void Save(const Text& path) override {
    platform::OutputFile output(path);
    WriteContent(output);
    output.Commit();
  }
  bool SaveAsNew(const Text& path) override {
    platform::OutputFile output(path);
    WriteContent(output);
    return output.CommitAsNew();
  }
  const Text& LoadedPath() const { return loadedPath_; }
  // The bytes handed out by the reads by position (ByteAt, RawByteAt,
  // Substring) so far: the work a scan did, which tests bound by the size.
  Position BytesRead() const { return bytesRead_; }

  std::uint8_t ByteAt(Position index) const override {
    if (index < 0 || index >= Size()) throw Error("IndexOutOfBounds");
    ++bytesRead_;
    return Byte(index);
  }

  Text Substring(Position start, Position end) const override {
    if (start < 0 || start > end || end > Size()) Violation("Substring outside the data");
    bytesRead_ += end - start;
    // Loaded bytes in one copy: the walks read their pieces this way.
    if (end <= loadedSize_) {
      return Text(loaded_.get() + start, static_cast<std::size_t>(end - start));
    }
    Text result;
    for (Position p = start; p < end; ++p) result += static_cast<char>(Byte(p));
    return result;
  }

  std::uint8_t RawByteAt(Position index) const override {
    if (index < 0 || index >= Size()) Violation("RawByteAt outside the data");
    ++bytesRead_;
    return Byte(index);
  }

  Position Size() const override { return loadedSize_ + static_cast<Position>(appended_.size()); }

  void Overwrite(Position index, const Text& text) override {
    for (std::size_t k = 0; k < text.size(); ++k) {
      const Position p = index + static_cast<Position>(k);
      if (p < 0 || p >= Size()) throw Error("IndexOutOfBounds");
      if (p < loadedSize_) {
        loaded_[static_cast<std::size_t>(p)] = text[k];
      } else {
        appended_[static_cast<std::size_t>(p - loadedSize_)] = text[k];
      }
    }
  }

  void Append(const Text& text) override { appended_ += text; }

  // Spills in memory, as texts.
  class MemorySpill final : public Spill {
   public:
    void Write(std::string_view bytes) override { bytes_.append(bytes); }
    Position Size() const override { return static_cast<Position>(bytes_.size()); }
    const Text& Bytes() const { return bytes_; }

   private:
    Text bytes_;
  };
  std::unique_ptr<Spill> NewSpill() const override { return std::make_unique<MemorySpill>(); }
  void AppendSpill(std::shared_ptr<Spill> spill) override {
    const auto* memory = dynamic_cast<const MemorySpill*>(spill.get());
    if (memory == nullptr) Violation("AppendSpill of a spill made elsewhere");
    appended_ += memory->Bytes();
  }

  std::string_view LoadedBytesFrom(Position start) const override {
    if (start < 0) Violation("LoadedBytesFrom before the data");
    if (start >= loadedSize_) return {};
    Position length = loadedSize_ - start;
    if (viewBytes_ > 0) length = std::min(length, viewBytes_);
    return {loaded_.get() + start, static_cast<std::size_t>(length)};
  }

  // Everything held: what a run would save.
  Text Content() const {
    return Text(loaded_.get(), static_cast<std::size_t>(loadedSize_)) + appended_;
  }

 private:
  std::uint8_t Byte(Position index) const {
    const char c = index < loadedSize_ ? loaded_[static_cast<std::size_t>(index)]
                                       : appended_[static_cast<std::size_t>(index - loadedSize_)];
    return static_cast<std::uint8_t>(c);
  }

  [[noreturn]] static void Violation(const char* what) { throw ContractViolation(what); }

  void WriteContent(platform::OutputFile& output) const {
    const Text content = Content();
    output.Write(content.data(), static_cast<Position>(content.size()));
  }

  std::unique_ptr<char[]> loaded_;
  Position loadedSize_;
  Position viewBytes_;
  Text appended_;
  Text loadedPath_;
  mutable Position bytesRead_ = 0;
};

}  // namespace quillane::test

#endif  // QUILLANE_TESTS_SUPPORT_MEMORY_FILE_ACCESS_H_
