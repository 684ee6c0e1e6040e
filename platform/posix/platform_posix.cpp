// The platform seam on POSIX systems: the registry is a text file in regedit's
// export format, message boxes are lines on standard error, and the reader is
// started with posix_spawnp.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>

#include "platform/command_line.h"
#include "platform/posix/desktop_association.h"
#include "platform/platform.h"
#include "platform/posix/registry_file.h"
#include "base/error.h"

extern char** environ;

namespace quillane::platform {

namespace {

// ---------------------------------------------------------------------------
// Helpers

// The system's text for an error number, as every file message shows it.
Text OsErrorText(int error) { return std::strerror(error); }

Text Quoted(const Text& text) { return "\"" + text + "\""; }

// The one place where the seam's 64-bit counts become the sizes that the C
// interfaces take. REQUIRES: value >= 0.
std::size_t ToSize(std::int64_t value) { return static_cast<std::size_t>(value); }
std::int64_t ToInt64(std::size_t value) { return static_cast<std::int64_t>(value); }

// The folder part of a path ("." when there is none) and the part after it.
std::pair<Text, Text> SplitFolder(const Text& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == Text::npos) return {".", path};
  return {slash == 0 ? Text("/") : path.substr(0, slash), path.substr(slash + 1)};
}

// Creates a folder and its missing parents; failures show later, when the
// file inside cannot be created.
void CreateFolders(const Text& folder) {
  for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    const Text part = folder.substr(0, slash);
    if (!part.empty()) ::mkdir(part.c_str(), 0777);
    if (slash == Text::npos) break;
  }
}

// ---------------------------------------------------------------------------
// Registry file

const char kCurrentUserName[] = "HKEY_CURRENT_USER";
const char kClassesRootName[] = "HKEY_CLASSES_ROOT";

bool IsAbsolutePath(const Text& path) { return !path.empty() && path[0] == '/'; }

Text HomeDirectory() { return GetEnvironment("HOME"); }

Text RegistryFilePath() {
  Text own = GetEnvironment("QUILLANE_REGISTRY");
  if (!own.empty()) return own;
  // Relative XDG directories are invalid and to be ignored.
  const Text configHome = GetEnvironment("XDG_CONFIG_HOME");
  if (IsAbsolutePath(configHome)) return configHome + "/quillane/registry.reg";
  return HomeDirectory() + "/.config/quillane/registry.reg";
}

// The registry file's content; a missing file is an empty registry, while
// every other failure (a folder, no access, a malformed line) is an error.
RegistryFile LoadRegistryFile(const Text& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 && errno == ENOENT) return RegistryFile{};
  return RegistryFile::Parse(ReadWholeFile(path), path);
}

void SaveRegistryFile(const Text& path, const RegistryFile& file) {
  CreateFolders(SplitFolder(path).first);
  const Text content = file.Write();
  OutputFile output(path);
  output.Write(content.data(), ToInt64(content.size()));
  output.Commit();
}

// Joins the components of a key path, dropping empty ones, so "a\\b\" is a\b.
Text NormaliseKeyPath(const Text& path) {
  Text result;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == Text::npos) end = path.size();
    if (end > start) {
      if (!result.empty()) result += '\\';
      result += path.substr(start, end - start);
    }
    start = end + 1;
  }
  return result;
}

Text RegistryErrorName(const Text& what, const Text& name) { return what + " '" + name + "'"; }

}  // namespace

// ---------------------------------------------------------------------------
// Registry

struct Registry::Impl {
  RegistryRoot Root;
  bool IsOpen = false;
  Text CurrentPath;  // below the root, components separated by "\"; empty: the root
  Text FilePath;     // the registry file as found at the last open
  RegistryFile Snapshot;
  // What the desktop's PDF association supplies for the open key; the file's
  // own values come first.
  std::vector<RegistryValue> Supplied;

  Text FullPath(const Text& relative) const {
    const Text rootName = Root == RegistryRoot::kCurrentUser ? kCurrentUserName : kClassesRootName;
    return relative.empty() ? rootName : rootName + "\\" + relative;
  }

  bool OpenPath(const Text& path, bool create);

