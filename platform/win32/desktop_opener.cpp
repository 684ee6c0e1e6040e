// The desktop's PDF association on Windows: the desktop keeps it in the
// registry itself (FileExts, HKEY_CLASSES_ROOT), which the document opener
// reads, so nothing answers outside it.
#include "platform/desktop_opener.h"

namespace quillane::platform {

Text DesktopPdfApplication() { return {}; }

std::optional<Text> DesktopApplicationCommand(const Text& /*id*/) { return std::nullopt; }

}  // namespace quillane::platform
