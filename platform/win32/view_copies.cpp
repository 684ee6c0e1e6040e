// The folder of the "/tempexec" copies on Windows: "Quillane" inside the
// user's own temporary folder, so that copies left for a reader can be found
// and removed by a later run.
#include "base/error.h"
#include "platform/platform.h"
#include "platform/win32/win32_util.h"

namespace quillane::platform {

using win32::FileSystemPath;
using win32::kLongestPlainFolderPath;
using win32::ToUtf8;
using win32::WindowsErrorText;

namespace {

// File times count 100-nanosecond intervals.
std::int64_t FileTimeTicks(const FILETIME& time) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                   time.dwLowDateTime);
}

}  // namespace

Text ViewCopyDirectory() { return TemporaryDirectory() + "Quillane\\"; }

void CreateViewCopyDirectory() {
  Text folder = ViewCopyDirectory();
  folder.pop_back();
  const auto name = FileSystemPath(folder, kLongestPlainFolderPath);
  // A name that is not well-formed UTF-8 names no folder that can be made.
  if (!name) {
    throw Error("Cannot create folder \"" + folder + "\". " + WindowsErrorText(ERROR_INVALID_NAME));
  }
  if (CreateDirectoryW(name->c_str(), nullptr)) return;
  const DWORD error = GetLastError();
  const DWORD attributes = GetFileAttributesW(name->c_str());
  if (error == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return;
  }
  throw Error("Cannot create folder \"" + folder + "\". " + WindowsErrorText(error));
}

std::vector<Text> RemoveViewCopiesOlderThan(std::chrono::seconds maxAge) {
  const Text folder = ViewCopyDirectory();
  const auto pattern = FileSystemPath(folder + "*");
  if (!pattern) return {};
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileW(pattern->c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return {};
  FILETIME nowTime{};
  GetSystemTimeAsFileTime(&nowTime);
  const std::int64_t oldest = FileTimeTicks(nowTime) - maxAge.count() * 10'000'000;
  std::vector<Text> removed;
  do {
    // Folders and links (reparse points) are left alone.
    if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        FileTimeTicks(found.ftLastWriteTime) >= oldest) {
      continue;
    }
    const Text path = folder + ToUtf8(found.cFileName);
    const auto name = FileSystemPath(path);
    if (name && DeleteFileW(name->c_str())) removed.push_back(path);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return removed;
}

void RestrictToOwner(const Text& /*path*/) {}

}  // namespace quillane::platform