  const RegistryValue* Find(const Text& name) const {
    if (!IsOpen) return nullptr;
    if (const RegistryValue* value = Snapshot.FindValue(FullPath(CurrentPath), name)) return value;
    for (const RegistryValue& value : Supplied) {
      if (SameRegistryName(value.Name, name)) return &value;
    }
    return nullptr;
  }
};

bool Registry::Impl::OpenPath(const Text& path, bool create) {
  // A path is relative to the open key unless it begins with "\".
  Text relative;
  if (!path.empty() && path[0] == '\\') {
    relative = NormaliseKeyPath(path.substr(1));
  } else {
    relative = NormaliseKeyPath(IsOpen ? CurrentPath + "\\" + path : path);
  }
  const Text filePath = RegistryFilePath();
  RegistryFile file = LoadRegistryFile(filePath);
  const Text full = FullPath(relative);
  const std::optional<SuppliedValues> supplied = DesktopRegistryKey(
      XdgDirectories::FromEnvironment(), Root == RegistryRoot::kClassesRoot, relative);
  if (!relative.empty() && !file.KeyExists(full) && !supplied) {
    if (!create || !IsWritableKeyPath(full)) return false;
    // The real registry creates a key at once, so the file is written now.
    file.AddKey(full);
    try {
      SaveRegistryFile(filePath, file);
    } catch (const Error&) {
      return false;
    }
  }
  // As with the framework's accessor, a failed open above leaves the key that
  // was open before.
  IsOpen = true;
  CurrentPath = relative;
  FilePath = filePath;
  Snapshot = std::move(file);
  Supplied.clear();
  if (supplied) {
    for (const auto& [name, text] : *supplied) Supplied.push_back({name, kRegSz, text, {}});
  }
  return true;
}

Registry::Registry(RegistryRoot root) : impl_(std::make_unique<Impl>()) { impl_->Root = root; }

Registry::~Registry() = default;

bool Registry::OpenKey(const Text& path, bool create) { return impl_->OpenPath(path, create); }

bool Registry::OpenKeyReadOnly(const Text& path) { return impl_->OpenPath(path, false); }

void Registry::CloseKey() {
  impl_->IsOpen = false;
  impl_->CurrentPath.clear();
  impl_->Snapshot = RegistryFile{};
  impl_->Supplied.clear();
}

bool Registry::ValueExists(const Text& name) { return impl_->Find(name) != nullptr; }

Text Registry::ReadString(const Text& name) {
  const RegistryValue* value = impl_->Find(name);
  if (value == nullptr || value->Data.empty()) return "";
  Text text;
  if (value->Type == kRegSz) {
    text = value->Data;
  } else if (value->Type == kRegExpandSz) {
    text = Utf16LeToUtf8(value->Data);
  } else {
    throw Error(RegistryErrorName("Invalid data type for", name));
  }
  return text.substr(0, text.find('\0'));
}

bool Registry::ReadBool(const Text& name) {
  const RegistryValue* value = impl_->Find(name);
  // An absent value fails like a query with a four-byte buffer that is too
  // small: the registry reports no data.
  if (value == nullptr || value->Data.size() > 4) {
    throw Error(RegistryErrorName("Failed to get data for", name));
  }
  if (value->Type != kRegDword) throw Error(RegistryErrorName("Invalid data type for", name));
  return value->Data.find_first_not_of('\0') != Text::npos;
}

void Registry::WriteString(const Text& name, const Text& value) {
  const Text failed = RegistryErrorName("Failed to set data for", name);
  if (!impl_->IsOpen || !IsWritableValueName(name)) throw Error(failed);
  try {
    // Read again so that nothing written to the file since the open is lost.
    RegistryFile file = LoadRegistryFile(impl_->FilePath);
    file.SetValue(impl_->FullPath(impl_->CurrentPath), name, kRegSz, value);
    SaveRegistryFile(impl_->FilePath, file);
    impl_->Snapshot = std::move(file);
  } catch (const Error&) {
    throw Error(failed);
  }
}

// ---------------------------------------------------------------------------
// Message boxes

