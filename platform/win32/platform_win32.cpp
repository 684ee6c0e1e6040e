// Win32 implementation of the platform seam, through the explicit "A" APIs so
// that every text crosses as the bytes of the user's code page.
#include "platform/platform.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// windows.h maps DeleteFile to DeleteFileA; the seam's own DeleteFile must keep
// its name.
#undef DeleteFile

#include <algorithm>
#include <limits>

#include "platform/command_line.h"
#include "base/error.h"

namespace quillane::platform {

namespace {

constexpr char kCaption[] = "Quillane";

// Every read and write call moves at most this much, well inside a DWORD.
constexpr std::int64_t kTransferChunk = std::int64_t{1} << 30;

DWORD ToDword(std::int64_t value) {
  if (value <= 0) return 0;
  return static_cast<DWORD>(std::min<std::int64_t>(value, std::numeric_limits<DWORD>::max()));
}

// The system's text for an error code, without the line break FormatMessageA
// puts at its end, so that it can close an error sentence.
Text WindowsErrorText(DWORD code) {
  char buffer[1024];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, buffer, sizeof buffer, nullptr);
  while (length > 0 && static_cast<unsigned char>(buffer[length - 1]) <= ' ') --length;
  if (length == 0) return "System error " + IntToText(code);
  return Text(buffer, length);
}

// Calls `query(buffer, capacity)` of an API that returns the length it wrote,
// or the capacity it needs when the buffer is too small, until the text fits.
template <typename Query>
Text QueryText(DWORD capacity, Query query) {
  for (;;) {
    Text buffer(capacity, '\0');
    const DWORD length = query(buffer.data(), capacity);
    if (length < capacity) {
      buffer.resize(length);
      return buffer;
    }
    capacity = std::max<DWORD>(length + 1, capacity * 2);
  }
}

// The folder part of a path, up to and including its last separator.
Text DirectoryOf(const Text& path) {
  std::size_t cut = path.size();
  while (cut > 0 && !IsPathSeparator(path[cut - 1])) --cut;
  return path.substr(0, cut);
}

HKEY RootKey(RegistryRoot root) {
  return root == RegistryRoot::kClassesRoot ? HKEY_CLASSES_ROOT : HKEY_CURRENT_USER;
}

}  // namespace

// ---------------------------------------------------------------------------
// Registry

struct Registry::Impl {
  HKEY root = nullptr;
  HKEY current = nullptr;

  // A path that begins with "\" is taken from the root; any other from the
  // key already open, or from the root when none is.
  HKEY BaseFor(const Text& path, Text& relative) const {
    if (!path.empty() && path[0] == '\\') {
      relative = path.substr(1);
      return root;
    }
    relative = path;
    return current != nullptr ? current : root;
  }

  // The previous key is closed only once the new one is open, so a failed
  // open leaves the caller where it was.
  bool Replace(LONG status, HKEY opened) {
    if (status != ERROR_SUCCESS) return false;
    Close();
    current = opened;
    return true;
  }

  void Close() {
    if (current != nullptr) RegCloseKey(current);
    current = nullptr;
  }

  // RegQueryValueExA into `buffer`; the type and size are reported back.
  LONG Query(const Text& name, DWORD& type, BYTE* buffer, DWORD& size) const {
    return RegQueryValueExA(current, name.c_str(), nullptr, &type, buffer, &size);
  }
};

Registry::Registry(RegistryRoot root) : impl_(std::make_unique<Impl>()) {
  impl_->root = RootKey(root);
}

Registry::~Registry() { impl_->Close(); }

bool Registry::OpenKey(const Text& path, bool create) {
  Text relative;
  const HKEY base = impl_->BaseFor(path, relative);
  HKEY opened = nullptr;
  LONG status = ERROR_SUCCESS;
  // Creating an empty path would only reopen the base, so it is opened instead.
  if (!create || relative.empty()) {
    status = RegOpenKeyExA(base, relative.c_str(), 0, KEY_ALL_ACCESS, &opened);
  } else {
    DWORD disposition = 0;
    status = RegCreateKeyExA(base, relative.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_ALL_ACCESS, nullptr, &opened, &disposition);
  }
  return impl_->Replace(status, opened);
}

