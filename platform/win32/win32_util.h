// Helpers shared by the Win32 files of the platform seam: the system's text for
// an error code (one helper, so every file message fills its reason the same
// way), the checked conversion to DWORD counts, and the growing buffer for
// interfaces that report the length they need.
#ifndef QUILLANE_PLATFORM_WIN32_WIN32_UTIL_H_
#define QUILLANE_PLATFORM_WIN32_WIN32_UTIL_H_

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
#include <cstdint>
#include <limits>

#include "base/text.h"

namespace quillane::platform::win32 {

// Every read and write call moves at most this much, well inside a DWORD.
inline constexpr std::int64_t kTransferChunk = std::int64_t{1} << 30;

// The one place where the seam's 64-bit counts become DWORD counts: negative
// values give 0, larger ones the largest DWORD.
inline DWORD ToDword(std::int64_t value) {
  if (value <= 0) return 0;
  return static_cast<DWORD>(std::min<std::int64_t>(value, std::numeric_limits<DWORD>::max()));
}

// FormatMessageA's text for `code`, without the line break it puts at its end,
// so that it can close an error sentence.
Text WindowsErrorText(DWORD code);

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

}  // namespace quillane::platform::win32

#endif  // QUILLANE_PLATFORM_WIN32_WIN32_UTIL_H_
