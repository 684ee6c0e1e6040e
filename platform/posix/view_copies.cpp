// The folder of the "/tempexec" copies on POSIX: "quillane-<uid>" inside the
// shared temporary folder, where any user may have created the name first, so
// it is used only as a real folder owned by the user, never through a link.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "base/error.h"
#include "platform/platform.h"
#include "platform/posix/posix_util.h"

namespace quillane::platform {

using posix::PosixErrorText;
using posix::Quoted;

namespace {

// ViewCopyDirectory() without its final "/", as system calls and messages
// take it.
Text ViewCopyFolder() {
  Text folder = ViewCopyDirectory();
  folder.pop_back();
  return folder;
}

bool IsOwnFolder(const struct stat& info) {
  return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid();
}

}  // namespace

Text ViewCopyDirectory() {
  return TemporaryDirectory() + "quillane-" + IntToText(static_cast<std::int64_t>(::geteuid())) +
         "/";
}

void CreateViewCopyDirectory() {
  const Text folder = ViewCopyFolder();
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    throw Error("Cannot create folder " + Quoted(folder) + ". " + PosixErrorText(errno));
  }
  // lstat: a link is refused, not followed, whoever owns its target.
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0) {
    throw Error("Cannot create folder " + Quoted(folder) + ". " + PosixErrorText(errno));
  }
  if (!IsOwnFolder(info)) {
    throw Error("Cannot use folder " + Quoted(folder) +
                ". It is a symbolic link or not a folder owned by the current user");
  }
}

std::vector<Text> RemoveViewCopiesOlderThan(std::chrono::seconds maxAge) {
  const Text folder = ViewCopyFolder();
  // The folder is opened once, without following a link, and every name is
  // looked up and removed relative to that open folder, so a folder swapped
  // in meanwhile is never reached.
  const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (descriptor < 0) return {};
  struct stat info {};
  if (::fstat(descriptor, &info) != 0 || !IsOwnFolder(info)) {
    ::close(descriptor);
    return {};
  }
  DIR* directory = ::fdopendir(descriptor);
  if (directory == nullptr) {
    ::close(descriptor);
    return {};
  }
  const std::time_t now = std::time(nullptr);
  std::vector<Text> removed;
  while (const dirent* entry = ::readdir(directory)) {
    struct stat file {};
    if (::fstatat(descriptor, entry->d_name, &file, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(file.st_mode) || now - file.st_mtime <= maxAge.count()) {
      continue;
    }
    if (::unlinkat(descriptor, entry->d_name, 0) == 0) {
      removed.push_back(folder + "/" + entry->d_name);
    }
  }
  ::closedir(directory);
  return removed;
}

void RestrictToOwner(const Text& path) { ::chmod(path.c_str(), 0600); }

}  // namespace quillane::platform