bool Registry::OpenKeyReadOnly(const Text& path) {
  Text relative;
  const HKEY base = impl_->BaseFor(path, relative);
  // Some keys refuse change notification or enumeration to ordinary users,
  // so the rights are narrowed step by step down to reading values.
  for (const REGSAM access :
       {REGSAM{KEY_READ}, REGSAM{KEY_READ & ~KEY_NOTIFY}, REGSAM{KEY_QUERY_VALUE}}) {
    HKEY opened = nullptr;
    const LONG status = RegOpenKeyExA(base, relative.c_str(), 0, access, &opened);
    if (impl_->Replace(status, opened)) return true;
  }
  return false;
}

void Registry::CloseKey() { impl_->Close(); }

bool Registry::ValueExists(const Text& name) {
  DWORD type = 0;
  DWORD size = 0;
  return impl_->Query(name, type, nullptr, size) == ERROR_SUCCESS;
}

Text Registry::ReadString(const Text& name) {
  DWORD type = 0;
  DWORD size = 0;
  if (impl_->Query(name, type, nullptr, size) != ERROR_SUCCESS || size == 0) return {};
  Text data(size, '\0');
  if (impl_->Query(name, type, reinterpret_cast<BYTE*>(data.data()), size) != ERROR_SUCCESS) {
    throw Error("Failed to get data for '" + name + "'");
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) {
    throw Error("Invalid data type for '" + name + "'");
  }
  // The stored terminator, and anything a careless writer put after it, go.
  data.resize(std::min<std::size_t>(size, data.find('\0')));
  return data;
}

bool Registry::ReadBool(const Text& name) {
  DWORD type = 0;
  DWORD value = 0;
  DWORD size = sizeof value;
  // Data longer than four bytes do not fit and fail the query (ERROR_MORE_DATA).
  if (impl_->Query(name, type, reinterpret_cast<BYTE*>(&value), size) != ERROR_SUCCESS) {
    throw Error("Failed to get data for '" + name + "'");
  }
  if (type != REG_DWORD) throw Error("Invalid data type for '" + name + "'");
  return value != 0;
}

void Registry::WriteString(const Text& name, const Text& value) {
  // REG_SZ is stored with its terminating NUL.
  const LONG status = RegSetValueExA(impl_->current, name.c_str(), 0, REG_SZ,
                                     reinterpret_cast<const BYTE*>(value.c_str()),
                                     ToDword(static_cast<std::int64_t>(value.size()) + 1));
  if (status != ERROR_SUCCESS) throw Error("Failed to set data for '" + name + "'");
}

// ---------------------------------------------------------------------------
// Message boxes

void ShowMessageBox(const Text& text, MessageIcon icon, bool applicationOwned) {
  const HWND owner = applicationOwned ? GetActiveWindow() : nullptr;
  MessageBoxA(owner, text.c_str(), kCaption, MB_OK | static_cast<UINT>(icon));
}

void ShowErrorBox(const Text& message) {
  Text text = message;
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
  ShowMessageBox(text, MessageIcon::kError, true);
}

int ExitCodeAfterError() { return 0; }

// ---------------------------------------------------------------------------
// Process environment and paths

std::vector<Text> CommandLineArguments(int /*argc*/, char** /*argv*/) {
  // The C runtime's argv follows other quoting rules; the program splits the
  // raw command line itself and drops its own path.
  std::vector<Text> arguments = SplitCommandLine(GetCommandLineA());
  if (!arguments.empty()) arguments.erase(arguments.begin());
  return arguments;
}

Text ExecutablePath() {
  // GetModuleFileNameA returns the full capacity when it had to cut the path.
  Text path = QueryText(MAX_PATH, [](char* buffer, DWORD capacity) {
    const DWORD length = GetModuleFileNameA(nullptr, buffer, capacity);
    return length == capacity ? capacity + 1 : length;
  });
  return path;
}

