// Files on Windows: inputs opened without sharing and read by position,
// outputs built in a temporary file beside the target and moved over it when
// complete. Paths reach the wide file functions through FileSystemPath, so
// names in any script and full paths beyond MAX_PATH open; messages name the
// full path as ExpandFileName gives it.
#include <atomic>
#include <memory>

#include "base/error.h"
#include "platform/file_copies.h"
#include "platform/platform.h"
#include "platform/win32/win32_util.h"

namespace quillane::platform {

using win32::FileSystemPath;
using win32::kTransferChunk;
using win32::ToDword;
using win32::WindowsErrorText;

namespace {

// An OVERLAPPED that names `offset`: on a handle opened for synchronous use,
// ReadFile and WriteFile then work at that offset and wait for the transfer,
// so two threads never race for one file pointer.
OVERLAPPED At(std::int64_t offset) {
  OVERLAPPED overlapped{};
  overlapped.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xFFFFFFFFu);
  overlapped.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
  return overlapped;
}

// The reason given for a name that is not well-formed UTF-8 (it can hold a
// lone surrogate from an NTFS name): no file can be opened by it.
constexpr DWORD kUnconvertibleName = ERROR_INVALID_NAME;

}  // namespace

// ---------------------------------------------------------------------------
// Input files

struct InputFile::Impl {
  Text path;
  Text fullPath;
  std::optional<std::wstring> systemPath;
  HANDLE handle = INVALID_HANDLE_VALUE;
  std::int64_t size = 0;
  FILETIME modifiedTime{};

  [[noreturn]] void ReadError(const Text& reason) const {
    throw Error("Cannot read file \"" + fullPath + "\". " + reason);
  }

  // Opens path without sharing (nobody may change the file while it is
  // open) and reads its size and modification time; throws the open error.
  void Open(std::int64_t& openedSize, FILETIME& openedTime) {
    if (!systemPath) {
      throw Error("Cannot open file \"" + fullPath + "\". " + WindowsErrorText(kUnconvertibleName));
    }
    handle = CreateFileW(systemPath->c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      throw Error("Cannot open file \"" + fullPath + "\". " + WindowsErrorText(GetLastError()));
    }
    LARGE_INTEGER length{};
    if (!GetFileSizeEx(handle, &length) || !GetFileTime(handle, nullptr, nullptr, &openedTime)) {
      const DWORD error = GetLastError();
      CloseHandle(handle);
      handle = INVALID_HANDLE_VALUE;
      throw Error("Cannot open file \"" + fullPath + "\". " + WindowsErrorText(error));
    }
    openedSize = length.QuadPart;
  }

  // After Close: the file is opened again and must be the version first seen.
  void EnsureOpen() {
    if (handle != INVALID_HANDLE_VALUE) return;
    std::int64_t openedSize = 0;
    FILETIME openedTime{};
    Open(openedSize, openedTime);
    if (openedSize != size || CompareFileTime(&openedTime, &modifiedTime) != 0) {
      CloseHandle(handle);
      handle = INVALID_HANDLE_VALUE;
      ReadError("The file changed while it was being processed");
    }
  }
};

InputFile::InputFile(const Text& path) : impl_(std::make_unique<Impl>()) {
  impl_->path = path;
  impl_->fullPath = ExpandFileName(path);
  impl_->systemPath = FileSystemPath(path);
  impl_->Open(impl_->size, impl_->modifiedTime);
}

InputFile::~InputFile() { Close(); }

std::int64_t InputFile::Size() const { return impl_->size; }

const Text& InputFile::Path() const { return impl_->path; }

void InputFile::ReadExactly(std::int64_t offset, char* buffer, std::int64_t count) const {
  impl_->EnsureOpen();
  while (count > 0) {
    OVERLAPPED at = At(offset);
    DWORD delivered = 0;
    if (!ReadFile(impl_->handle, buffer, ToDword(std::min(count, kTransferChunk)), &delivered,
                  &at)) {
      const DWORD error = GetLastError();
      if (error == ERROR_HANDLE_EOF) impl_->ReadError("The file ended before its expected size");
      impl_->ReadError(WindowsErrorText(error));
    }
    // A successful read of nothing is the end of the file.
    if (delivered == 0) impl_->ReadError("The file ended before its expected size");
    buffer += delivered;
    offset += delivered;
    count -= delivered;
  }
}

