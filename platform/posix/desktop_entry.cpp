#include "platform/posix/desktop_entry.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "base/error.h"
#include "platform/platform.h"

namespace quillane {

namespace {

namespace fs = std::filesystem;

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

// The file of desktop file ID `id` below `folder`: the ID names the path
// relative to the applications folder with "/" turned into "-".
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

void AddDesktopFiles(const Text& folder, const Text& idPrefix,
                     std::vector<std::pair<Text, Text>>& out) {
  std::error_code error;
  fs::directory_iterator it(folder, error);
  if (error) return;
  for (const fs::directory_entry& item : it) {
    const Text name = item.path().filename().string();
    if (item.is_directory(error)) {
      AddDesktopFiles(item.path().string(), idPrefix + name + "-", out);
    } else if (EndsWith(name, ".desktop")) {
      out.emplace_back(idPrefix + name, item.path().string());
    }
  }
}

}  // namespace

std::vector<std::pair<Text, Text>> ReadKeyFileGroup(const Text& content, const Text& group) {
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

const std::optional<Text>& DesktopFiles::Read(const Text& path) {
  auto found = contents_.find(path);
  if (found != contents_.end()) return found->second;
  std::optional<Text> content;
  std::error_code error;
  if (fs::is_regular_file(path, error)) {
    try {
      content = platform::ReadWholeFile(path);
    } catch (const Error&) {
      content.reset();
    }
  }
  return contents_.emplace(path, std::move(content)).first->second;
}

DesktopEntry ParseDesktopEntry(const Text& content, std::size_t dataDir) {
  DesktopEntry entry;
  entry.DataDir = dataDir;
  bool application = false;
  bool hidden = false;
  bool hasExec = false;
  Text tryExec;
  for (const auto& [key, value] : ReadKeyFileGroup(content, "Desktop Entry")) {
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

std::optional<DesktopEntry> FindDesktopEntry(const std::vector<Text>& dataDirs, DesktopFiles& files,
                                             const Text& id) {
  if (!IsDesktopFileId(id)) return std::nullopt;
  for (std::size_t k = 0; k < dataDirs.size(); ++k) {
    const std::optional<Text> path = LocateDesktopFile(dataDirs[k] + "/applications", id);
    if (!path) continue;
    const std::optional<Text>& content = files.Read(*path);
    if (!content) return std::nullopt;
    return ParseDesktopEntry(*content, k);
  }
  return std::nullopt;
}

std::vector<std::pair<Text, Text>> ListDesktopFiles(const Text& folder) {
  std::vector<std::pair<Text, Text>> files;
  AddDesktopFiles(folder, "", files);
  std::sort(files.begin(), files.end());
  return files;
}

std::optional<Text> DesktopEntryExec(const std::vector<Text>& dataDirs, const Text& id) {
  DesktopFiles files;
  const std::optional<DesktopEntry> entry = FindDesktopEntry(dataDirs, files, id);
  if (!entry || !entry->Installed) return std::nullopt;
  return entry->Exec;
}

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
        current.Value += platform::kDocumentPlaceholder;
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

}  // namespace quillane