Text TemporaryDirectory() {
  return QueryText(MAX_PATH,
                   [](char* buffer, DWORD capacity) { return GetTempPathA(capacity, buffer); });
}

bool IsPathSeparator(char c) { return c == '\\' || c == ':' || c == '/'; }

bool FileExists(const Text& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void DeleteFile(const Text& path) { DeleteFileA(path.c_str()); }

Text ExpandFileName(const Text& path) {
  if (path.empty()) return path;
  Text full = QueryText(MAX_PATH, [&path](char* buffer, DWORD capacity) {
    return GetFullPathNameA(path.c_str(), capacity, buffer, nullptr);
  });
  return full.empty() ? path : full;
}

Text GetEnvironment(const Text& name) {
  return QueryText(256, [&name](char* buffer, DWORD capacity) {
    return GetEnvironmentVariableA(name.c_str(), buffer, capacity);
  });
}

Text LowerCase(const Text& text) {
  Text lower = text;
  // CharLowerBuffA works on a DWORD count; longer texts go in pieces.
  for (std::size_t done = 0; done < lower.size();) {
    const DWORD piece = ToDword(static_cast<std::int64_t>(lower.size() - done));
    CharLowerBuffA(lower.data() + done, piece);
    done += piece;
  }
  return lower;
}

// ---------------------------------------------------------------------------
// Files

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

void InputFile::ReadExactly(std::int64_t offset, char* buffer, std::int64_t count) {
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

Text ReadWholeFile(const Text& path) {
  InputFile file(path);
  Text content(static_cast<std::size_t>(file.Size()), '\0');
  file.ReadExactly(0, content.data(), file.Size());
  return content;
}

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
  impl_->CloseHandleOnce();
  if (!MoveFileExA(impl_->temporaryPath.c_str(), impl_->path.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    impl_->WriteError(GetLastError());
  }
  impl_->committed = true;
}

// ---------------------------------------------------------------------------
// Input content

struct InputContent::Impl {
  std::unique_ptr<char[]> buffer;
  std::int64_t size = 0;
};

InputContent::InputContent(std::unique_ptr<InputFile> file) : impl_(std::make_unique<Impl>()) {
  impl_->size = file->Size();
  if (impl_->size == 0) return;
  // One buffer of exactly the file's size, left uninitialised because every
  // byte is read into it. The file is closed when `file` goes, right here.
  impl_->buffer = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(impl_->size));
  file->ReadExactly(0, impl_->buffer.get(), impl_->size);
}

InputContent::~InputContent() = default;

char* InputContent::Data() { return impl_->buffer.get(); }

const char* InputContent::Data() const { return impl_->buffer.get(); }

std::int64_t InputContent::Size() const { return impl_->size; }

void InputContent::CopyUnchangedTo(OutputFile& output, std::int64_t offset, std::int64_t count) {
  output.Write(impl_->buffer.get() + offset, count);
}

// The content is a copy in memory, which nothing done to the file can change.
void InputContent::CheckUnchanged() const {}

// ---------------------------------------------------------------------------
// Processes

struct Process::Impl {
  HANDLE process = nullptr;
};

Process::Process(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Process::~Process() { CloseHandle(impl_->process); }

std::unique_ptr<Process> Process::Start(const Text& commandLine) {
  // CreateProcessA may write into the command line, so it gets its own copy.
  std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
  mutableLine.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &started)) {
    return nullptr;
  }
  CloseHandle(started.hThread);
  auto impl = std::make_unique<Impl>();
  impl->process = started.hProcess;
  return std::unique_ptr<Process>(new Process(std::move(impl)));
}

bool Process::WaitForExit(std::uint32_t milliseconds) {
  return WaitForSingleObject(impl_->process, milliseconds) != WAIT_TIMEOUT;
}

void PumpMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

}  // namespace quillane::platform
