// What the desktop associates with PDF documents outside the registry, as the
// document opener (platform/document_opener.cpp) asks it where the registry
// holds nothing: the freedesktop association on POSIX, read once per process
// (platform/posix/desktop_opener.cpp); nothing on Windows, whose desktop keeps
// its associations in the registry itself (platform/win32/desktop_opener.cpp).
// Internal to platform/.
#ifndef QUILLANE_PLATFORM_DESKTOP_OPENER_H_
#define QUILLANE_PLATFORM_DESKTOP_OPENER_H_

#include <optional>

#include "base/text.h"

namespace quillane::platform {

// The ID of the application the desktop opens PDF documents with, never
// kOwnDesktopEntry; empty when none.
Text DesktopPdfApplication();

// The command the desktop starts application `id` with to open a document,
// kDocumentPlaceholder where the document goes, cut at a NUL as registry text
// is; nothing when the desktop has no such application.
std::optional<Text> DesktopApplicationCommand(const Text& id);

}  // namespace quillane::platform

#endif  // QUILLANE_PLATFORM_DESKTOP_OPENER_H_
