// Files on POSIX: inputs read with pread or mapped privately, outputs built in
// a temporary file beside the target and renamed over it when complete.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <set>
#include <utility>

#include "base/error.h"
#include "platform/file_copies.h"
#include "platform/platform.h"
#include "platform/posix/posix_util.h"

namespace quillane::platform {

using posix::PosixErrorText;
using posix::Quoted;
using posix::ToInt64;
using posix::ToSize;

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

// The file's bytes as a private mapping: pages are shared with the page cache
// until written, and writes stay in this process.
class MappedFile final : public MappedBytes {
 public:
  MappedFile(char* data, std::size_t length, Text fullPath)
      : data_(data), length_(length), fullPath_(std::move(fullPath)) {
    guard_ = GuardMapping(data_, ToInt64(length_));
    // Faulting every page in at once is cheaper than one fault per page during
    // the walk. MAP_POPULATE cannot be used: on a writable private mapping it
    // copies every page. Older kernels refuse the advice; it is only a hint.
    ::madvise(data_, length_, MADV_POPULATE_READ);
  }
  ~MappedFile() override {
    ReleaseGuard(guard_);
    ::munmap(data_, length_);
  }

  char* Data() override { return data_; }
  bool ViewsFile() const override { return true; }
  void CheckReadable() const override {
    if (guard_ != nullptr && guard_->Faulted.load()) {
      throw Error("Cannot read file " + Quoted(fullPath_) + ". " + PosixErrorText(EIO));
    }
  }

 private:
  char* data_;
  std::size_t length_;
  Text fullPath_;
  GuardedMapping* guard_ = nullptr;
};

}  // namespace

// ---------------------------------------------------------------------------
// Input files

struct InputFile::Impl {
  Text Path;
  Text FullPath;
  int Descriptor = -1;
  std::int64_t Size = 0;
  timespec ModifiedTime{};
  // The kernel refused to copy from this file once; later copies go through
  // memory at once.
  bool KernelCopyFailed = false;

  [[noreturn]] void FailRead(const Text& reason) const {
    throw Error("Cannot read file " + Quoted(FullPath) + ". " + reason);
  }
};

InputFile::InputFile(const Text& path) : impl_(std::make_unique<Impl>()) {
  impl_->Path = path;
  impl_->FullPath = ExpandFileName(path);
  const Text openError = "Cannot open file " + Quoted(impl_->FullPath) + ". ";
  impl_->Descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (impl_->Descriptor < 0) throw Error(openError + PosixErrorText(errno));
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
    throw Error(openError + PosixErrorText(error));
  }
  impl_->Size = info.st_size;
  impl_->ModifiedTime = info.st_mtim;
}

InputFile::~InputFile() { ::close(impl_->Descriptor); }

std::int64_t InputFile::Size() const { return impl_->Size; }

const Text& InputFile::Path() const { return impl_->Path; }

void InputFile::ReadExactly(std::int64_t offset, char* buffer, std::int64_t count) const {
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t got =
        ::pread(impl_->Descriptor, buffer + done, ToSize(count - done), offset + done);
    if (got < 0) {
      if (errno == EINTR) continue;
      impl_->FailRead(PosixErrorText(errno));
    }
    if (got == 0) impl_->FailRead("The file ended before its expected size");
    done += got;
  }
}

std::unique_ptr<MappedBytes> InputFile::Map() const {
  const Impl& file = *impl_;
  struct stat info {};
  if (::fstat(file.Descriptor, &info) != 0) file.FailRead(PosixErrorText(errno));
  if (S_ISREG(info.st_mode) && info.st_size != file.Size) file.FailRead(kChangedReason);
  if (file.Size == 0) return std::make_unique<CopiedBytes>(nullptr);
  void* mapping =
      ::mmap(nullptr, ToSize(file.Size), PROT_READ | PROT_WRITE, MAP_PRIVATE, file.Descriptor, 0);
  if (mapping == MAP_FAILED) {
    // Not every file can be mapped (some special and network file systems):
    // such a file is read whole instead.
    return CopyIntoMemory(*this);
  }
  return std::make_unique<MappedFile>(static_cast<char*>(mapping), ToSize(file.Size),
                                      file.FullPath);
}

