// The desktop's PDF association on POSIX: the freedesktop rules of
// platform/posix/mime_apps.h and platform/posix/desktop_entry.h, read once per
// process (platform/posix/desktop_opener.h).
#include "platform/posix/desktop_opener.h"

#include <optional>
#include <utility>

#include "platform/desktop_opener.h"
#include "platform/posix/desktop_entry.h"
#include "platform/posix/mime_apps.h"

namespace quillane::platform {
namespace {

constexpr char kPdfMimeType[] = "application/pdf";

// The association of one set of folders: the default application is worked
// out at the first question, and every file is read at most once.
struct KeptAssociation {
  XdgDirectories Dirs;
  DesktopFiles Files;
  std::optional<Text> PdfApplication;
};
std::optional<KeptAssociation> keptAssociation;

// The folders come from the environment at every question, so a process that
// changes them is answered for the new ones.
KeptAssociation& CurrentAssociation() {
  XdgDirectories dirs = XdgDirectories::FromEnvironment();
  if (!keptAssociation || keptAssociation->Dirs != dirs) {
    keptAssociation.emplace();
    keptAssociation->Dirs = std::move(dirs);
  }
  return *keptAssociation;
}

}  // namespace

namespace posix {

void ForgetDesktopReads() { keptAssociation.reset(); }

}  // namespace posix

Text DesktopPdfApplication() {
  KeptAssociation& association = CurrentAssociation();
  if (!association.PdfApplication) {
    association.PdfApplication =
        DefaultDesktopApplication(association.Dirs, association.Files, kPdfMimeType);
  }
  return *association.PdfApplication;
}

std::optional<Text> DesktopApplicationCommand(const Text& id) {
  KeptAssociation& association = CurrentAssociation();
  const std::optional<DesktopEntry> entry =
      FindDesktopEntry(association.Dirs.DataDirs, association.Files, id);
  if (!entry || !entry->Installed) return std::nullopt;
  // Registry text ends at its first NUL, and so does a command from here.
  const Text command = TranslateDesktopExec(entry->Exec);
  return command.substr(0, command.find('\0'));
}

}  // namespace quillane::platform
