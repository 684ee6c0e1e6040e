#include "platform/posix/desktop_association.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

#include "base/error.h"
#include "platform/platform.h"
#include "platform/posix/registry_file.h"

namespace quillane {

namespace {

namespace fs = std::filesystem;

constexpr char kPdfMimeType[] = "application/pdf";
constexpr char kFilePlaceholder[] = "%1";
// Quillane's own desktop entry, which may declare application/pdf: like its
// Windows identifiers it never stands for the user's reader.
constexpr char kOwnDesktopEntry[] = "quillane.desktop";

// Undoes the escapes of the desktop entry string type. Other backslash pairs
// stay as written: the Exec quoting gives \" \` \$ their meaning afterwards.
Text UnescapeString(const Text& value) {
  Text out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out.push_back(value[i]);
      continue;
    }
    switch (value[i + 1]) {
      case 's':
        out.push_back(' ');
        break;
      case 'n':
        out.push_back('\n');
        break;
      case 't':
        out.push_back('\t');
        break;
      case 'r':
        out.push_back('\r');
        break;
      case '\\':
        out.push_back('\\');
        break;
      default:
        out.append(value, i, 2);
        break;
    }
    ++i;
  }
  return out;
}

// The entries of one group of a desktop entry or mimeapps.list file, in file
// order. Localised keys (Name[de]) are of no use here and are left out.
std::vector<std::pair<Text, Text>> ReadGroup(const Text& content, const Text& group) {
  std::vector<std::pair<Text, Text>> entries;
  bool inGroup = false;
  for (const Text& rawLine : SplitText(content, '\n')) {
    Text line = rawLine;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    line = TrimBlanks(line);
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      inGroup = line == "[" + group + "]";
      continue;
    }
    const std::size_t equals = line.find('=');
    if (!inGroup || equals == Text::npos) continue;
    const Text key = TrimBlanks(line.substr(0, equals));
    if (key.find('[') != Text::npos) continue;
    entries.emplace_back(key, TrimBlanks(line.substr(equals + 1)));
  }
  return entries;
}

}  // namespace

// The content of each file the association reads, kept once read (nothing
// for a missing or unreadable file), so that no file is read twice.
class DesktopFiles {
 public:
  const std::optional<Text>& Read(const Text& path) {
    auto found = contents_.find(path);
    if (found == contents_.end()) found = contents_.emplace(path, ReadFresh(path)).first;
    return found->second;
  }

 private:
  static std::optional<Text> ReadFresh(const Text& path) {
    std::error_code error;
    if (!fs::is_regular_file(path, error)) return std::nullopt;
    try {
      return platform::ReadWholeFile(path);
    } catch (const Error&) {
      return std::nullopt;
    }
  }

  std::map<Text, std::optional<Text>> contents_;
};