void InputFile::CheckUnchanged() const {
  const Impl& file = *impl_;
  struct stat info {};
  if (::fstat(file.Descriptor, &info) != 0) file.FailRead(PosixErrorText(errno));
  if (info.st_size != file.Size || info.st_mtim.tv_sec != file.ModifiedTime.tv_sec ||
      info.st_mtim.tv_nsec != file.ModifiedTime.tv_nsec) {
    file.FailRead(kChangedReason);
  }
}

// ---------------------------------------------------------------------------
// Output files

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
    throw Error("Cannot write file " + Quoted(FullPath) + ". " + PosixErrorText(error));
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
      throw Error("Cannot create file " + Quoted(impl_->FullPath) + ". " + PosixErrorText(errno));
    }
    impl_->WrittenThrough = true;
    return;
  }
  const auto [folder, name] = posix::SplitFolder(path);
  RemoveStaleTemporaries(folder, name);
  impl_->TemporaryPath = folder + "/." + name + ".quillane-" +
                         IntToText(static_cast<std::int64_t>(::getpid())) + ".tmp";
  impl_->Descriptor =
      ::open(impl_->TemporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (impl_->Descriptor < 0) {
    throw Error("Cannot create file " + Quoted(impl_->FullPath) + ". " + PosixErrorText(errno));
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

namespace {

// fsync that counts a file system which cannot sync (EINVAL) as done.
int SyncDescriptor(int descriptor) {
  return ::fsync(descriptor) == 0 || errno == EINVAL ? 0 : errno;
}

// Makes a rename inside `folder` durable; the error number, or 0.
int SyncFolder(const Text& folder) {
  const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) return errno;
  const int error = SyncDescriptor(descriptor);
  ::close(descriptor);
  return error;
}

}  // namespace

void OutputFile::Commit() {
  const int descriptor = std::exchange(impl_->Descriptor, -1);
  // A rename may reach the disk before the data it points at: after a power
  // cut the replaced file could be empty. So when a file is replaced its new
  // data is synced before the rename, and the folder after it; a new file
  // replaces nothing and keeps the speed of an unsynced write.
  struct stat target {};
  const bool replaces = !impl_->WrittenThrough && ::stat(impl_->TargetPath.c_str(), &target) == 0 &&
                        S_ISREG(target.st_mode);
  if (replaces) {
    if (const int error = SyncDescriptor(descriptor); error != 0) {
      ::close(descriptor);
      impl_->FailWrite(error);
    }
  }
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
  if (replaces) {
    if (const int error = SyncFolder(posix::SplitFolder(impl_->TargetPath).first); error != 0) {
      impl_->FailWrite(error);
    }
  }
}

// ---------------------------------------------------------------------------
// Copies from an input into an output

void InputFile::CopyTo(OutputFile& output, std::int64_t offset, std::int64_t count) const {
  Impl& file = *impl_;
  while (!file.KernelCopyFailed && count > 0) {
    off64_t from = offset;
    const ssize_t copied = ::copy_file_range(file.Descriptor, &from, output.impl_->Descriptor,
                                             nullptr, ToSize(count), 0);
    if (copied > 0) {
      offset += copied;
      count -= copied;
    } else if (copied == 0 || errno != EINTR) {
      // Refused (EXDEV between some file systems, ENOSYS or EINVAL on older
      // kernels and special files) or cut short: the rest goes through
      // memory, which also reports the real cause of a lasting error.
      file.KernelCopyFailed = true;
    }
  }
  CopyThroughMemory(*this, output, offset, count);
}

}  // namespace quillane::platform
