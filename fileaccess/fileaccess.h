// The run's one file as an array of bytes: opened once, read by position,
// patched in place, extended at the end, and saved once under a new name.
// `FileAccess` is the interface the PDF scanners and the writer use;
// `WindowedFileAccess` implements it over the file itself, through a
// bounded window, so memory does not grow with the document.
#ifndef QUILLANE_FILEACCESS_FILEACCESS_H_
#define QUILLANE_FILEACCESS_FILEACCESS_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string_view>

#include "base/text.h"

namespace quillane {

namespace platform {
class InputFile;
class OutputFile;
}  // namespace platform

// A byte index into the file, 0 at its first byte. 64 bits: documents of
// any size the format allows, and arithmetic next to a position (p + 1,
// p - 2) never overflows.
using Position = std::int64_t;

// LoadedBytesFrom hands out at least this many bytes in one piece, unless
// fewer remain: enough for every look-ahead of the image walk and the
// keyword searches.
inline constexpr Position kMinimumLoadedView = 16;

// Bytes made before they can be appended (the compressed data of a rewritten
// stream, made before the update is written), written in order and added to
// the end of a FileAccess later, in one piece, by AppendSpill. An
// implementation may keep them outside memory, so that a large stream costs
// no memory of its size.
class Spill {
 public:
  Spill() = default;
  virtual ~Spill() = default;
  Spill(const Spill&) = delete;
  Spill& operator=(const Spill&) = delete;

  // Adds `bytes` after those written so far. Throws the file errors of a
  // spill kept in a temporary file.
  virtual void Write(std::string_view bytes) = 0;
  // The bytes written so far.
  virtual Position Size() const = 0;
};

class FileAccess {
 public:
  FileAccess() = default;
  virtual ~FileAccess() = default;
  FileAccess(const FileAccess&) = delete;
  FileAccess& operator=(const FileAccess&) = delete;

  // Opens the file at `path` for the run. Throws "Cannot open file \"<full
  // path>\". <reason>" when it cannot be opened; reads that fail later throw
  // "Cannot read file ...".
  // REQUIRES: called once, on a new object.
  virtual void Load(const Text& path) = 0;

  // Writes everything held (loaded bytes with their patches, then everything
  // appended) to `path`, replacing an existing file only once the new one is
  // complete. Throws "Cannot create file ..." or "Cannot write file ...", and
  // "Cannot read file \"<full path>\". The file changed while it was being
  // processed" when the loaded file was changed by someone else meanwhile;
  // nothing is written then. The object is unchanged and could be saved again
  // (unless it was saved over its own file, whose loaded bytes are then gone).
  virtual void Save(const Text& path) = 0;

  // Save, except that the finished output is moved to `path` only if no file
  // is there at that moment (platform::OutputFile::CommitAsNew): returns
  // false, having written nothing, when a file is, so that one that appeared
  // while the run was working is never replaced.
  virtual bool SaveAsNew(const Text& path) = 0;

  // Tells the object early where Save will write, so that an implementation
  // may start producing the output while the caller goes on reading. Never
  // throws: errors show in Save, exactly as without this call. An output
  // begun here and never saved leaves nothing behind.
  virtual void BeginSave(const Text& /*path*/) {}

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

  // A new, empty spill, for bytes that AppendSpill adds later.
  virtual std::unique_ptr<Spill> NewSpill() const = 0;
  // Adds the bytes of `spill` at the end, as Append adds a text; they read
  // and save like appended text, but Overwrite may not touch them.
  // REQUIRES: `spill` was made by NewSpill of this object.
  virtual void AppendSpill(std::shared_ptr<Spill> spill) = 0;

  // The loaded bytes from `start` on, with their patches, as one piece: at
  // least kMinimumLoadedView bytes, or all that remain when fewer do; empty
  // from the end of the loaded bytes on. What was appended is not included.
  // For scans that visit the whole file (the image walk) without holding it.
  // The view stays valid, and shows later Overwrite calls, until the next
  // call of LoadedBytesFrom or Save; the other reads leave it alone.
  // REQUIRES: 0 <= start.
  virtual std::string_view LoadedBytesFrom(Position start) const = 0;
};

// Reads the loaded file where it lies, through a window of a fixed size and
// a small block for reads by position, and holds only the patches and what
// is appended. Reads throw "Cannot read file ..." (the changed message when the file
// changed meanwhile).
//
// Saving: the loaded bytes are copied from the file into the output, inside
// the kernel where the platform can; after BeginSave that copy runs on a
// second thread while the caller reads, and Save then writes only the
// patches into the copy and the appended bytes after it. Save checks that
// the file is still the version loaded, before and after the copy.
class WindowedFileAccess final : public FileAccess {
 public:
  static constexpr std::size_t kDefaultWindowBytes = std::size_t{1} << 20;

  // `windowBytes` is the size of the window for LoadedBytesFrom.
  // REQUIRES: windowBytes >= kMinimumLoadedView.
  explicit WindowedFileAccess(std::size_t windowBytes = kDefaultWindowBytes);
  ~WindowedFileAccess() override;

  void Load(const Text& path) override;
  void Save(const Text& path) override;
  bool SaveAsNew(const Text& path) override;
  void BeginSave(const Text& path) override;
  std::uint8_t ByteAt(Position index) const override;
  Text Substring(Position start, Position end) const override;
  std::uint8_t RawByteAt(Position index) const override;
  Position Size() const override;
  void Overwrite(Position index, const Text& text) override;
  void Append(const Text& text) override;
  std::unique_ptr<Spill> NewSpill() const override;
  void AppendSpill(std::shared_ptr<Spill> spill) override;
  std::string_view LoadedBytesFrom(Position start) const override;

  // A spill stays in memory up to this many bytes, and moves into a
  // temporary file of its own beyond (platform::TemporaryFile).
  static constexpr Position kSpillMemoryBytes = Position{4} << 20;

 private:
  // Loaded bytes [Start, Start + Length) held in memory, with the patches
  // that fall into them.
  struct Buffer {
    std::unique_ptr<char[]> Bytes;
    std::size_t Capacity = 0;
    Position Start = 0;
    Position Length = 0;
    bool Holds(Position index) const { return index >= Start && index < Start + Length; }
  };
  // An output begun by BeginSave, its copy running on a thread of its own.
  class BackgroundCopy;
  // Everything appended, texts and spills, in order.
  class AppendedBytes;

  bool SaveTo(const Text& path, bool asNew);
  const char* LoadedByte(Position index) const;
  void Fill(Buffer& buffer, Position start) const;
  void ApplyPatches(char* data, Position start, Position length) const;
  void WriteLoadedBytes(platform::OutputFile& output);
  void CheckUnchanged() const;

  std::unique_ptr<platform::InputFile> input_;
  Position loadedSize_ = 0;
  // Runs of patched loaded bytes by their first position; runs that touch
  // are joined.
  std::map<Position, Text> patches_;
  std::unique_ptr<AppendedBytes> appended_;
  mutable Buffer window_;
  mutable Buffer block_;
  // Declared after input_, which its thread reads: it goes first.
  std::unique_ptr<BackgroundCopy> begun_;
};

}  // namespace quillane

#endif  // QUILLANE_FILEACCESS_FILEACCESS_H_