namespace {

// ---------------------------------------------------------------------------
// Desktop entries

struct DesktopEntry {
  std::size_t DataDir = 0;  // index of the data folder that holds it
  bool Installed = false;
  Text Exec;
  std::vector<Text> MimeTypes;
};

bool IsExecutableFile(const Text& path) {
  std::error_code error;
  return fs::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

// TryExec: an absolute path, or a name looked up in PATH.
bool ProgramExists(const Text& program) {
  if (program.find('/') != Text::npos) return IsExecutableFile(program);
  for (const Text& folder : SplitText(platform::GetEnvironment("PATH"), ':')) {
    if (!folder.empty() && IsExecutableFile(folder + "/" + program)) return true;
  }
  return false;
}

DesktopEntry ParseDesktopEntry(const Text& content, std::size_t dataDir) {
  DesktopEntry entry;
  entry.DataDir = dataDir;
  bool application = false;
  bool hidden = false;
  bool hasExec = false;
  Text tryExec;
  for (const auto& [key, value] : ReadGroup(content, "Desktop Entry")) {
    if (key == "Type") {
      application = value == "Application";
    } else if (key == "Hidden") {
      hidden = value == "true";
    } else if (key == "Exec") {
      hasExec = true;
      entry.Exec = value;
    } else if (key == "TryExec") {
      tryExec = UnescapeString(value);
    } else if (key == "MimeType") {
      for (const Text& type : SplitText(value, ';')) {
        const Text trimmed = TrimBlanks(type);
        if (!trimmed.empty()) entry.MimeTypes.push_back(trimmed);
      }
    }
  }
  entry.Installed =
      application && !hidden && hasExec && (tryExec.empty() || ProgramExists(tryExec));
  return entry;
}

// The file of desktop file ID `id` below `folder`: the ID names the path
// relative to the applications folder with "/" turned into "-", so
// "kde4-okular.desktop" may live in kde4/okular.desktop.
std::optional<Text> LocateDesktopFile(const Text& folder, const Text& id) {
  std::error_code error;
  const Text direct = folder + "/" + id;
  if (fs::is_regular_file(direct, error)) return direct;
  for (std::size_t dash = id.find('-'); dash != Text::npos; dash = id.find('-', dash + 1)) {
    const Text sub = folder + "/" + id.substr(0, dash);
    if (!fs::is_directory(sub, error)) continue;
    if (std::optional<Text> found = LocateDesktopFile(sub, id.substr(dash + 1))) return found;
  }
  return std::nullopt;
}

bool IsDesktopFileId(const Text& id) {
  return EndsWith(id, ".desktop") && id.find('/') == Text::npos && id.find('\0') == Text::npos;
}

// The entry that the first data folder holding `id` has; later folders are
// hidden by it, installed or not.
std::optional<DesktopEntry> FindDesktopEntry(const XdgDirectories& dirs, DesktopFiles& files,
                                             const Text& id) {
  if (!IsDesktopFileId(id)) return std::nullopt;
  for (std::size_t k = 0; k < dirs.DataDirs.size(); ++k) {
    const std::optional<Text> path = LocateDesktopFile(dirs.DataDirs[k] + "/applications", id);
    if (!path) continue;
    const std::optional<Text>& content = files.Read(*path);
    if (!content) return std::nullopt;
    return ParseDesktopEntry(*content, k);
  }
  return std::nullopt;
}

// Every desktop file ID below `folder`, with the path of its file.
void ListDesktopFiles(const Text& folder, const Text& idPrefix,
                      std::vector<std::pair<Text, Text>>& out) {
  std::error_code error;
  fs::directory_iterator it(folder, error);
  if (error) return;
  for (const fs::directory_entry& item : it) {
    const Text name = item.path().filename().string();
    if (item.is_directory(error)) {
      ListDesktopFiles(item.path().string(), idPrefix + name + "-", out);
    } else if (EndsWith(name, ".desktop")) {
      out.emplace_back(idPrefix + name, item.path().string());
    }
  }
}

// ---------------------------------------------------------------------------
// mimeapps.list

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
  for (const auto& [key, value] : ReadGroup(list.Content, group)) {
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

// ---------------------------------------------------------------------------
// Exec translation

Text TranslateDesktopExec(const Text& exec) {
  const Text line = UnescapeString(exec);
  struct Argument {
    Text Value;
    bool HasFile = false;
  };
  std::vector<Argument> arguments;
  Argument current;
  bool inArgument = false;
  bool quoted = false;
  // Every look at i + 1 is guarded by i + 1 < size.
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (!quoted && static_cast<unsigned char>(c) <= 0x20) {
      if (inArgument) arguments.push_back(std::move(current));
      current = Argument{};
      inArgument = false;
    } else if (c == '"') {
      quoted = !quoted;
      inArgument = true;
    } else if (quoted && c == '\\' && i + 1 < line.size() &&
               Text("\"`$\\").find(line[i + 1]) != Text::npos) {
      current.Value.push_back(line[++i]);
      inArgument = true;
    } else if (c == '%') {
      // Field codes: the file ones become the document, %% a percent sign,
      // the rest nothing. A % at the end is dropped too.
      inArgument = true;
      if (i + 1 == line.size()) break;
      const char code = line[++i];
      if (code == 'f' || code == 'F' || code == 'u' || code == 'U') {
        current.Value += kFilePlaceholder;
        current.HasFile = true;
      } else if (code == '%') {
        current.Value.push_back('%');
      }
    } else {
      current.Value.push_back(c);
      inArgument = true;
    }
  }
  if (inArgument) arguments.push_back(std::move(current));

  Text command;
  for (Argument& argument : arguments) {
    // The command-line rule has no way to keep a double quote in an argument.
    argument.Value.erase(std::remove(argument.Value.begin(), argument.Value.end(), '"'),
                         argument.Value.end());
    if (argument.Value.empty()) continue;
    const bool needsQuotes =
        argument.HasFile || std::any_of(argument.Value.begin(), argument.Value.end(), [](char c) {
          return static_cast<unsigned char>(c) <= 0x20;
        });
    if (!command.empty()) command += ' ';
    command += needsQuotes ? "\"" + argument.Value + "\"" : argument.Value;
  }
  return command;
}

// ---------------------------------------------------------------------------
// Association

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

namespace {

std::optional<Text> EntryExec(const XdgDirectories& dirs, DesktopFiles& files, const Text& id) {
  const std::optional<DesktopEntry> entry = FindDesktopEntry(dirs, files, id);
  if (!entry || !entry->Installed) return std::nullopt;
  return entry->Exec;
}

Text DefaultApplication(const XdgDirectories& dirs, DesktopFiles& files, const Text& mimeType) {
  const std::vector<MimeAppsList> lists = ReadMimeAppsLists(dirs, files);
  // Quillane's own entry counts as not installed, so the next one is taken.
  auto installed = [&dirs, &files](const Text& id) {
    const std::optional<DesktopEntry> entry =
        id == kOwnDesktopEntry ? std::nullopt : FindDesktopEntry(dirs, files, id);
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
    std::vector<std::pair<Text, Text>> entries;
    ListDesktopFiles(dirs.DataDirs[k] + "/applications", "", entries);
    std::sort(entries.begin(), entries.end());
    for (const auto& [id, path] : entries) {
      if (!seen.insert(id).second || id == kOwnDesktopEntry) continue;
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

}  // namespace

std::optional<Text> DesktopEntryExec(const XdgDirectories& dirs, const Text& id) {
  DesktopFiles files;
  return EntryExec(dirs, files, id);
}

Text DefaultDesktopApplication(const XdgDirectories& dirs, const Text& mimeType) {
  DesktopFiles files;
  return DefaultApplication(dirs, files, mimeType);
}

DesktopAssociation::DesktopAssociation(XdgDirectories dirs)
    : dirs_(std::move(dirs)), files_(std::make_unique<DesktopFiles>()) {}

DesktopAssociation::~DesktopAssociation() = default;

const Text& DesktopAssociation::PdfApplication() {
  if (!pdfApplication_) pdfApplication_ = DefaultApplication(dirs_, *files_, kPdfMimeType);
  return *pdfApplication_;
}

std::optional<Text> DesktopAssociation::Exec(const Text& id) {
  return EntryExec(dirs_, *files_, id);
}

std::optional<SuppliedValues> DesktopRegistryKey(DesktopAssociation& association, bool classesRoot,
                                                 const Text& path) {
  std::vector<Text> components;
  for (const Text& part : SplitText(path, '\\')) {
    if (!part.empty()) components.push_back(part);
  }
  auto matches = [&components](const std::vector<Text>& expected, std::size_t from) {
    if (components.size() - from > expected.size()) return false;
    for (std::size_t i = from; i < components.size(); ++i) {
      if (!SameRegistryName(components[i], expected[i - from])) return false;
    }
    return true;
  };
  if (components.empty()) return std::nullopt;

  if (!classesRoot) {
    const std::vector<Text> userChoice = {"Software", "Microsoft", "Windows", "CurrentVersion",
                                          "Explorer", "FileExts",  ".pdf",    "UserChoice"};
    if (!matches(userChoice, 0)) return std::nullopt;
    const Text& id = association.PdfApplication();
    if (id.empty()) return std::nullopt;
    if (components.size() < userChoice.size()) return SuppliedValues{};
    return SuppliedValues{{"Progid", id}};
  }

  const std::vector<Text> command = {"Shell", "open", "command"};
  if (!matches(command, 1)) return std::nullopt;
  const std::optional<Text> exec = association.Exec(components[0]);
  if (!exec) return std::nullopt;
  if (components.size() < 1 + command.size()) return SuppliedValues{};
  return SuppliedValues{{"", TranslateDesktopExec(*exec)}};
}

}  // namespace quillane
