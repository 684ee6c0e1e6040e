#include "reader/reader.h"

#include <cstdint>

#include "platform/platform.h"

namespace quillane {
namespace {

using platform::Registry;
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
constexpr char kOwnVerb[] = "quillane_main";

constexpr char kDocumentPlaceholder[] = "%1";
constexpr std::uint32_t kWaitStepMilliseconds = 200;

struct CachedCommand {
  Text Command;
  bool Custom = false;
};

// Values present in the open key replace those of `cached`; absent ones keep
// what an earlier key supplied.
CachedCommand ReadCachedCommand(Registry& registry, CachedCommand cached) {
  if (registry.ValueExists(kPdfReadCmd)) cached.Command = registry.ReadString(kPdfReadCmd);
  if (registry.ValueExists(kCustomPdfReadCmd)) cached.Custom = registry.ReadBool(kCustomPdfReadCmd);
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
  Registry classes(RegistryRoot::kClassesRoot);
  if (!classes.OpenKeyReadOnly(shellKey)) return {};
  Text verb = classes.ReadString("");
  if (verb == kOwnVerb) return {};
  if (verb.empty()) verb = "open";
  // Relative to the open Shell key.
  if (!classes.OpenKeyReadOnly(verb + "\\command")) return {};
  return classes.ReadString("");
}

void Warn(const Text& text) {
  platform::ShowMessageBox(text, platform::MessageIcon::kWarning, true);
}

}  // namespace

Text GetPdfProgId() {
  Text progId;
  Registry registry;
  if (registry.OpenKeyReadOnly(kUserChoiceKey)) {
    progId = registry.ReadString("Progid");
    // Closed so that the next path is taken from the root, not below UserChoice.
    registry.CloseKey();
  }
  if (progId.empty() && registry.OpenKeyReadOnly(kFileExtsPdfKey)) {
    progId = registry.ReadString("Progid");
    if (registry.ValueExists("Application")) progId = registry.ReadString("Application");
    registry.CloseKey();
  }
  return progId;
}

Text DeducePdfReadCommand(const Text& progId) {
  CachedCommand cached;
  Registry registry;
  if (registry.OpenKey(kLegacyKey, false)) {
    cached = ReadCachedCommand(registry, cached);
    registry.CloseKey();
  }
  if (registry.OpenKey(kConfigurationKey, true)) {
    cached = ReadCachedCommand(registry, cached);
    registry.CloseKey();
  }

  Text deduced;
  if (progId != kOwnProgId && progId != kOwnApplication) deduced = ReadRegisteredCommand(progId);

  Text result = cached.Custom || deduced.empty() ? cached.Command : deduced;
  // Only a newly deduced command reaches this write: a custom or fallback
  // result is the cached command itself.
  if (result != cached.Command && registry.OpenKey(kConfigurationKey, true)) {
    registry.WriteString(kPdfReadCmd, result);
    registry.CloseKey();
  }
  return result;
}

void StartPdfReader(const Text& documentPath, bool waitForExit) {
  const Text progId = GetPdfProgId();
  Text command;
  if (!progId.empty()) command = DeducePdfReadCommand(progId);
  if (command.empty()) {
    Warn("Could not deduce command to start PDF reader");
    return;
  }

  // The path goes in as it is: registered commands quote "%1" themselves when
  // they expect blanks, and "%2", "%*", "%L" and the like are left alone.
  const Text commandLine = ReplaceAll(command, kDocumentPlaceholder, documentPath);
  const auto process = platform::Process::Start(commandLine);
  if (process == nullptr) {
    Warn("Failed to start PDF reader");
    return;
  }
  if (!waitForExit) return;
  // Short waits with the message queue emptied in between keep the
  // application responsive while the reader is open.
  while (!process->WaitForExit(kWaitStepMilliseconds)) platform::PumpMessages();
}

void LogDiagnostics(const std::function<void(const Text&)>& log) {
  const auto emit = [&log](const Text& line) {
    if (log) log(line);
  };
  emit("Diagnostics");
  const Text progId = GetPdfProgId();
  emit("PDF Prog.ID: " + progId);
  if (!progId.empty()) emit("PDF cmd: " + DeducePdfReadCommand(progId));
}

}  // namespace quillane