void InputFile::CopyTo(OutputFile& output, std::int64_t offset, std::int64_t count) const {
  CopyThroughMemory(*this, output, offset, count);
}

// While the file is open it is held without sharing, so nobody can change it;
// opening it again after Close compares it with the version first seen.
void InputFile::CheckUnchanged() const { impl_->EnsureOpen(); }

void InputFile::Close() {
  if (impl_->handle == INVALID_HANDLE_VALUE) return;
  CloseHandle(impl_->handle);
  impl_->handle = INVALID_HANDLE_VALUE;
}

// ---------------------------------------------------------------------------
// Output files

struct OutputFile::Impl {
  Text path;
  Text fullPath;
  std::optional<std::wstring> systemPath;
  std::wstring temporaryPath;
  HANDLE handle = INVALID_HANDLE_VALUE;
  // Where Write goes on: the end of everything added so far.
  std::int64_t end = 0;
  bool committed = false;

  // Positional, so that WriteAt never moves where Write goes on.
  void WriteFrom(std::int64_t offset, const char* data, std::int64_t count) const {
    while (count > 0) {
      OVERLAPPED at = At(offset);
      DWORD written = 0;
      if (!WriteFile(handle, data, ToDword(std::min(count, kTransferChunk)), &written, &at)) {
        WriteError(GetLastError());
      }
      // A write that reports success but moves nothing would loop for ever;
      // the usual cause is a full disk.
      if (written == 0) WriteError(ERROR_DISK_FULL);
      data += written;
      offset += written;
      count -= written;
    }
  }

  [[noreturn]] void WriteError(DWORD code) const {
    throw Error("Cannot write file \"" + fullPath + "\". " + WindowsErrorText(code));
  }

  void CloseHandleOnce() {
    if (handle == INVALID_HANDLE_VALUE) return;
    const HANDLE open = handle;
    handle = INVALID_HANDLE_VALUE;
    if (!CloseHandle(open)) WriteError(GetLastError());
  }
};

