// Helpers shared by the Win32 files of the platform seam. Inside the program
// text is bytes, on Windows UTF-8; every call into Win32 goes through the wide
// ("W") interfaces, so texts cross with one conversion per direction (ToUtf16,
// ToUtf8). Also here: the system's text for an error code (one helper, so
// every file message fills its reason the same way), the path form the file
// functions are given (FileSystemPath, "\\?\" beyond MAX_PATH), the checked
// conversion to DWORD counts, and the growing buffer for interfaces that
// report the length they need.
#ifndef QUILLANE_PLATFORM_WIN32_WIN32_UTIL_H_
#define QUILLANE_PLATFORM_WIN32_WIN32_UTIL_H_

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// windows.h maps DeleteFile to DeleteFileA or DeleteFileW; the seam's own
// DeleteFile must keep its name.
#undef DeleteFile

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "base/text.h"

namespace quillane::platform::win32 {

// ---------------------------------------------------------------------------
// Text conversions

// What ToUtf16 does with bytes that are not well-formed UTF-8: a stray
// continuation byte, a sequence cut short, an overlong form, an encoded
// surrogate (the WTF-8 that ToUtf8 makes of a lone surrogate), a value beyond
// U+10FFFF.
enum class Malformed {
  kRefuse,  // no result: a name, key or command must not become another one
  // Each maximal malformed part becomes U+FFFD, an encoded surrogate one
  // U+FFFD as a whole (texts for the user).
  kReplace,
};

// The UTF-16 form of `utf8`. With kRefuse, empty when any part is malformed;
// with kReplace always a value. NUL bytes convert like any other character.
std::optional<std::wstring> ToUtf16(std::string_view utf8,
                                    Malformed malformed = Malformed::kRefuse);

// The UTF-8 form of `utf16`. A surrogate without its partner (possible in
// NTFS names and registry data) becomes the three bytes UTF-8 would give its
// value (WTF-8): nothing is lost, and ToUtf16 refuses it, so such a name can
// never stand for another file.
Text ToUtf8(std::wstring_view utf16);

// ---------------------------------------------------------------------------
// Paths

// The longest full path the file functions take as it stands, whatever the
// system's long-path setting: MAX_PATH less the terminating NUL.
inline constexpr std::size_t kLongestPlainPath = MAX_PATH - 1;
// CreateDirectoryW leaves room for an 8.3 file name inside the folder.
inline constexpr std::size_t kLongestPlainFolderPath = MAX_PATH - 13;

// GetFullPathNameW's form of `path`: "/" become "\", "." and ".." resolved,
// relative paths joined to the current folder. Empty when it fails.
std::wstring FullPathName(const std::wstring& path);

// The UTF-16 path to hand the file functions for `path`: as it stands while
// its full path (FullPathName) has at most `longestPlain` UTF-16 units; beyond
// that, the full path in the "\\?\" form ("\\?\C:\...", and
// "\\?\UNC\server\share\..." for "\\server\share\..."), which they take up to
// 32,767 units. A full path of another kind (a device "\\.\...", one given as
// "\\?\..." already) stays as it stands. Empty when `path` is not well-formed
// UTF-8: no file has that name. Never shown to the user: messages show
// ExpandFileName.
std::optional<std::wstring> FileSystemPath(const Text& path,
                                           std::size_t longestPlain = kLongestPlainPath);

// ---------------------------------------------------------------------------
// Errors and counts

// Every read and write call moves at most this much, well inside a DWORD.
inline constexpr std::int64_t kTransferChunk = std::int64_t{1} << 30;

// The one place where the seam's 64-bit counts become DWORD counts: negative
// values give 0, larger ones the largest DWORD.
inline DWORD ToDword(std::int64_t value) {
  if (value <= 0) return 0;
  return static_cast<DWORD>(std::min<std::int64_t>(value, std::numeric_limits<DWORD>::max()));
}

// FormatMessageW's text for `code` in UTF-8, without the line break it puts
// at its end, so that it can close an error sentence.
Text WindowsErrorText(DWORD code);

// Calls `query(buffer, capacity)` of a wide API that returns the length it
// wrote, or the capacity it needs when the buffer is too small, until the text
// fits.
template <typename Query>
std::wstring QueryWideText(DWORD capacity, Query query) {
  for (;;) {
    std::wstring buffer(capacity, L'\0');
    const DWORD length = query(buffer.data(), capacity);
    if (length < capacity) {
      buffer.resize(length);
      return buffer;
    }
    capacity = std::max<DWORD>(length + 1, capacity * 2);
  }
}

}  // namespace quillane::platform::win32

#endif  // QUILLANE_PLATFORM_WIN32_WIN32_UTIL_H_
