#include "platform/posix/mime_apps.h"

#include <algorithm>
#include <optional>
#include <set>
#include <utility>

#include "platform/platform.h"

namespace quillane {

namespace {

struct MimeAppsList {
  Text Content;
  bool DesktopSpecific = false;
  // Additions and removals reach entries of this data folder and later ones;
  // the files in config folders reach every entry.
  std::size_t Scope = 0;
};

std::vector<MimeAppsList> ReadMimeAppsLists(const XdgDirectories& dirs, DesktopFiles& files) {
  std::vector<MimeAppsList> lists;
  auto addFolder = [&](const Text& folder, std::size_t scope) {
    for (const Text& desktop : dirs.CurrentDesktops) {
      if (const std::optional<Text>& content =
              files.Read(folder + "/" + desktop + "-mimeapps.list")) {
        lists.push_back({*content, true, scope});
      }
    }
    if (const std::optional<Text>& content = files.Read(folder + "/mimeapps.list")) {
      lists.push_back({*content, false, scope});
    }
  };
  for (const Text& folder : dirs.ConfigDirs) addFolder(folder, 0);
  for (std::size_t k = 0; k < dirs.DataDirs.size(); ++k) {
    addFolder(dirs.DataDirs[k] + "/applications", k);
  }
  return lists;
}

std::vector<Text> ListedIds(const MimeAppsList& list, const Text& group, const Text& mimeType) {
  std::vector<Text> ids;
  for (const auto& [key, value] : ReadKeyFileGroup(list.Content, group)) {
    if (key != mimeType) continue;
    for (const Text& id : SplitText(value, ';')) {
      const Text trimmed = TrimBlanks(id);
      if (!trimmed.empty()) ids.push_back(trimmed);
    }
  }
  return ids;
}

struct Removal {
  Text Id;
  std::size_t Scope;
};

bool IsRemoved(const std::vector<Removal>& removals, const Text& id, std::size_t dataDir) {
  return std::any_of(removals.begin(), removals.end(), [&](const Removal& removal) {
    return removal.Id == id && dataDir >= removal.Scope;
  });
}

void AddAbsoluteFolders(const Text& list, std::vector<Text>& out) {
  for (Text folder : SplitText(list, ':')) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (!folder.empty() && folder[0] == '/') out.push_back(folder);
  }
}

}  // namespace

XdgDirectories XdgDirectories::FromEnvironment() {
  XdgDirectories dirs;
  const Text home = platform::GetEnvironment("HOME");
  // A single folder; a relative one is invalid and the default applies.
  auto homeBased = [&home](const char* variable, const char* fallback, std::vector<Text>& out) {
    const Text own = platform::GetEnvironment(variable);
    if (!own.empty() && own[0] == '/') {
      out.push_back(own);
    } else if (!home.empty()) {
      out.push_back(home + fallback);
    }
  };
  // A list of folders; the default applies only when the variable is empty.
  auto system = [](const char* variable, const std::vector<Text>& fallback,
                   std::vector<Text>& out) {
    const Text listed = platform::GetEnvironment(variable);
    if (listed.empty()) {
      out.insert(out.end(), fallback.begin(), fallback.end());
    } else {
      AddAbsoluteFolders(listed, out);
    }
  };
  homeBased("XDG_CONFIG_HOME", "/.config", dirs.ConfigDirs);
  system("XDG_CONFIG_DIRS", {"/etc/xdg"}, dirs.ConfigDirs);
  homeBased("XDG_DATA_HOME", "/.local/share", dirs.DataDirs);
  system("XDG_DATA_DIRS", {"/usr/local/share", "/usr/share"}, dirs.DataDirs);
  for (const Text& desktop : SplitText(platform::GetEnvironment("XDG_CURRENT_DESKTOP"), ':')) {
    if (!desktop.empty()) dirs.CurrentDesktops.push_back(platform::LowerCase(desktop));
  }
  return dirs;
}

Text DefaultDesktopApplication(const XdgDirectories& dirs, DesktopFiles& files,
                               const Text& mimeType) {
  const std::vector<MimeAppsList> lists = ReadMimeAppsLists(dirs, files);
  // Quillane's own entry counts as not installed, so the next one is taken.
  auto installed = [&dirs, &files](const Text& id) {
    const std::optional<DesktopEntry> entry = id == platform::kOwnDesktopEntry
                                                  ? std::nullopt
                                                  : FindDesktopEntry(dirs.DataDirs, files, id);
    return entry && entry->Installed ? entry : std::nullopt;
  };
  // Step 1: the first installed default, whatever its own MimeType says.
  for (const MimeAppsList& list : lists) {
    for (const Text& id : ListedIds(list, "Default Applications", mimeType)) {
      if (installed(id)) return id;
    }
  }
  // Step 2: added associations, minus the removals met so far.
  std::vector<Removal> removals;
  for (const MimeAppsList& list : lists) {
    if (list.DesktopSpecific) continue;
    for (const Text& id : ListedIds(list, "Added Associations", mimeType)) {
      const std::optional<DesktopEntry> entry = installed(id);
      if (entry && entry->DataDir >= list.Scope && !IsRemoved(removals, id, entry->DataDir)) {
        return id;
      }
    }
    for (const Text& id : ListedIds(list, "Removed Associations", mimeType)) {
      removals.push_back({id, list.Scope});
    }
  }
  // Step 3: the entries that declare the type themselves. An ID met in an
  // earlier data folder hides the same ID in later ones.
  std::set<Text> seen;
  for (std::size_t k = 0; k < dirs.DataDirs.size(); ++k) {
    for (const auto& [id, path] : ListDesktopFiles(dirs.DataDirs[k] + "/applications")) {
      if (!seen.insert(id).second || id == platform::kOwnDesktopEntry) continue;
      const std::optional<Text>& content = files.Read(path);
      if (!content) continue;
      const DesktopEntry entry = ParseDesktopEntry(*content, k);
      const bool declares = std::find(entry.MimeTypes.begin(), entry.MimeTypes.end(), mimeType) !=
                            entry.MimeTypes.end();
      if (entry.Installed && declares && !IsRemoved(removals, id, k)) return id;
    }
  }
  return "";
}

Text DefaultDesktopApplication(const XdgDirectories& dirs, const Text& mimeType) {
  DesktopFiles files;
  return DefaultDesktopApplication(dirs, files, mimeType);
}

}  // namespace quillane
