// Files on POSIX: inputs read with pread and copied with copy_file_range,
// outputs built in a temporary file beside the target and renamed over it
// when complete.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
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
using posix::ToSize;

namespace {

constexpr char kChangedReason[] = "The file changed while it was being processed";

bool SameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Where data begins at or after `offset` (SEEK_DATA), capped at `end`: `end`
// when only a hole follows, `offset` itself where the file system cannot tell.
std::int64_t DataFrom(int descriptor, std::int64_t offset, std::int64_t end) {
  const off_t data = ::lseek(descriptor, offset, SEEK_DATA);
  if (data >= 0) return std::min<std::int64_t>(data, end);
  return errno == ENXIO ? end : offset;
}

// Where the data run that starts at `offset` ends (SEEK_HOLE), capped at `end`.
std::int64_t HoleFrom(int descriptor, std::int64_t offset, std::int64_t end) {
  const off_t hole = ::lseek(descriptor, offset, SEEK_HOLE);
  return hole > offset ? std::min<std::int64_t>(hole, end) : end;
}

// Reads at least this long first ask whether they fall into a hole.
constexpr std::int64_t kHoleCheckMinimum = std::int64_t{1} << 16;

// True when [offset, end) lies wholly in a hole of the file, which reads as
// zeroes: reading it would make the kernel fill page after page with them.
bool InHole(int descriptor, std::int64_t offset, std::int64_t end) {
  if (::lseek(descriptor, offset, SEEK_HOLE) != offset) return false;
  const off_t data = ::lseek(descriptor, offset, SEEK_DATA);
  if (data >= 0) return data >= end;
  // No data follows: the hole runs to the end of the file, which must still
  // reach `end` (a file cut short must fail the read).
  struct stat info {};
  return errno == ENXIO && ::fstat(descriptor, &info) == 0 && info.st_size >= end;
}

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

  // Opens Path and returns what fstat reports; throws the open error.
  struct stat Open() {
    const Text openError = "Cannot open file " + Quoted(FullPath) + ". ";
    Descriptor = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
    if (Descriptor < 0) throw Error(openError + PosixErrorText(errno));
    struct stat info {};
    int error = 0;
    if (::fstat(Descriptor, &info) != 0) {
      error = errno;
    } else if (S_ISDIR(info.st_mode)) {
      // Opening a folder for reading succeeds on POSIX; as input it is an error.
      error = EISDIR;
    }
    if (error != 0) {
      ::close(std::exchange(Descriptor, -1));
      throw Error(openError + PosixErrorText(error));
    }
    // The walk and the copy each read the file from start to end, at once
    // and through this one descriptor: told so, the kernel keeps reading
    // ahead for both, as cp asks it to. Without the advice, pages of a large
    // input that had left the page cache came back in small pieces, and some
    // runs on a 3 GB input took three times as long. Only a hint.
    ::posix_fadvise(Descriptor, 0, 0, POSIX_FADV_SEQUENTIAL);
    return info;
  }

  // After Close: the file is opened again and must be the version first seen.
  void EnsureOpen() {
    if (Descriptor >= 0) return;
    const struct stat info = Open();
    if (info.st_size != Size || !SameTime(info.st_mtim, ModifiedTime)) {
      ::close(std::exchange(Descriptor, -1));
      FailRead(kChangedReason);
    }
  }
};

InputFile::InputFile(const Text& path) : impl_(std::make_unique<Impl>()) {
  impl_->Path = path;
  impl_->FullPath = ExpandFileName(path);
  const struct stat info = impl_->Open();
  impl_->Size = info.st_size;
  impl_->ModifiedTime = info.st_mtim;
}

InputFile::~InputFile() {
  if (impl_->Descriptor >= 0) ::close(impl_->Descriptor);
}

std::int64_t InputFile::Size() const { return impl_->Size; }

const Text& InputFile::Path() const { return impl_->Path; }

