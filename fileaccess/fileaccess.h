// The run's one file as an array of bytes: loaded whole, read by position,
// patched in place, extended at the end, and saved once under a new name.
// `FileAccess` is the interface the PDF scanners and the writer use;
// `FullyBufferedFileAccess` holds the whole file in memory.
#ifndef QUILLANE_FILEACCESS_FILEACCESS_H_
#define QUILLANE_FILEACCESS_FILEACCESS_H_

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "base/text.h"

namespace quillane {

namespace platform {
class InputFile;
class MappedBytes;
class OutputFile;
}  // namespace platform

// A byte index into the file, 0 at its first byte. Held in 64 bits so that
// arithmetic next to a position (p + 1, p - 2) can never overflow; files and
// outputs are limited to less than 2 GiB, so every position fits 32 bits too.
using Position = std::int64_t;

// Files and outputs must stay below this size: positions in a cross-reference
// section are written as 32-bit values.
inline constexpr Position kMaxFileSize = Position{1} << 31;

class FileAccess {
 public:
  FileAccess() = default;
  virtual ~FileAccess() = default;
  FileAccess(const FileAccess&) = delete;
  FileAccess& operator=(const FileAccess&) = delete;

  // Reads the whole file at `path`. Throws "Cannot open file \"<full
  // path>\". <reason>" when it cannot be opened (or is 2 GiB or larger) and
  // "Cannot read file ..." when it cannot be read completely.
  // REQUIRES: called once, on a new object.
  virtual void Load(const Text& path) = 0;

  // Writes everything held (loaded bytes with their patches, then everything
  // appended) to `path`, replacing an existing file only once the new one is
  // complete. Throws "Cannot create file ..." or "Cannot write file ...", and
  // "Cannot read file \"<full path>\". The file changed while it was being
  // processed" when the loaded file was changed by someone else meanwhile;
  // nothing is written then. The object is unchanged and could be saved again.
  virtual void Save(const Text& path) = 0;

  // The byte at `index`; throws "IndexOutOfBounds" unless 0 <= index < Size().
  virtual std::uint8_t ByteAt(Position index) const = 0;

  // Bytes [start, end) as a text. REQUIRES: 0 <= start <= end <= Size().
  virtual Text Substring(Position start, Position end) const = 0;

  // The byte at `index`, unchecked. REQUIRES: 0 <= index < Size().
  virtual std::uint8_t RawByteAt(Position index) const = 0;

  // The number of bytes held, including everything appended.
  virtual Position Size() const = 0;

  // Replaces the bytes from `index` on with `text`, byte by byte; a position
  // outside 0 .. Size() - 1 throws "IndexOutOfBounds" (bytes before it stay
  // written). The size never changes.
  virtual void Overwrite(Position index, const Text& text) = 0;

  // Adds `text` at the end; bytes already held never move.
  virtual void Append(const Text& text) = 0;

  // The loaded bytes (with their patches) as one contiguous view, for the
  // image walk's fast path; what was appended is not included. The view stays
  // valid until the object is destroyed.
  virtual std::string_view LoadedBytes() const = 0;
};

// Holds the loaded file as one block of memory of exactly its size (on POSIX
// a private mapping of the file, which stays open until the object goes) and
// what is appended in a separate text, so a large document is never copied
// or moved when the update is added. Save writes the loaded bytes that were
// never overwritten straight from the file where the platform can, and
// checks that the file is still the one that was loaded.
class FullyBufferedFileAccess final : public FileAccess {
 public:
  FullyBufferedFileAccess();
  ~FullyBufferedFileAccess() override;

  void Load(const Text& path) override;
  void Save(const Text& path) override;
  std::uint8_t ByteAt(Position index) const override;
  Text Substring(Position start, Position end) const override;
  std::uint8_t RawByteAt(Position index) const override;
  Position Size() const override;
  void Overwrite(Position index, const Text& text) override;
  void Append(const Text& text) override;
  std::string_view LoadedBytes() const override;

 private:
  // A run of loaded bytes [Start, End) written by Overwrite.
  struct Patch {
    Position Start;
    Position End;
  };

  char* MutableByte(Position index);
  const char* ConstByte(Position index) const;
  void NotePatched(Position index);
  void SaveLoadedBytes(platform::OutputFile& output);
  // Bytes [offset, offset + count) as loaded: from the file itself while the
  // content views it, from memory otherwise.
  void CopyUnchanged(platform::OutputFile& output, Position offset, Position count);
  // Throws when the file changed since it was loaded or part of it could not
  // be read; a no-op for a copy held in memory.
  void CheckUnchanged() const;

  // The loaded file, held open while content_ views it; null otherwise.
  std::unique_ptr<platform::InputFile> input_;
  std::unique_ptr<platform::MappedBytes> content_;
  char* loaded_ = nullptr;  // content_'s bytes, null while nothing is loaded
  Position loadedSize_ = 0;
  // In the order written; runs that touch are joined as they are noted.
  std::vector<Patch> patches_;
  Text appended_;
};

}  // namespace quillane

#endif  // QUILLANE_FILEACCESS_FILEACCESS_H_
