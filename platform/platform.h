// The operating-system services Quillane uses, as one seam. Exactly one
// implementation is linked, chosen by the build: platform/win32/ (the Win32
// wide "W" interfaces) or platform/posix/ (a registry file, the freedesktop
// association for the document opener, standard error for message boxes,
// posix_spawnp for the reader). Nothing outside platform/ includes a system
// header of one platform. Texts cross the seam as byte strings: on POSIX
// without conversion, on Windows in UTF-8, which the Win32 implementation
// converts to UTF-16 and back at every call, so names in any script and full
// paths beyond MAX_PATH work. A Windows name that is not valid UTF-16 (a lone
// surrogate) comes in as WTF-8 and opens nothing.
#ifndef QUILLANE_PLATFORM_PLATFORM_H_
#define QUILLANE_PLATFORM_PLATFORM_H_

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "base/text.h"

namespace quillane::platform {

// ---------------------------------------------------------------------------
// Registry

enum class RegistryRoot { kCurrentUser, kClassesRoot };

// One open registry key, closed when the object goes. Paths are absolute:
// below the root, components separated by "\".
// Errors (all Error): "Invalid data type for '<name>'", "Failed to get data for
// '<name>'", "Failed to set data for '<name>'"; <name> is empty for the
// default value. A key that cannot be opened is no error: the open gives null.
class RegistryKey {
 public:
  // Opens `path` with full access. Null when it cannot be opened.
  static std::unique_ptr<RegistryKey> Open(RegistryRoot root, const Text& path);
  // Opens `path` with full access, creating it and its missing parents first.
  // Null when it can be neither opened nor created.
  static std::unique_ptr<RegistryKey> OpenOrCreate(RegistryRoot root, const Text& path);
  // Opens `path` for reading values only, never creating it. Null when it
  // cannot be opened.
  static std::unique_ptr<RegistryKey> OpenReadOnly(RegistryRoot root, const Text& path);

  ~RegistryKey();
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // True for a value of any type.
  bool ValueExists(const Text& name) const;
  // REG_SZ or REG_EXPAND_SZ as stored (no expansion), cut at the first NUL;
  // empty when the value is absent or has no data; other types throw
  // "Invalid data type for '<name>'".
  Text ReadString(const Text& name) const;
  // REG_DWORD, non-zero is true. An absent value or data longer than four
  // bytes throw "Failed to get data for '<name>'"; any other type throws
  // "Invalid data type for '<name>'".
  bool ReadBool(const Text& name) const;
  // Writes REG_SZ; failure throws "Failed to set data for '<name>'".
  void WriteString(const Text& name, const Text& value);

  struct Impl;

