// The user's PDF reader as a freedesktop desktop knows it: the "MIME
// Applications Associations" rules (mimeapps.list files and the MimeType of
// installed desktop entries) pick a desktop entry for application/pdf, and the
// POSIX registry presents that choice as the values Windows keeps for the
// ".pdf" association, so reader discovery needs no set-up on Linux.
#ifndef QUILLANE_PLATFORM_POSIX_DESKTOP_ASSOCIATION_H_
#define QUILLANE_PLATFORM_POSIX_DESKTOP_ASSOCIATION_H_

#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "base/text.h"

namespace quillane {

// Turns the value of a desktop entry's Exec key, as written in the file, into
// a reader command in the form the registry holds: arguments separated by
// blanks, an argument that holds blanks (or a file) enclosed in double quotes,
// "%1" where the document goes.
//  - The string escapes (\s \n \t \r \\) are undone first, then the Exec
//    quoting ("..." with \" \` \$ \\ inside) splits the arguments.
//  - The file field codes %f %F %u %U become %1 and their argument is quoted;
//    %% becomes %; every other field code (%i %c %k, the deprecated ones, an
//    unknown letter or a % at the end) is dropped, and so is an argument left
//    empty.
//  - A double quote inside an argument cannot survive the command-line rule
//    (it would toggle quoting) and is dropped.
// Empty when nothing remains. Pure: no file or environment is touched.
Text TranslateDesktopExec(const Text& exec);

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
// Quillane's own entry "quillane.desktop", which counts as not installed, so
// that the next application is taken:
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
// An entry is installed when the first data folder that holds its ID has a
// [Desktop Entry] of Type Application with an Exec key, not Hidden, whose
// TryExec (when given) names an executable program. Unreadable files are
// passed over.
Text DefaultDesktopApplication(const XdgDirectories& dirs, const Text& mimeType);

// The Exec value of the installed entry `id`, or nothing when it is not
// installed.
std::optional<Text> DesktopEntryExec(const XdgDirectories& dirs, const Text& id);

class DesktopFiles;

// The association of one set of folders as a process asks it: the default
// application for application/pdf is worked out at the first question and
// kept, and every file (mimeapps.list, desktop entry) is read at most once.
// Files changed afterwards are not seen.
class DesktopAssociation {
 public:
  explicit DesktopAssociation(XdgDirectories dirs);
  ~DesktopAssociation();
  DesktopAssociation(const DesktopAssociation&) = delete;
  DesktopAssociation& operator=(const DesktopAssociation&) = delete;

  const XdgDirectories& Directories() const { return dirs_; }
  // DefaultDesktopApplication(Directories(), "application/pdf").
  const Text& PdfApplication();
  // DesktopEntryExec(Directories(), id).
  std::optional<Text> Exec(const Text& id);

 private:
  XdgDirectories dirs_;
  std::unique_ptr<DesktopFiles> files_;
  std::optional<Text> pdfApplication_;
};

// The registry values of one key that the association supplies, each a REG_SZ
// text: (name, text); the default value has the empty name.
using SuppliedValues = std::vector<std::pair<Text, Text>>;

// The key at `path` (below the root, components separated by "\", compared
// without regard to ASCII case) as the association supplies it, or nothing
// when it supplies no key there:
//  - current user: the UserChoice key of the ".pdf" association,
//    "Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\.pdf\UserChoice",
//    and each of its ancestors exist when an application opens
//    application/pdf; UserChoice holds "Progid", that application's ID;
//  - classes root: "<id>", "<id>\Shell", "<id>\Shell\open" and
//    "<id>\Shell\open\command" exist for an installed entry <id>; the command
//    key's default value is TranslateDesktopExec of its Exec. The Shell key
//    has no default value, so the verb read is "open".
std::optional<SuppliedValues> DesktopRegistryKey(DesktopAssociation& association, bool classesRoot,
                                                 const Text& path);

}  // namespace quillane

#endif  // QUILLANE_PLATFORM_POSIX_DESKTOP_ASSOCIATION_H_
