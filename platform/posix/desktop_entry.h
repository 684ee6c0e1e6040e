// Desktop entries as the freedesktop specifications define them: the groups of
// the key files that desktop entries and mimeapps.list share, a cache that
// reads each of those files at most once, the entries installed in the
// applications folders of the XDG data folders, and the translation of an
// entry's Exec line into a reader command in the registry's form.
#ifndef QUILLANE_PLATFORM_POSIX_DESKTOP_ENTRY_H_
#define QUILLANE_PLATFORM_POSIX_DESKTOP_ENTRY_H_

#include <cstddef>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "base/text.h"

namespace quillane {

// The entries (key, value) of the group `group` of a key file, in file order,
// keys and values trimmed of blanks. Comments, other groups and localised keys
// (Name[de]) are left out; the string escapes stay as written.
std::vector<std::pair<Text, Text>> ReadKeyFileGroup(const Text& content, const Text& group);

// The content of each file asked for, read at its first question and kept;
// nothing for a missing file, one that is not a regular file, or one that
// cannot be read. Files changed afterwards are not seen.
class DesktopFiles {
 public:
  const std::optional<Text>& Read(const Text& path);

 private:
  std::map<Text, std::optional<Text>> contents_;
};

// One desktop entry's [Desktop Entry] group, as far as the association uses it.
struct DesktopEntry {
  std::size_t DataDir = 0;  // index of the data folder that holds it
  // Type Application with an Exec key, not Hidden, and a TryExec (when given)
  // that names an executable program, as an absolute path or found in PATH.
  bool Installed = false;
  Text Exec;                    // as written in the file
  std::vector<Text> MimeTypes;  // the MimeType list, in file order
};

// Parses the content of a desktop entry found in data folder `dataDir`.
DesktopEntry ParseDesktopEntry(const Text& content, std::size_t dataDir);

// The entry of desktop file ID `id` in the first data folder (their
// "applications" folders, in the order given) that holds a file for it; later
// folders are hidden by it, installed or not. An ID names the file's path
// below the applications folder with "/" turned into "-", so
// "kde4-okular.desktop" may be kde4/okular.desktop. Nothing when no folder
// holds it, when `id` is no desktop file ID (it must end with ".desktop" and
// hold no "/" or NUL), or when the file cannot be read.
std::optional<DesktopEntry> FindDesktopEntry(const std::vector<Text>& dataDirs, DesktopFiles& files,
                                             const Text& id);

// Every desktop file ID below the applications folder `folder` (subfolders
// included), with its file's path, sorted by ID; empty when the folder cannot
// be read.
std::vector<std::pair<Text, Text>> ListDesktopFiles(const Text& folder);

// The Exec value of the installed entry `id`, or nothing when it is not
// installed; reads the files afresh.
std::optional<Text> DesktopEntryExec(const std::vector<Text>& dataDirs, const Text& id);

// Turns the value of a desktop entry's Exec key, as written in the file, into
// a reader command in the form the registry holds: arguments separated by
// blanks, an argument that holds blanks (or a file) enclosed in double quotes,
// kDocumentPlaceholder ("%1") where the document goes.
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

}  // namespace quillane

#endif  // QUILLANE_PLATFORM_POSIX_DESKTOP_ENTRY_H_
