// The application a freedesktop desktop opens a MIME type with: the folders of
// the XDG base directory rules, the "MIME Applications Associations" rules of
// the mimeapps.list files, and the MimeType lists of the installed desktop
// entries (platform/posix/desktop_entry.h).
#ifndef QUILLANE_PLATFORM_POSIX_MIME_APPS_H_
#define QUILLANE_PLATFORM_POSIX_MIME_APPS_H_

#include <vector>

#include "base/text.h"
#include "platform/posix/desktop_entry.h"

namespace quillane {

// The folders of the XDG base directory rules that the association reads.
struct XdgDirectories {
  std::vector<Text> ConfigDirs;       // $XDG_CONFIG_HOME, then each of $XDG_CONFIG_DIRS
  std::vector<Text> DataDirs;         // $XDG_DATA_HOME, then each of $XDG_DATA_DIRS
  std::vector<Text> CurrentDesktops;  // $XDG_CURRENT_DESKTOP's names, lower-cased

  bool operator==(const XdgDirectories&) const = default;

  // From the environment, with the documented defaults for unset or empty
  // variables ($HOME/.config, /etc/xdg, $HOME/.local/share, /usr/local/share
  // and /usr/share); relative entries are ignored, as the rules require.
  static XdgDirectories FromEnvironment();
};

// The desktop file ID that opens `mimeType` by default, or empty; never
// Quillane's own entry kOwnDesktopEntry ("quillane.desktop"), which counts as
// not installed, so that the next application is taken:
//  1. the [Default Applications] entries of every mimeapps.list, in the
//     order of the rules ($desktop-mimeapps.list before mimeapps.list, in the
//     config folders, then in the applications folder of each data folder);
//     the first installed one wins;
//  2. otherwise the first installed ID of [Added Associations], file by file,
//     less those that [Removed Associations] of the same or an earlier file
//     removed (additions and removals reach only entries installed in the
//     file's own data folder or a later one);
//  3. otherwise the installed entries whose MimeType lists the type and that
//     no file removed, in the order of the data folders, then by ID.
// Installed as FindDesktopEntry and DesktopEntry::Installed say. Every file
// is read through `files`, so a file asked for again is not read again;
// unreadable files are passed over.
Text DefaultDesktopApplication(const XdgDirectories& dirs, DesktopFiles& files,
                               const Text& mimeType);

// The same with files read afresh.
Text DefaultDesktopApplication(const XdgDirectories& dirs, const Text& mimeType);

}  // namespace quillane

#endif  // QUILLANE_PLATFORM_POSIX_MIME_APPS_H_