 private:
  explicit RegistryKey(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// ---------------------------------------------------------------------------
// The document opener: the application the current user opens PDF documents
// with, as the system associates it with ".pdf". The registry is read through
// RegistryKey on both systems; on POSIX the freedesktop association answers
// where the registry file holds nothing, so no set-up is needed there; the
// desktop's files are read once per process, like the registry file.

// Quillane's own desktop file ID. Installed, it declares PDF documents, yet it
// never stands for the user's reader: the desktop's default passes it over.
inline constexpr char kOwnDesktopEntry[] = "quillane.desktop";

// The ProgID associated with ".pdf" for the current user (on POSIX also a
// desktop file ID), or empty when none. The first non-empty answer wins:
//  1. "Progid" of HKEY_CURRENT_USER
//     "Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\.pdf\UserChoice";
//  2. POSIX, unless the registry file holds that value (an empty one too):
//     the desktop's default application for application/pdf by the
//     mimeapps.list rules, never kOwnDesktopEntry;
//  3. "Progid" of the FileExts ".pdf" key above UserChoice, replaced by its
//     "Application" when that value exists.
// Machine-wide associations (HKEY_CLASSES_ROOT ".pdf") are not consulted.
// Reads only. Throws Error("Invalid data type for '<name>'") for a value that
// is not text.
Text DocumentOpenerProgId();

// A ProgID's default shell verb and its command.
struct OpenerVerb {
  Text Verb;     // the default verb; "open" when the ProgID names none
  Text Command;  // kDocumentPlaceholder where the document goes; empty when none

  bool operator==(const OpenerVerb&) const = default;
};

// The default verb of `progId` and that verb's command; nothing when the
// system knows no such ProgID. Under HKEY_CLASSES_ROOT the Shell key is
// "<progId>\Shell", or "Applications\<progId>\Shell" when the lower-cased
// `progId` ends with ".exe" (`progId` itself inserted as given); its default
// value is the verb, and the default value of "<verb>\command" below it the
// command. On POSIX a desktop file ID answers too, after the registry file:
// where the file has no Shell key for it, its default verb is "open"; where
// the file gives no command for the verb "open" (in any case), the command is
// the entry's Exec line translated (its file field codes %f %F %u %U become
// "%1", in double quotes).
// When the default verb is a non-empty `skippedVerb` (compared exactly), its
// command is not read and Command is empty: a caller that will not start
// that verb meets no error from it.
// Reads only. Throws Error("Invalid data type for ''") for a verb or command
// that is not text.
// REQUIRES: `progId` is non-empty.
std::optional<OpenerVerb> DocumentOpenerVerb(const Text& progId, const Text& skippedVerb);

// ---------------------------------------------------------------------------
// Message boxes

enum class MessageIcon : std::uint32_t { kError = 16, kWarning = 48, kInformation = 64 };

// A modal box with an OK button, captioned "Quillane". `applicationOwned`
// selects the application window as owner instead of no window (Windows).
// On POSIX the text goes to standard error as one line "Quillane: <text>".
void ShowMessageBox(const Text& text, MessageIcon icon, bool applicationOwned);

// The input the messages of a run are about, when the program runs over
// several: while one lives, every ShowMessageBox (and ShowErrorBox) names it
// as the user gave it: on POSIX the line reads "Quillane: <input>: <text>",
// on Windows the box keeps its text and caption and gains the input on a
// last line of its own. The entry point makes one per run, and only with
// more than one input, so that the messages of a single run stay as they
// are. One at a time.
class MessageSubject {
 public:
  explicit MessageSubject(const Text& input);
  ~MessageSubject();
  MessageSubject(const MessageSubject&) = delete;
  MessageSubject& operator=(const MessageSubject&) = delete;

  // The input named by the one that lives, or null.
  static const Text* Current();
};

// The error display of an escaped exception: the message, completed with a
// final "." when its last byte sorts after ".", in an application-owned box
// with the error icon.
void ShowErrorBox(const Text& message);

// The conventions of the system's command line: on Windows the program has
// no console, always exits with 0, and options begin with "/"; on POSIX an
// absolute path begins with "/" too, there are "-" options, and the exit
// status tells scripts how a run ended.
enum class CommandLineStyle { kWindows, kPosix };
CommandLineStyle NativeCommandLineStyle();

// Text for the user on the standard streams (POSIX; a Windows program
// without a console has none, and the text goes nowhere).
void WriteStandardOutput(const Text& text);
void WriteStandardError(const Text& text);

// ---------------------------------------------------------------------------
// Process environment and paths

// The program's arguments without its own path. On Windows they are split from
// GetCommandLineW, in UTF-8, by SplitCommandLine; elsewhere argv is used as
// delivered.
std::vector<Text> CommandLineArguments(int argc, char** argv);

// Full path of the running executable.
Text ExecutablePath();

// The user's temporary directory, ending with a path separator.
Text TemporaryDirectory();

// True for a byte that separates path components: "/" on POSIX; "\", ":" and
// "/" on Windows.
bool IsPathSeparator(char c);

// The directory part of `path` up to and including its last separator; empty
// when it has none.
Text DirectoryOf(const Text& path);

// The part of `path` after its last separator (all of it when it has none).
Text FileNameOf(const Text& path);

// True only for an existing file that is not a directory.
bool FileExists(const Text& path);

// Deletes a file; the result is ignored by every caller.
void DeleteFile(const Text& path);

// The absolute, normalised form of a path, as file error messages show it
// (on Windows never the "\\?\" form the file functions may be given).
Text ExpandFileName(const Text& path);

// An environment variable's value, or empty when unset.
Text GetEnvironment(const Text& name);

// Lower-cases: on Windows every letter CharLowerBuffW knows (UTF-8 in and
// out, the ASCII letters alone of a text that is not UTF-8), elsewhere the
// ASCII letters; the length is unchanged but for the few Windows letters whose
// lower case takes another number of UTF-8 bytes.
Text LowerCase(const Text& text);

// ---------------------------------------------------------------------------
// The copies "/tempexec" shows

// The folder that holds those copies, ending with a path separator: a folder
// of the user's own inside TemporaryDirectory(), "quillane-<user id>" on POSIX,
// where the temporary folder is shared by every user and its names can be
// planted by any of them, and "Quillane" on Windows, where the temporary folder
// is the user's own already. Names it only: nothing is created or checked.
Text ViewCopyDirectory();

// Creates ViewCopyDirectory() when it is missing (POSIX: mode 0700) and makes
// sure that the copies may go there. Throws Error("Cannot create folder
// \"<folder>\". <reason>") when it cannot be created, and on POSIX
// Error("Cannot use folder \"<folder>\". It is a symbolic link or not a folder
// owned by the current user") when the path exists as anything else; <folder>
// is given without its final separator.
void CreateViewCopyDirectory();

// Deletes the files directly inside ViewCopyDirectory() whose last change is
// more than `maxAge` ago and returns their paths. Does nothing when the folder
// is missing or, on POSIX, is not a folder of the user's own; never follows a
// symbolic link and passes over what cannot be deleted.
std::vector<Text> RemoveViewCopiesOlderThan(std::chrono::seconds maxAge);

// Leaves the file `path` readable and writable by its owner only (POSIX mode
// 0600; nothing on Windows). A failure is passed over: the file lies in
// ViewCopyDirectory(), which nobody else may enter.
void RestrictToOwner(const Text& path);

// ---------------------------------------------------------------------------
// Files

class OutputFile;

// An input file held open and read by position; nothing of it is held in
// memory. Errors: "Cannot open file \"<full path>\". <reason>" on open (a
// directory, too, cannot be opened), "Cannot read file \"<full path>\".
// <reason>" on a failed or short read. ReadExactly and CopyTo may run on two
// threads at once; Close runs alone.
class InputFile {
 public:
  explicit InputFile(const Text& path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // The size seen when the file was opened.
  std::int64_t Size() const;
  // Reads exactly `count` bytes from `offset`; anything less throws.
  void ReadExactly(std::int64_t offset, char* buffer, std::int64_t count) const;
  const Text& Path() const;

  // Appends bytes [offset, offset + count) of the file to `output`, after
  // everything written there so far: inside the kernel where the platform
  // can, through a buffer of at most 1 MiB otherwise. Where the file has a
  // hole, the output gets one too when it can. Errors as OutputFile::Write
  // and ReadExactly.
  // REQUIRES: 0 <= offset, offset + count <= Size().
  void CopyTo(OutputFile& output, std::int64_t offset, std::int64_t count) const;

  // Throws "Cannot read file \"<full path>\". The file changed while it was
  // being processed" when the file's size or modification time differ from
  // those seen when it was first opened: bytes taken from it could then
  // belong to another version. (Windows holds the file without sharing while
  // it is open, so it cannot change there meanwhile.)
  void CheckUnchanged() const;

  // Closes the file, so that it can be replaced (Windows cannot replace a
  // file held open). The next read, copy or check opens it again and throws
  // the open error, or the changed error of CheckUnchanged when the file is
  // no longer the version first opened.
  void Close();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// Reads a whole file with one read of its size (the template files).
// Errors as InputFile.
Text ReadWholeFile(const Text& path);

// A new file built in a temporary file beside `path` and renamed over `path`
// by Commit, so that an existing file is replaced only by a complete one. When
// Commit replaces an existing file it makes the new data durable first and the
// rename after it (POSIX: fsync of the file, then of its folder; Windows:
// FlushFileBuffers, then a write-through move), so that a power cut leaves the
// old file or the new one; the data of a new file is not synced.
// Without Commit the temporary file is removed. Errors: "Cannot create file
// \"<full path>\". <reason>" when the temporary file cannot be created,
// "Cannot write file \"<full path>\". <reason>" for a failed or short write or
// a failed rename; <full path> is always that of `path`. An existing device,
// pipe or socket at `path` is written through instead of being replaced.
// Any thread may write; WriteAt may run on one thread while Write or
// InputFile::CopyTo adds bytes on another.
class OutputFile {
 public:
  explicit OutputFile(const Text& path);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // True when an OutputFile for `path` would be built beside it and renamed
  // into place: nothing or a regular file is there (not a folder, device,
  // pipe or socket). Only such an output takes WriteAt.
  static bool ReplacesTarget(const Text& path);

  // Adds `count` bytes after everything Write and InputFile::CopyTo have
  // added so far.
  void Write(const char* data, std::int64_t count);
  // Writes `count` bytes at `offset` over bytes added before; where Write
  // goes on does not move.
  // REQUIRES: ReplacesTarget(path); offset + count <= the bytes added so far.
  void WriteAt(std::int64_t offset, const char* data, std::int64_t count);
  // Moves the finished file into place over whatever is at `path`.
  void Commit();
  // Moves the finished file into place only if no file is at `path` at that
  // moment, in one step of the file system (POSIX: renameat2 with
  // RENAME_NOREPLACE, or link and unlink where the file system cannot;
  // Windows: MoveFileEx without MOVEFILE_REPLACE_EXISTING), so that a file
  // that appeared while the output was written is never replaced. Returns
  // false, the temporary file removed and nothing changed at `path`, when a
  // file is there; a device, pipe or socket written through returns true.
  // Never syncs: a new file replaces nothing. Errors as Commit.
  bool CommitAsNew();

  struct Impl;

 private:
  // InputFile::CopyTo hands its bytes to the file without passing them
  // through memory.
  friend class InputFile;
  std::unique_ptr<Impl> impl_;
};

// A file of the program's own in the temporary directory, for bytes made
// before they can go where they belong (the compressed data of a rewritten
// stream, made before the update is appended), so that they need not be held
// in memory. Nobody else can open it, and it goes when the object goes, even
// when the process is killed (POSIX: it has no name; Windows: deleted on
// close). Errors: "Cannot create file \"<temporary folder>\". <reason>",
// "Cannot write file ..." and "Cannot read file ..." naming it the same way.
class TemporaryFile {
 public:
  TemporaryFile();
  ~TemporaryFile();
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  // Adds `count` bytes at the end.
  void Write(const char* data, std::int64_t count);
  // Reads exactly `count` bytes from `offset`.
  // REQUIRES: 0 <= offset, offset + count <= Size().
  void ReadAt(std::int64_t offset, char* buffer, std::int64_t count) const;
  // The bytes written so far.
  std::int64_t Size() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// ---------------------------------------------------------------------------
// Processes

// Where a document's path goes in a reader command.
inline constexpr char kDocumentPlaceholder[] = "%1";

// A started process. The handle is closed by the destructor.
class Process {
 public:
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Starts `commandLine` (no application name, no handle inheritance, the
  // system's environment and current directory). Null when it cannot start
  // (on Windows also when `commandLine` is not well-formed UTF-8).
  static std::unique_ptr<Process> Start(const Text& commandLine);

  // Starts the reader command `commandTemplate` for the document at
  // `documentPath`: every kDocumentPlaceholder stands for the path, and a
  // template without one starts without the document. Otherwise as Start.
  //  - POSIX: the template is split into arguments first (SplitCommandLine)
  //    and the placeholder replaced inside each argument by the absolute form
  //    of the path (ExpandFileName), so the path stays within its argument
  //    whatever bytes it holds, and a name that starts with "-" never reads
  //    as an option.
  //  - Windows: the placeholder is replaced in the command line itself by the
  //    path as it is given; a Windows file name cannot hold the double quote
  //    that could end a quoted placeholder.
  static std::unique_ptr<Process> StartWithDocument(const Text& commandTemplate,
                                                    const Text& documentPath);
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
