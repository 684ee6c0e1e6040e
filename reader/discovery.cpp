#include "reader/discovery.h"

#include <memory>
#include <optional>

#include "platform/platform.h"

namespace quillane {
namespace {

using platform::RegistryKey;
using platform::RegistryRoot;

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

bool IsOwnIdentifier(const Text& progId) {
  return progId == kOwnProgId || progId == kOwnApplication || progId == platform::kOwnDesktopEntry;
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

// The command of `progId`'s default verb, or empty. Quillane's own verb
// would start Quillane again; its command is not even read.
Text RegisteredCommand(const Text& progId) {
  const std::optional<platform::OpenerVerb> opener = platform::DocumentOpenerVerb(progId, kOwnVerb);
  if (!opener || opener->Verb == kOwnVerb) return {};
  return opener->Command;
}

}  // namespace

Text GetPdfProgId() { return platform::DocumentOpenerProgId(); }

Text DeducePdfReadCommand(const Text& progId) {
  CachedCommand cached;
  if (const auto legacy = RegistryKey::Open(RegistryRoot::kCurrentUser, kLegacyKey)) {
    cached = ReadCachedCommand(*legacy, cached);
  }
  if (const auto configuration =
          RegistryKey::OpenOrCreate(RegistryRoot::kCurrentUser, kConfigurationKey)) {
    cached = ReadCachedCommand(*configuration, cached);
  }

  // Quillane's own identifiers are not looked up at all.
  const Text deduced = IsOwnIdentifier(progId) ? Text() : RegisteredCommand(progId);

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