void ShowMessageBox(const Text& text, MessageIcon /*icon*/, bool /*applicationOwned*/) {
  const Text line = "Quillane: " + text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void ShowErrorBox(const Text& message) {
  Text text = message;
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
  ShowMessageBox(text, MessageIcon::kError, true);
}

int ExitCodeAfterError() { return 1; }

// ---------------------------------------------------------------------------
// Process environment and paths

std::vector<Text> CommandLineArguments(int argc, char** argv) {
  std::vector<Text> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  return arguments;
}

Text ExecutablePath() {
  std::vector<char> buffer(256);
  while (true) {
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return "";
    if (static_cast<std::size_t>(length) < buffer.size()) {
      return Text(buffer.data(), static_cast<std::size_t>(length));
    }
    buffer.resize(buffer.size() * 2);
  }
}

Text TemporaryDirectory() {
  Text folder = GetEnvironment("TMPDIR");
  if (folder.empty()) folder = "/tmp";
  if (folder.back() != '/') folder += '/';
  return folder;
}

bool IsPathSeparator(char c) { return c == '/'; }

bool FileExists(const Text& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

void DeleteFile(const Text& path) { ::unlink(path.c_str()); }

Text ExpandFileName(const Text& path) {
  Text absolute = path;
  if (!IsAbsolutePath(path)) {
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
      if (errno != ERANGE) return path;
      buffer.resize(buffer.size() * 2);
    }
    absolute = Text(buffer.data()) + "/" + path;
  }
  // Resolve "." and ".." by name only; symbolic links stay as written.
  std::vector<Text> parts;
  std::size_t start = 0;
  while (start <= absolute.size()) {
    std::size_t end = absolute.find('/', start);
    if (end == Text::npos) end = absolute.size();
    const Text part = absolute.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  Text result;
  for (const Text& part : parts) result += "/" + part;
  if (result.empty()) return "/";
  // A folder named with its final separator keeps it, as on Windows.
  if (absolute.back() == '/') result += '/';
  return result;
}

Text GetEnvironment(const Text& name) {
  const char* value = std::getenv(name.c_str());
  return value == nullptr ? Text() : Text(value);
}

Text LowerCase(const Text& text) {
  Text lower = text;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// ---------------------------------------------------------------------------
// Files

struct InputFile::Impl {
  Text Path;
  Text FullPath;
  int Descriptor = -1;
  std::int64_t Size = 0;
};

InputFile::InputFile(const Text& path) : impl_(std::make_unique<Impl>()) {
  impl_->Path = path;
  impl_->FullPath = ExpandFileName(path);
  const Text openError = "Cannot open file " + Quoted(impl_->FullPath) + ". ";
  impl_->Descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (impl_->Descriptor < 0) throw Error(openError + OsErrorText(errno));
  struct stat info {};
  int error = 0;
  if (::fstat(impl_->Descriptor, &info) != 0) {
    error = errno;
  } else if (S_ISDIR(info.st_mode)) {
    // Opening a folder for reading succeeds on POSIX; as input it is an error.
    error = EISDIR;
  }
  if (error != 0) {
    ::close(impl_->Descriptor);
    throw Error(openError + OsErrorText(error));
  }
  impl_->Size = info.st_size;
}

InputFile::~InputFile() { ::close(impl_->Descriptor); }

std::int64_t InputFile::Size() const { return impl_->Size; }

const Text& InputFile::Path() const { return impl_->Path; }

void InputFile::ReadExactly(std::int64_t offset, char* buffer, std::int64_t count) {
  const Text readError = "Cannot read file " + Quoted(impl_->FullPath) + ". ";
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t got =
        ::pread(impl_->Descriptor, buffer + done, ToSize(count - done), offset + done);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw Error(readError + OsErrorText(errno));
    }
    if (got == 0) throw Error(readError + "The file ended before its expected size");
    done += got;
  }
}

Text ReadWholeFile(const Text& path) {
  InputFile file(path);
  Text content(ToSize(file.Size()), '\0');
  file.ReadExactly(0, content.data(), file.Size());
  return content;
}

namespace {

// The temporary files of OutputFile objects alive in this process: a file
// named with this process's own id is stale only when it is not among them.
std::mutex liveTemporariesMutex;
std::set<Text> liveTemporaries;

bool IsLiveTemporary(const Text& path) {
  std::lock_guard<std::mutex> lock(liveTemporariesMutex);
  return liveTemporaries.count(path) != 0;
}

void SetLiveTemporary(const Text& path, bool live) {
  std::lock_guard<std::mutex> lock(liveTemporariesMutex);
  if (live) {
    liveTemporaries.insert(path);
  } else {
    liveTemporaries.erase(path);
  }
}

// Removes the temporaries that runs killed while writing the same output left
// behind: ".<name>.quillane-<pid>.tmp" whose process no longer exists.
void RemoveStaleTemporaries(const Text& folder, const Text& name) {
  const Text prefix = "." + name + ".quillane-";
  const Text suffix = ".tmp";
  DIR* directory = ::opendir(folder.c_str());
  if (directory == nullptr) return;
  std::vector<Text> stale;
  while (const dirent* entry = ::readdir(directory)) {
    const Text entryName = entry->d_name;
    if (entryName.size() <= prefix.size() + suffix.size() ||
        entryName.compare(0, prefix.size(), prefix) != 0 || !EndsWith(entryName, suffix)) {
      continue;
    }
    const Text digits =
        entryName.substr(prefix.size(), entryName.size() - prefix.size() - suffix.size());
    if (digits.size() > 9 || digits.find_first_not_of("0123456789") != Text::npos) continue;
    pid_t pid = 0;
    for (char digit : digits) pid = pid * 10 + (digit - '0');
    const Text path = folder + "/" + entryName;
    if (pid <= 0) continue;
    const bool dead =
        pid == ::getpid() ? !IsLiveTemporary(path) : (::kill(pid, 0) != 0 && errno == ESRCH);
    if (dead) stale.push_back(path);
  }
  ::closedir(directory);
  for (const Text& path : stale) ::unlink(path.c_str());
}

}  // namespace

struct OutputFile::Impl {
  Text FullPath;
  Text TargetPath;
  Text TemporaryPath;
  int Descriptor = -1;
  bool Committed = false;
  // The output is an existing device, pipe or socket, written directly.
  bool WrittenThrough = false;

  [[noreturn]] void FailWrite(int error) const {
    throw Error("Cannot write file " + Quoted(FullPath) + ". " + OsErrorText(error));
  }
};

OutputFile::OutputFile(const Text& path) : impl_(std::make_unique<Impl>()) {
  impl_->FullPath = ExpandFileName(path);
  impl_->TargetPath = path;
  // Renaming a new file over a device, a pipe or a socket would replace the
  // node itself (as root, /dev/null with a regular file); those are written
  // directly, as there is no old content to keep whole.
  struct stat target {};
  if (::stat(path.c_str(), &target) == 0 && !S_ISREG(target.st_mode) && !S_ISDIR(target.st_mode)) {
    impl_->Descriptor = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (impl_->Descriptor < 0) {
      throw Error("Cannot create file " + Quoted(impl_->FullPath) + ". " + OsErrorText(errno));
    }
    impl_->WrittenThrough = true;
    return;
  }
  const auto [folder, name] = SplitFolder(path);
  RemoveStaleTemporaries(folder, name);
  impl_->TemporaryPath = folder + "/." + name + ".quillane-" +
                         IntToText(static_cast<std::int64_t>(::getpid())) + ".tmp";
  impl_->Descriptor =
      ::open(impl_->TemporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (impl_->Descriptor < 0) {
    throw Error("Cannot create file " + Quoted(impl_->FullPath) + ". " + OsErrorText(errno));
  }
  SetLiveTemporary(impl_->TemporaryPath, true);
  // A replaced file keeps its permissions, as it would if written in place.
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
    ::fchmod(impl_->Descriptor, info.st_mode & 07777);
  }
}

OutputFile::~OutputFile() {
  if (impl_->Descriptor >= 0) ::close(impl_->Descriptor);
  if (impl_->WrittenThrough) return;
  if (!impl_->Committed) ::unlink(impl_->TemporaryPath.c_str());
  SetLiveTemporary(impl_->TemporaryPath, false);
}

void OutputFile::Write(const char* data, std::int64_t count) {
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t written = ::write(impl_->Descriptor, data + done, ToSize(count - done));
    if (written < 0) {
      if (errno == EINTR) continue;
      impl_->FailWrite(errno);
    }
    // A write that makes no progress would loop for ever; a full disk is the
    // usual reason.
    if (written == 0) impl_->FailWrite(ENOSPC);
    done += written;
  }
}

