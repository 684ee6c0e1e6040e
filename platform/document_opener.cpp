// The document opener, written once over RegistryKey: the registry walk is the
// same on both systems, and what the desktop associates outside the registry
// comes from platform/desktop_opener.h.
#include <memory>
#include <optional>
#include <vector>

#include "platform/desktop_opener.h"
#include "platform/platform.h"

namespace quillane::platform {
namespace {

constexpr char kFileExtsPdfKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.pdf";
constexpr char kUserChoiceKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.pdf\\UserChoice";
constexpr char kOpenVerb[] = "open";

// The components of a key path without empty ones, as the POSIX registry file
// reads them ("a\\b\" is a\b): only the desktop's answers depend on them.
std::vector<Text> KeyComponents(const Text& path) {
  std::vector<Text> components;
  for (const Text& part : SplitText(path, '\\')) {
    if (!part.empty()) components.push_back(part);
  }
  return components;
}

// The desktop's applications are known by a single key name, so a ProgID that
// spans several keys never names one.
std::optional<Text> DesktopCommandOf(const Text& progId) {
  const std::vector<Text> components = KeyComponents(progId);
  if (components.size() != 1) return std::nullopt;
  return DesktopApplicationCommand(components[0]);
}

// True when `verb` names the key "open": key names ignore case.
bool IsOpenVerb(const Text& verb) {
  const std::vector<Text> components = KeyComponents(verb);
  return components.size() == 1 && LowerCase(components[0]) == kOpenVerb;
}

}  // namespace

Text DocumentOpenerProgId() {
  Text progId;
  bool chosen = false;
  if (const auto userChoice =
          RegistryKey::OpenReadOnly(RegistryRoot::kCurrentUser, kUserChoiceKey)) {
    chosen = userChoice->ValueExists("Progid");
    if (chosen) progId = userChoice->ReadString("Progid");
  }
  // The user's choice in the registry, even an empty one, stands before the
  // desktop's default.
  if (!chosen) progId = DesktopPdfApplication();
  if (!progId.empty()) return progId;
  if (const auto fileExts =
          RegistryKey::OpenReadOnly(RegistryRoot::kCurrentUser, kFileExtsPdfKey)) {
    progId = fileExts->ReadString("Progid");
    if (fileExts->ValueExists("Application")) progId = fileExts->ReadString("Application");
  }
  return progId;
}

std::optional<OpenerVerb> DocumentOpenerVerb(const Text& progId, const Text& skippedVerb) {
  // Applications are registered by their executable's name below
  // "Applications"; the test ignores case as file names do, while the name
  // itself is looked up as given.
  const bool application = EndsWith(LowerCase(progId), ".exe");
  const Text shellKey = application ? "Applications\\" + progId + "\\Shell" : progId + "\\Shell";
  const std::optional<Text> desktopCommand = application ? std::nullopt : DesktopCommandOf(progId);

  OpenerVerb opener;
  {
    const auto shell = RegistryKey::OpenReadOnly(RegistryRoot::kClassesRoot, shellKey);
    if (shell == nullptr && !desktopCommand) return std::nullopt;
    if (shell != nullptr) opener.Verb = shell->ReadString("");
  }
  if (!skippedVerb.empty() && opener.Verb == skippedVerb) return opener;
  if (opener.Verb.empty()) opener.Verb = kOpenVerb;
  const auto command = RegistryKey::OpenReadOnly(RegistryRoot::kClassesRoot,
                                                 shellKey + "\\" + opener.Verb + "\\command");
  if (command != nullptr && command->ValueExists("")) {
    opener.Command = command->ReadString("");
  } else if (desktopCommand && IsOpenVerb(opener.Verb)) {
    opener.Command = *desktopCommand;
  }
  return opener;
}

}  // namespace quillane::platform
