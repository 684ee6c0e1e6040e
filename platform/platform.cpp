// The parts of the seam that are the same on every system, written once over
// the per-system primitives.
#include "platform/platform.h"

namespace quillane::platform {

void ShowErrorBox(const Text& message) {
  Text text = message;
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
  ShowMessageBox(text, MessageIcon::kError, true);
}

Text DirectoryOf(const Text& path) {
  std::size_t cut = path.size();
  while (cut > 0 && !IsPathSeparator(path[cut - 1])) --cut;
  return path.substr(0, cut);
}

Text FileNameOf(const Text& path) { return path.substr(DirectoryOf(path).size()); }

Text ReadWholeFile(const Text& path) {
  const InputFile file(path);
  Text content(static_cast<std::size_t>(file.Size()), '\0');
  file.ReadExactly(0, content.data(), file.Size());
  return content;
}

}  // namespace quillane::platform
