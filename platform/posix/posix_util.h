// Helpers shared by the POSIX files of the platform seam: the system's text
// for an error number (one helper, so every file message fills its reason the
// same way), the checked conversions between the seam's 64-bit counts and the
// sizes the C interfaces take, and path pieces.
#ifndef QUILLANE_PLATFORM_POSIX_POSIX_UTIL_H_
#define QUILLANE_PLATFORM_POSIX_POSIX_UTIL_H_

#include <cstddef>
#include <cstdint>
#include <utility>

#include "base/text.h"

namespace quillane::platform::posix {

// strerror's text for `error`, as the file messages end with it.
Text PosixErrorText(int error);

// `text` between double quotes, as file messages show paths.
inline Text Quoted(const Text& text) { return "\"" + text + "\""; }

// The one place where the seam's 64-bit counts become the sizes that the C
// interfaces take. REQUIRES: value >= 0.
inline std::size_t ToSize(std::int64_t value) { return static_cast<std::size_t>(value); }
inline std::int64_t ToInt64(std::size_t value) { return static_cast<std::int64_t>(value); }

inline bool IsAbsolutePath(const Text& path) { return !path.empty() && path[0] == '/'; }

// The folder part of a path ("." when there is none) and the part after it.
std::pair<Text, Text> SplitFolder(const Text& path);

// Creates a folder and its missing parents; failures show later, when the
// file inside cannot be created.
void CreateFolders(const Text& folder);

}  // namespace quillane::platform::posix

#endif  // QUILLANE_PLATFORM_POSIX_POSIX_UTIL_H_