void OutputFile::Commit() {
  const int descriptor = std::exchange(impl_->Descriptor, -1);
  // close reports the errors of writes that the file system deferred.
  if (::close(descriptor) != 0) impl_->FailWrite(errno);
  if (impl_->WrittenThrough) {
    impl_->Committed = true;
    return;
  }
  if (::rename(impl_->TemporaryPath.c_str(), impl_->TargetPath.c_str()) != 0) {
    impl_->FailWrite(errno);
  }
  impl_->Committed = true;
}

// ---------------------------------------------------------------------------
// Input content

namespace {

constexpr char kChangedReason[] = "The file changed while it was being processed";

// A mapped input whose file another process shortens raises SIGBUS when a
// page beyond the new end is touched, and so does a page that cannot be read.
// The handler puts zero-filled memory in place of the rest of that mapping and
// marks it, so the run goes on to CheckUnchanged and fails with a message
// instead of being killed. The handler reads the slots, hence lock-free
// atomics; a mapping that finds no free slot goes unguarded.
struct GuardedMapping {
  std::atomic<std::uintptr_t> Begin{0};
  std::atomic<std::uintptr_t> End{0};
  std::atomic<bool> Faulted{false};
};

constexpr int kGuardedMappings = 16;
GuardedMapping guardedMappings[kGuardedMappings];
std::uintptr_t guardPageSize = 4096;
struct sigaction previousBusAction {};

void OnBusError(int /*signal*/, siginfo_t* info, void* /*context*/) {
  const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  for (GuardedMapping& mapping : guardedMappings) {
    const std::uintptr_t begin = mapping.Begin.load();
    const std::uintptr_t end = mapping.End.load();
    if (begin == 0 || address < begin || address >= end) continue;
    const std::uintptr_t page = address - (address - begin) % guardPageSize;
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the faulting address comes as a number.
    void* zeroes = ::mmap(reinterpret_cast<void*>(page), end - page, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    if (zeroes == MAP_FAILED) break;
    mapping.Faulted.store(true);
    return;
  }
  // Not ours: the access is retried under the disposition found at install.
  ::sigaction(SIGBUS, &previousBusAction, nullptr);
}

GuardedMapping* GuardMapping(const char* data, std::int64_t size) {
  static const bool installed = [] {
    guardPageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    return ::sigaction(SIGBUS, &action, &previousBusAction) == 0;
  }();
  if (!installed) return nullptr;
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t length = (ToSize(size) + guardPageSize - 1) / guardPageSize * guardPageSize;
  for (GuardedMapping& slot : guardedMappings) {
    std::uintptr_t expected = 0;
    if (!slot.Begin.compare_exchange_strong(expected, begin)) continue;
    slot.Faulted.store(false);
    slot.End.store(begin + length);
    return &slot;
  }
  return nullptr;
}

void ReleaseGuard(GuardedMapping* slot) {
  if (slot == nullptr) return;
  slot->End.store(0);
  slot->Begin.store(0);
}

}  // namespace

struct InputContent::Impl {
  std::unique_ptr<InputFile> File;
  Text FullPath;
  int Descriptor = -1;
  char* Data = nullptr;
  std::int64_t Size = 0;
  // Non-zero while the content is a mapping of the file; otherwise it is a
  // copy in `Buffer` and nothing done to the file can affect it.
  std::size_t MappedLength = 0;
  std::unique_ptr<char[]> Buffer;
  GuardedMapping* Guard = nullptr;
  timespec ModifiedTime{};
  bool KernelCopyFailed = false;