void InputFile::ReadExactly(std::int64_t offset, char* buffer, std::int64_t count) const {
  impl_->EnsureOpen();
  if (count >= kHoleCheckMinimum && InHole(impl_->Descriptor, offset, offset + count)) {
    std::memset(buffer, 0, ToSize(count));
    return;
  }
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

void InputFile::CheckUnchanged() const {
  Impl& file = *impl_;
  file.EnsureOpen();
  struct stat info {};
  if (::fstat(file.Descriptor, &info) != 0) file.FailRead(PosixErrorText(errno));
  if (info.st_size != file.Size || !SameTime(info.st_mtim, file.ModifiedTime)) {
    file.FailRead(kChangedReason);
  }
}

void InputFile::Close() {
  if (impl_->Descriptor >= 0) ::close(std::exchange(impl_->Descriptor, -1));
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

void OutputFile::WriteAt(std::int64_t offset, const char* data, std::int64_t count) {
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t written =
        ::pwrite(impl_->Descriptor, data + done, ToSize(count - done), offset + done);
    if (written < 0) {
      if (errno == EINTR) continue;
      impl_->FailWrite(errno);
    }
    if (written == 0) impl_->FailWrite(ENOSPC);
    done += written;
  }
}

bool OutputFile::ReplacesTarget(const Text& path) {
  struct stat target {};
  if (::stat(path.c_str(), &target) != 0) return errno == ENOENT;
  return S_ISREG(target.st_mode);
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

bool OutputFile::CommitAsNew() {
  // A folder in the way fails as Commit fails ("Is a directory"), not as a
  // file that is there.
  struct stat target {};
  if (!impl_->WrittenThrough && ::stat(impl_->TargetPath.c_str(), &target) == 0 &&
      S_ISDIR(target.st_mode)) {
    Commit();
    return true;
  }
  const int descriptor = std::exchange(impl_->Descriptor, -1);
  if (::close(descriptor) != 0) impl_->FailWrite(errno);
  if (impl_->WrittenThrough) {
    impl_->Committed = true;
    return true;
  }
  const char* temporary = impl_->TemporaryPath.c_str();
  const char* name = impl_->TargetPath.c_str();
  if (::renameat2(AT_FDCWD, temporary, AT_FDCWD, name, RENAME_NOREPLACE) != 0) {
    if (errno == EEXIST) return false;
    // A file system without the flag: a hard link fails the same way when
    // the name is taken, and the temporary name goes afterwards.
    if (errno != EINVAL && errno != ENOSYS) impl_->FailWrite(errno);
    if (::link(temporary, name) != 0) {
      if (errno == EEXIST) return false;
      impl_->FailWrite(errno);
    }
    ::unlink(temporary);
  }
  impl_->Committed = true;
  return true;
}

// ---------------------------------------------------------------------------
// Temporary files

struct TemporaryFile::Impl {
  Text Folder;  // as messages name it
  int Descriptor = -1;
  std::int64_t Size = 0;

  [[noreturn]] void Fail(const char* what, int error) const {
    throw Error(Text(what) + " " + Quoted(Folder) + ". " + PosixErrorText(error));
  }
};

TemporaryFile::TemporaryFile() : impl_(std::make_unique<Impl>()) {
  Text folder = TemporaryDirectory();
  if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  impl_->Folder = folder;
  // A file without a name, where the file system allows it; otherwise one
  // named at random and unlinked at once.
  impl_->Descriptor = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (impl_->Descriptor < 0) {
    Text pattern = folder + "/.quillane-XXXXXX";
    impl_->Descriptor = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (impl_->Descriptor < 0) impl_->Fail("Cannot create file", errno);
    ::unlink(pattern.c_str());
  }
}

TemporaryFile::~TemporaryFile() {
  if (impl_->Descriptor >= 0) ::close(impl_->Descriptor);
}

void TemporaryFile::Write(const char* data, std::int64_t count) {
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t written =
        ::pwrite(impl_->Descriptor, data + done, ToSize(count - done), impl_->Size + done);
    if (written < 0) {
      if (errno == EINTR) continue;
      impl_->Fail("Cannot write file", errno);
    }
    if (written == 0) impl_->Fail("Cannot write file", ENOSPC);
    done += written;
  }
  impl_->Size += count;
}

void TemporaryFile::ReadAt(std::int64_t offset, char* buffer, std::int64_t count) const {
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t got =
        ::pread(impl_->Descriptor, buffer + done, ToSize(count - done), offset + done);
    if (got < 0) {
      if (errno == EINTR) continue;
      impl_->Fail("Cannot read file", errno);
    }
    if (got == 0) impl_->Fail("Cannot read file", EIO);
    done += got;
  }
}

std::int64_t TemporaryFile::Size() const { return impl_->Size; }

// ---------------------------------------------------------------------------
// Copies from an input into an output

void InputFile::CopyTo(OutputFile& output, std::int64_t offset, std::int64_t count) const {
  Impl& file = *impl_;
  OutputFile::Impl& target = *output.impl_;
  file.EnsureOpen();
  const std::int64_t end = offset + count;
  // A hole of the input becomes a hole of the output, as cp makes it: a
  // sparse document stays sparse and its hole is never read. Only a file of
  // our own can be given holes; a device or pipe gets the zeroes.
  bool endsInHole = false;
  while (!file.KernelCopyFailed && offset < end) {
    if (!target.WrittenThrough) {
      const std::int64_t data = DataFrom(file.Descriptor, offset, end);
      if (data > offset) {
        if (::lseek(target.Descriptor, data - offset, SEEK_CUR) < 0) target.FailWrite(errno);
        offset = data;
        endsInHole = true;
        continue;
      }
    }
    off64_t from = offset;
    const ssize_t copied =
        ::copy_file_range(file.Descriptor, &from, target.Descriptor, nullptr,
                          ToSize(HoleFrom(file.Descriptor, offset, end) - offset), 0);
    if (copied > 0) {
      offset += copied;
      endsInHole = false;
    } else if (copied == 0 || errno != EINTR) {
      // Refused (EXDEV between some file systems, ENOSYS or EINVAL on older
      // kernels and special files) or cut short: the rest goes through
      // memory, which also reports the real cause of a lasting error.
      file.KernelCopyFailed = true;
    }
  }
  // A skipped hole at the end must still count in the output's size.
  if (endsInHole) {
    const off_t position = ::lseek(target.Descriptor, 0, SEEK_CUR);
    if (position < 0 || ::ftruncate(target.Descriptor, position) != 0) target.FailWrite(errno);
  }
  CopyThroughMemory(*this, output, offset, end - offset);
}

}  // namespace quillane::platform
