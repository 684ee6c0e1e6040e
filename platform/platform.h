// The operating-system services Quillane uses, as one seam. Exactly one
// implementation is linked: platform_win32.cpp on Windows (the "A" APIs), or
// platform_posix.cpp elsewhere (a registry file, standard error for message
// boxes, posix_spawnp for the reader). Nothing above this header includes a
// platform header. Texts cross the seam as byte strings without conversion.
#ifndef QUILLANE_PLATFORM_PLATFORM_H_
#define QUILLANE_PLATFORM_PLATFORM_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "base/text.h"

namespace quillane::platform {

// ---------------------------------------------------------------------------
// Registry

enum class RegistryRoot { kCurrentUser, kClassesRoot };

// A registry accessor in the manner of the framework's TRegistry: one root,
// at most one open key at a time. A successful open closes the previous key; a
// path is relative to the key already open unless it begins with "\".
// Errors (all Error): "Invalid data type for '<name>'", "Failed to get data for
// '<name>'", "Failed to set data for '<name>'"; <name> is empty for the
// default value. A key that cannot be opened is no error: the open is false.
class Registry {
 public:
  explicit Registry(RegistryRoot root = RegistryRoot::kCurrentUser);
  ~Registry();
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  // Opens with full access; when `create` is true a missing key (and its
  // parents) is created. True when the key is open.
  bool OpenKey(const Text& path, bool create);
  // Opens for reading only, never creating. True when the key is open.
  bool OpenKeyReadOnly(const Text& path);
  void CloseKey();

  // REQUIRES for the value operations: a key is open.
  // True for a value of any type.
  bool ValueExists(const Text& name);
  // REG_SZ or REG_EXPAND_SZ as stored (no expansion), cut at the first NUL;
  // empty when the value is absent or has no data; other types throw
  // "Invalid data type for '<name>'".
  Text ReadString(const Text& name);
  // REG_DWORD, non-zero is true. Data longer than four bytes throw "Failed to
  // get data for '<name>'"; any other type throws "Invalid data type".
  bool ReadBool(const Text& name);
  // Writes REG_SZ; failure throws "Failed to set data for '<name>'".
  void WriteString(const Text& name, const Text& value);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// ---------------------------------------------------------------------------
// Message boxes

enum class MessageIcon : std::uint32_t { kError = 16, kWarning = 48 };

// A modal box with an OK button, captioned "Quillane". `applicationOwned`
// selects the application window as owner instead of no window (Windows).
void ShowMessageBox(const Text& text, MessageIcon icon, bool applicationOwned);

// The error display of an escaped exception: the message, completed with a
// final "." when its last byte sorts after ".", error icon, application title.
void ShowErrorBox(const Text& message);

// The process exit status after an escaped exception was shown (0 on Windows,
// where the program always exits with 0; 1 on POSIX so scripts see failure).
int ExitCodeAfterError();

// ---------------------------------------------------------------------------
// Process environment and paths

// The program's arguments without its own path. On Windows they are split from
// GetCommandLineA by SplitCommandLine; elsewhere argv is used as delivered.
std::vector<Text> CommandLineArguments(int argc, char** argv);

// Full path of the running executable.
Text ExecutablePath();

// The user's temporary directory, ending with a path separator.
Text TemporaryDirectory();

// True for a byte that separates path components: "/" on POSIX; "\", ":" and
// "/" on Windows.
bool IsPathSeparator(char c);

// True only for an existing file that is not a directory.
bool FileExists(const Text& path);

// Deletes a file; the result is ignored by every caller.
void DeleteFile(const Text& path);

// The absolute, normalised form of a path, as file error messages show it.
Text ExpandFileName(const Text& path);

// An environment variable's value, or empty when unset.
Text GetEnvironment(const Text& name);

// Lower-cases in the user's code page (CharLowerBuffA on Windows, ASCII
// elsewhere); the length is unchanged.
Text LowerCase(const Text& text);

// ---------------------------------------------------------------------------
// Files

// An input file held open for reading. Errors: "Cannot open file \"<full
// path>\". <reason>" on open (a directory, too, cannot be opened), "Cannot read
// file \"<full path>\". <reason>" on a failed or short read.
class InputFile {
 public:
  explicit InputFile(const Text& path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  std::int64_t Size() const;
  // Reads exactly `count` bytes from `offset`; anything less throws.
  void ReadExactly(std::int64_t offset, char* buffer, std::int64_t count);
  const Text& Path() const;

  struct Impl;

 private:
  friend class InputContent;
  std::unique_ptr<Impl> impl_;
};

// A new file built in a temporary file beside `path` and renamed over `path`
// by Commit, so that an existing file is replaced only by a complete one.
// Without Commit the temporary file is removed. Errors: "Cannot create file
// \"<full path>\". <reason>" when the temporary file cannot be created,
// "Cannot write file \"<full path>\". <reason>" for a failed or short write or
// a failed rename; <full path> is always that of `path`. An existing device,
// pipe or socket at `path` is written through instead of being replaced.
class OutputFile {
 public:
  explicit OutputFile(const Text& path);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void Write(const char* data, std::int64_t count);
  void Commit();