  [[noreturn]] void FailRead(const Text& reason) const {
    throw Error("Cannot read file " + Quoted(FullPath) + ". " + reason);
  }
};

InputContent::InputContent(std::unique_ptr<InputFile> file) : impl_(std::make_unique<Impl>()) {
  Impl& content = *impl_;
  content.FullPath = file->impl_->FullPath;
  content.Descriptor = file->impl_->Descriptor;
  content.Size = file->impl_->Size;
  content.File = std::move(file);
  struct stat info {};
  if (::fstat(content.Descriptor, &info) != 0) content.FailRead(OsErrorText(errno));
  if (S_ISREG(info.st_mode) && info.st_size != content.Size) content.FailRead(kChangedReason);
  content.ModifiedTime = info.st_mtim;
  if (content.Size == 0) return;

  void* mapping = ::mmap(nullptr, ToSize(content.Size), PROT_READ | PROT_WRITE, MAP_PRIVATE,
                         content.Descriptor, 0);
  if (mapping == MAP_FAILED) {
    // Not every file can be mapped (some special and network file systems):
    // such a file is read whole instead.
    content.Buffer = std::make_unique_for_overwrite<char[]>(ToSize(content.Size));
    content.File->ReadExactly(0, content.Buffer.get(), content.Size);
    content.Data = content.Buffer.get();
    return;
  }
  content.Data = static_cast<char*>(mapping);
  content.MappedLength = ToSize(content.Size);
  content.Guard = GuardMapping(content.Data, content.Size);
  // Faulting every page in at once is cheaper than one fault per page during
  // the walk. MAP_POPULATE cannot be used: on a writable private mapping it
  // copies every page. Older kernels refuse the advice; it is only a hint.
  ::madvise(mapping, content.MappedLength, MADV_POPULATE_READ);
}

InputContent::~InputContent() {
  ReleaseGuard(impl_->Guard);
  if (impl_->MappedLength != 0) ::munmap(impl_->Data, impl_->MappedLength);
}

char* InputContent::Data() { return impl_->Data; }

const char* InputContent::Data() const { return impl_->Data; }

std::int64_t InputContent::Size() const { return impl_->Size; }

void InputContent::CopyUnchangedTo(OutputFile& output, std::int64_t offset, std::int64_t count) {
  Impl& content = *impl_;
  while (content.MappedLength != 0 && !content.KernelCopyFailed && count > 0) {
    off64_t from = offset;
    const ssize_t copied = ::copy_file_range(content.Descriptor, &from, output.impl_->Descriptor,
                                             nullptr, ToSize(count), 0);
    if (copied > 0) {
      offset += copied;
      count -= copied;
    } else if (copied == 0 || errno != EINTR) {
      // Refused (EXDEV between some file systems, ENOSYS or EINVAL on older
      // kernels and special files) or cut short: the rest is written from
      // memory, which also reports the real cause of a lasting error.
      content.KernelCopyFailed = true;
    }
  }
  output.Write(content.Data + offset, count);
}

void InputContent::CheckUnchanged() const {
  const Impl& content = *impl_;
  // A copy in memory cannot change; only a mapping shows the file as it is.
  if (content.MappedLength == 0) return;
  struct stat info {};
  if (::fstat(content.Descriptor, &info) != 0) content.FailRead(OsErrorText(errno));
  if (info.st_size != content.Size || info.st_mtim.tv_sec != content.ModifiedTime.tv_sec ||
      info.st_mtim.tv_nsec != content.ModifiedTime.tv_nsec) {
    content.FailRead(kChangedReason);
  }
  if (content.Guard != nullptr && content.Guard->Faulted.load()) content.FailRead(OsErrorText(EIO));
}

// ---------------------------------------------------------------------------
// Processes

struct Process::Impl {
  pid_t Pid = -1;
  bool Ended = false;

  // Reaps the child when it has ended; true once it has, or when it cannot be
  // waited for at all.
  bool Poll() {
    while (!Ended) {
      int status = 0;
      const pid_t result = ::waitpid(Pid, &status, WNOHANG);
      if (result == 0) return false;
      if (result < 0 && errno == EINTR) continue;
      Ended = true;
    }
    return true;
  }
};

Process::Process(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Process::~Process() {
  // The child runs on; a child that has ended already is reaped here.
  impl_->Poll();
}

std::unique_ptr<Process> Process::Start(const Text& commandLine) {
  std::vector<Text> arguments = SplitCommandLine(commandLine);
  if (arguments.empty()) return nullptr;
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (Text& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  auto impl = std::make_unique<Impl>();
  if (::posix_spawnp(&impl->Pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
    return nullptr;
  }
  return std::unique_ptr<Process>(new Process(std::move(impl)));
}

bool Process::WaitForExit(std::uint32_t milliseconds) {
  constexpr auto kPollInterval = std::chrono::milliseconds(5);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (!impl_->Poll()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(kPollInterval, deadline - now));
  }
  return true;
}

void PumpMessages() {}

}  // namespace quillane::platform
