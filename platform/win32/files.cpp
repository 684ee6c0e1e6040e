// Files on Windows: inputs opened without sharing and read whole, outputs
// built in a temporary file beside the target and moved over it when
// complete.
#include <memory>

#include "base/error.h"
#include "platform/file_copies.h"
#include "platform/platform.h"
#include "platform/win32/win32_util.h"

namespace quillane::platform {

using win32::kTransferChunk;
using win32::ToDword;
using win32::WindowsErrorText;

// ---------------------------------------------------------------------------
// Input files

struct InputFile::Impl {
  Text path;
  Text fullPath;
  HANDLE handle = INVALID_HANDLE_VALUE;
  std::int64_t size = 0;

  [[noreturn]] void ReadError(const Text& reason) const {
    throw Error("Cannot read file \"" + fullPath + "\". " + reason);
  }
};

InputFile::InputFile(const Text& path) : impl_(std::make_unique<Impl>()) {
  impl_->path = path;
  // No sharing: nobody may change the file while it is read.
  impl_->handle = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  const DWORD openError = GetLastError();
  impl_->fullPath = ExpandFileName(path);
  if (impl_->handle == INVALID_HANDLE_VALUE) {
    throw Error("Cannot open file \"" + impl_->fullPath + "\". " + WindowsErrorText(openError));
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(impl_->handle, &size)) {
    const DWORD sizeError = GetLastError();
    CloseHandle(impl_->handle);
    throw Error("Cannot open file \"" + impl_->fullPath + "\". " + WindowsErrorText(sizeError));
  }
  impl_->size = size.QuadPart;
}

InputFile::~InputFile() {
  if (impl_->handle != INVALID_HANDLE_VALUE) CloseHandle(impl_->handle);
}

std::int64_t InputFile::Size() const { return impl_->size; }

const Text& InputFile::Path() const { return impl_->path; }

void InputFile::ReadExactly(std::int64_t offset, char* buffer, std::int64_t count) const {
  if (count <= 0) return;
  LARGE_INTEGER position{};
  position.QuadPart = offset;
  if (!SetFilePointerEx(impl_->handle, position, nullptr, FILE_BEGIN)) {
    impl_->ReadError(WindowsErrorText(GetLastError()));
  }
  while (count > 0) {
    DWORD delivered = 0;
    if (!ReadFile(impl_->handle, buffer, ToDword(std::min(count, kTransferChunk)), &delivered,
                  nullptr)) {
      impl_->ReadError(WindowsErrorText(GetLastError()));
    }
    // A successful read of nothing is the end of the file.
    if (delivered == 0) impl_->ReadError("The file ended before its expected size");
    buffer += delivered;
    count -= delivered;
  }
}

std::unique_ptr<MappedBytes> InputFile::Map() const { return CopyIntoMemory(*this); }

void InputFile::CopyTo(OutputFile& output, std::int64_t offset, std::int64_t count) const {
  CopyThroughMemory(*this, output, offset, count);
}

// The file is held without sharing from open to close, so nobody can change it
// meanwhile.
void InputFile::CheckUnchanged() const {}

// ---------------------------------------------------------------------------
// Output files

struct OutputFile::Impl {
  Text path;
  Text fullPath;
  Text temporaryPath;
  HANDLE handle = INVALID_HANDLE_VALUE;
  bool committed = false;

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
  impl_->temporaryPath = directory + "." + path.substr(directory.size()) + ".quillane-" +
                         IntToText(GetCurrentProcessId()) + ".tmp";
  impl_->handle = CreateFileA(impl_->temporaryPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (impl_->handle == INVALID_HANDLE_VALUE) {
    throw Error("Cannot create file \"" + impl_->fullPath + "\". " +
                WindowsErrorText(GetLastError()));
  }
}

OutputFile::~OutputFile() {
  if (impl_->committed) return;
  if (impl_->handle != INVALID_HANDLE_VALUE) CloseHandle(impl_->handle);
  DeleteFileA(impl_->temporaryPath.c_str());
}

void OutputFile::Write(const char* data, std::int64_t count) {
  while (count > 0) {
    DWORD written = 0;
    if (!WriteFile(impl_->handle, data, ToDword(std::min(count, kTransferChunk)), &written,
                   nullptr)) {
      impl_->WriteError(GetLastError());
    }
    // A write that reports success but moves nothing would loop for ever; the
    // usual cause is a full disk.
    if (written == 0) impl_->WriteError(ERROR_DISK_FULL);
    data += written;
    count -= written;
  }
}

void OutputFile::Commit() {
  // A move may reach the disk before the data it points at: after a power
  // cut the replaced file could be empty. So a file that replaces another is
  // flushed first; a new file replaces nothing and is not flushed.
  const DWORD target = GetFileAttributesA(impl_->path.c_str());
  if (target != INVALID_FILE_ATTRIBUTES && (target & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
      !FlushFileBuffers(impl_->handle)) {
    impl_->WriteError(GetLastError());
  }
  impl_->CloseHandleOnce();
  if (!MoveFileExA(impl_->temporaryPath.c_str(), impl_->path.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    impl_->WriteError(GetLastError());
  }
  impl_->committed = true;
}

}  // namespace quillane::platform
