#include "reader/discovery.h"

#include <memory>

#include "platform/platform.h"

namespace quillane {
namespace {

using platform::RegistryKey;
using platform::RegistryRoot;

constexpr char kFileExtsPdfKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.pdf";
constexpr char kUserChoiceKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.pdf\\UserChoice";
// Settings of earlier installations: read so that a reader command configured
// there still counts, but never created or written.
constexpr char kLegacyKey[] = "Software\\Fennimore Software\\quillane";

constexpr char kPdfReadCmd[] = "PdfReadCmd";
constexpr char kCustomPdfReadCmd[] = "CustomPdfReadCmd";

// Quillane may itself be registered as a PDF handler; these never lead to a
// reader, or the program would open its documents in itself.
constexpr char kOwnProgId[] = "quillane.pdfdoc";
constexpr char kOwnApplication[] = "quillane.exe";
constexpr char kOwnDesktopEntry[] = "quillane.desktop";
constexpr char kOwnVerb[] = "quillane_main";

bool IsOwnIdentifier(const Text& progId) {
  return progId == kOwnProgId || progId == kOwnApplication || progId == kOwnDesktopEntry;
}

struct CachedCommand {
  Text Command;
  bool Custom = false;
};

// Values present in `key` replace those of `cached`; absent ones keep what an
// earlier key supplied.
CachedCommand ReadCachedCommand(const RegistryKey& key, CachedCommand cached) {
  if (key.ValueExists(kPdfReadCmd)) cached.Command = key.ReadString(kPdfReadCmd);
  if (key.ValueExists(kCustomPdfReadCmd)) cached.Custom = key.ReadBool(kCustomPdfReadCmd);
  return cached;
}

// The command registered for the default verb of `progId`'s Shell key under
// HKEY_CLASSES_ROOT, or empty.
Text ReadRegisteredCommand(const Text& progId) {
  // Applications are registered by their executable's name below
  // "Applications"; the test ignores case as file names do, while the name
  // itself is looked up as given.
  const Text shellKey = EndsWith(platform::LowerCase(progId), ".exe")
                            ? "Applications\\" + progId + "\\Shell"
                            : progId + "\\Shell";
  Text verb;
  {
    const auto shell = RegistryKey::OpenReadOnly(RegistryRoot::kClassesRoot, shellKey);
    if (shell == nullptr) return {};
    verb = shell->ReadString("");
  }
  if (verb == kOwnVerb) return {};
  if (verb.empty()) verb = "open";
  const auto command =
      RegistryKey::OpenReadOnly(RegistryRoot::kClassesRoot, shellKey + "\\" + verb + "\\command");
  if (command == nullptr) return {};
  return command->ReadString("");
}

}  // namespace

Text GetPdfProgId() {
  Text progId;
  if (const auto userChoice =
          RegistryKey::OpenReadOnly(RegistryRoot::kCurrentUser, kUserChoiceKey)) {
    progId = userChoice->ReadString("Progid");
  }
  if (!progId.empty()) return progId;
  if (const auto fileExts =
          RegistryKey::OpenReadOnly(RegistryRoot::kCurrentUser, kFileExtsPdfKey)) {
    progId = fileExts->ReadString("Progid");
    if (fileExts->ValueExists("Application")) progId = fileExts->ReadString("Application");
  }
  return progId;
}

Text DeducePdfReadCommand(const Text& progId) {
  CachedCommand cached;
  if (const auto legacy = RegistryKey::Open(RegistryRoot::kCurrentUser, kLegacyKey)) {
    cached = ReadCachedCommand(*legacy, cached);
  }
  if (const auto configuration =
          RegistryKey::OpenOrCreate(RegistryRoot::kCurrentUser, kConfigurationKey)) {
    cached = ReadCachedCommand(*configuration, cached);
  }

  Text deduced;
  if (!IsOwnIdentifier(progId)) deduced = ReadRegisteredCommand(progId);

  Text result = cached.Custom || deduced.empty() ? cached.Command : deduced;
  // Only a newly deduced command reaches this write: a custom or fallback
  // result is the cached command itself.
  if (result != cached.Command) {
    if (const auto configuration =
            RegistryKey::OpenOrCreate(RegistryRoot::kCurrentUser, kConfigurationKey)) {
      configuration->WriteString(kPdfReadCmd, result);
    }
  }
  return result;
}

}  // namespace quillane