  struct Impl;

 private:
  friend class InputContent;
  std::unique_ptr<Impl> impl_;
};

// The whole content of an input file as one writable block of memory, held
// for a run. Writes into the block stay in memory: the file is never written.
// On POSIX the block is a private mapping of the file, which stays open so
// that unchanged ranges can be copied to an output inside the kernel; on
// Windows it is one buffer filled by large reads, and the file is closed at
// once.
class InputContent {
 public:
  // Takes over `file` and makes its Size() bytes available. Throws the read
  // errors of InputFile, and "Cannot read file \"<full path>\". The file
  // changed while it was being processed" when its size is no longer the one
  // seen at open.
  explicit InputContent(std::unique_ptr<InputFile> file);
  ~InputContent();
  InputContent(const InputContent&) = delete;
  InputContent& operator=(const InputContent&) = delete;

  // The first of Size() bytes; null when the file is empty.
  char* Data();
  const char* Data() const;
  std::int64_t Size() const;

  // Appends bytes [offset, offset + count) of the content to `output`, from
  // the file itself where the platform can copy without passing them through
  // memory. Errors as OutputFile::Write.
  // REQUIRES: 0 <= offset, offset + count <= Size(), and none of these bytes
  // was written through Data() since the content was taken.
  void CopyUnchangedTo(OutputFile& output, std::int64_t offset, std::int64_t count);

  // Throws "Cannot read file \"<full path>\". The file changed while it was
  // being processed" when the file's size or modification time differ from
  // those seen when it was opened (bytes copied from it could then belong to
  // another version), and "Cannot read file \"<full path>\". <reason>" when
  // part of a mapped file could not be read. Never throws where the content
  // was read whole into memory.
  void CheckUnchanged() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// Reads a whole file with one read of its size (the template files).
// Errors as InputFile.
Text ReadWholeFile(const Text& path);

// ---------------------------------------------------------------------------
// Processes

// A started process. The handle is closed by the destructor.
class Process {
 public:
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Starts `commandLine` (no application name, no handle inheritance, the
  // system's environment and current directory). Null when it cannot start.
  static std::unique_ptr<Process> Start(const Text& commandLine);
  // Waits at most `milliseconds`; true when the process has ended (or the
  // wait failed), false on a time-out.
  bool WaitForExit(std::uint32_t milliseconds);

  struct Impl;

 private:
  explicit Process(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// Dispatches every pending window message of the application (nothing on
// POSIX, which has no message queue).
void PumpMessages();

}  // namespace quillane::platform

#endif  // QUILLANE_PLATFORM_PLATFORM_H_