OutputFile::OutputFile(const Text& path) : impl_(std::make_unique<Impl>()) {
  impl_->path = path;
  impl_->fullPath = ExpandFileName(path);
  // The temporary file lies in the output's own folder so that the final
  // rename never crosses volumes; the process id keeps parallel runs apart.
  const Text directory = DirectoryOf(path);
  const auto temporaryPath =
      FileSystemPath(directory + "." + path.substr(directory.size()) + ".quillane-" +
                     IntToText(GetCurrentProcessId()) + ".tmp");
  impl_->systemPath = FileSystemPath(path);
  if (!temporaryPath || !impl_->systemPath) {
    throw Error("Cannot create file \"" + impl_->fullPath + "\". " +
                WindowsErrorText(kUnconvertibleName));
  }
  impl_->temporaryPath = *temporaryPath;
  impl_->handle = CreateFileW(impl_->temporaryPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (impl_->handle == INVALID_HANDLE_VALUE) {
    throw Error("Cannot create file \"" + impl_->fullPath + "\". " +
                WindowsErrorText(GetLastError()));
  }
}

OutputFile::~OutputFile() {
  if (impl_->committed) return;
  if (impl_->handle != INVALID_HANDLE_VALUE) CloseHandle(impl_->handle);
  DeleteFileW(impl_->temporaryPath.c_str());
}

void OutputFile::Write(const char* data, std::int64_t count) {
  impl_->WriteFrom(impl_->end, data, count);
  impl_->end += count;
}

void OutputFile::WriteAt(std::int64_t offset, const char* data, std::int64_t count) {
  impl_->WriteFrom(offset, data, count);
}

bool OutputFile::ReplacesTarget(const Text& path) {
  // A name that cannot be converted names nothing; creating it fails later.
  const auto name = FileSystemPath(path);
  if (!name) return true;
  const DWORD attributes = GetFileAttributesW(name->c_str());
  return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void OutputFile::Commit() {
  // A move may reach the disk before the data it points at: after a power
  // cut the replaced file could be empty. So a file that replaces another is
  // flushed first; a new file replaces nothing and is not flushed.
  const DWORD target = GetFileAttributesW(impl_->systemPath->c_str());
  if (target != INVALID_FILE_ATTRIBUTES && (target & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
      !FlushFileBuffers(impl_->handle)) {
    impl_->WriteError(GetLastError());
  }
  impl_->CloseHandleOnce();
  if (!MoveFileExW(impl_->temporaryPath.c_str(), impl_->systemPath->c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    impl_->WriteError(GetLastError());
  }
  impl_->committed = true;
}

bool OutputFile::CommitAsNew() {
  // A folder in the way fails as Commit fails, not as a file that is there.
  const DWORD target = GetFileAttributesW(impl_->systemPath->c_str());
  if (target != INVALID_FILE_ATTRIBUTES && (target & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    Commit();
    return true;
  }
  impl_->CloseHandleOnce();
  // Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken.
  if (!MoveFileExW(impl_->temporaryPath.c_str(), impl_->systemPath->c_str(),
                   MOVEFILE_WRITE_THROUGH)) {
    const DWORD code = GetLastError();
    if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) return false;
    impl_->WriteError(code);
  }
  impl_->committed = true;
  return true;
}

// ---------------------------------------------------------------------------
// Temporary files

struct TemporaryFile::Impl {
  Text folder;  // as messages name it
  HANDLE handle = INVALID_HANDLE_VALUE;
  std::int64_t size = 0;

  [[noreturn]] void Fail(const char* what, DWORD code) const {
    throw Error(Text(what) + " \"" + folder + "\". " + WindowsErrorText(code));
  }
};

TemporaryFile::TemporaryFile() : impl_(std::make_unique<Impl>()) {
  Text folder = TemporaryDirectory();
  impl_->folder =
      folder.size() > 1 && folder.back() == '\\' ? folder.substr(0, folder.size() - 1) : folder;
  // The process id and a count keep the names of files made at once apart;
  // a name already taken is passed over.
  static std::atomic<std::uint32_t> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    const Text name = folder + "quillane-" + IntToText(GetCurrentProcessId()) + "-" +
                      IntToText(counter.fetch_add(1)) + ".tmp";
    const auto path = FileSystemPath(name);
    if (!path) impl_->Fail("Cannot create file", ERROR_INVALID_NAME);
    impl_->handle = CreateFileW(path->c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (impl_->handle != INVALID_HANDLE_VALUE) return;
    if (GetLastError() != ERROR_FILE_EXISTS) break;
  }
  impl_->Fail("Cannot create file", GetLastError());
}

TemporaryFile::~TemporaryFile() {
  if (impl_->handle != INVALID_HANDLE_VALUE) CloseHandle(impl_->handle);
}

void TemporaryFile::Write(const char* data, std::int64_t count) {
  std::int64_t offset = impl_->size;
  while (count > 0) {
    OVERLAPPED at = At(offset);
    DWORD written = 0;
    if (!WriteFile(impl_->handle, data, ToDword(std::min(count, kTransferChunk)), &written, &at)) {
      impl_->Fail("Cannot write file", GetLastError());
    }
    if (written == 0) impl_->Fail("Cannot write file", ERROR_DISK_FULL);
    data += written;
    offset += written;
    count -= written;
  }
  impl_->size = offset;
}

void TemporaryFile::ReadAt(std::int64_t offset, char* buffer, std::int64_t count) const {
  while (count > 0) {
    OVERLAPPED at = At(offset);
    DWORD delivered = 0;
    if (!ReadFile(impl_->handle, buffer, ToDword(std::min(count, kTransferChunk)), &delivered,
                  &at)) {
      impl_->Fail("Cannot read file", GetLastError());
    }
    if (delivered == 0) impl_->Fail("Cannot read file", ERROR_HANDLE_EOF);
    buffer += delivered;
    offset += delivered;
    count -= delivered;
  }
}

std::int64_t TemporaryFile::Size() const { return impl_->size; }

}  // namespace quillane::platform
