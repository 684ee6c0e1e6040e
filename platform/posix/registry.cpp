// The registry on POSIX: a text file in the format Windows' registry editor
// exports, at $QUILLANE_REGISTRY, else $XDG_CONFIG_HOME/quillane/registry.reg
// (~/.config/quillane/registry.reg), read once per process
// (platform/posix/registry.h). It holds what the file holds and nothing else:
// the desktop's own association reaches the document opener by its own way
// (platform/desktop_opener.h).
#include <sys/stat.h>

#include <cerrno>
#include <memory>
#include <optional>

#include "base/error.h"
#include "platform/platform.h"
#include "platform/posix/posix_util.h"
#include "platform/posix/registry.h"
#include "platform/posix/registry_file.h"

namespace quillane::platform {

namespace {

const char kCurrentUserName[] = "HKEY_CURRENT_USER";
const char kClassesRootName[] = "HKEY_CLASSES_ROOT";

Text RegistryFilePath() {
  Text own = GetEnvironment("QUILLANE_REGISTRY");
  if (!own.empty()) return own;
  // Relative XDG directories are invalid and to be ignored.
  const Text configHome = GetEnvironment("XDG_CONFIG_HOME");
  if (posix::IsAbsolutePath(configHome)) return configHome + "/quillane/registry.reg";
  return GetEnvironment("HOME") + "/.config/quillane/registry.reg";
}

// The registry file's content; a missing file is an empty registry, while
// every other failure (a folder, no access, a malformed line) is an error.
RegistryFile LoadRegistryFile(const Text& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 && errno == ENOENT) return RegistryFile{};
  return RegistryFile::Parse(ReadWholeFile(path), path);
}

// The registry file as this process knows it, by path (the path comes from the
// environment at every open); replaced by each write of the process.
struct KeptRegistryFile {
  Text Path;
  std::shared_ptr<const RegistryFile> File;
};
std::optional<KeptRegistryFile> keptRegistryFile;

std::shared_ptr<const RegistryFile> CurrentRegistryFile(const Text& path) {
  if (!keptRegistryFile || keptRegistryFile->Path != path) {
    keptRegistryFile =
        KeptRegistryFile{path, std::make_shared<RegistryFile>(LoadRegistryFile(path))};
  }
  return keptRegistryFile->File;
}

// Applies `change` to the registry file and writes it, then makes the result
// the file this process knows. The file is read again first, so that nothing
// another program wrote since the process read it is lost. Throws the file
// errors; the file known then stays as it was.
template <typename Change>
std::shared_ptr<const RegistryFile> UpdateRegistryFile(const Text& path, Change change) {
  RegistryFile file = LoadRegistryFile(path);
  change(file);
  posix::CreateFolders(posix::SplitFolder(path).first);
  const Text content = file.Write();
  OutputFile output(path);
  output.Write(content.data(), posix::ToInt64(content.size()));
  output.Commit();
  keptRegistryFile = KeptRegistryFile{path, std::make_shared<RegistryFile>(std::move(file))};
  return keptRegistryFile->File;
}

// Joins the components of a key path, dropping empty ones, so "a\\b\" is a\b.
Text NormaliseKeyPath(const Text& path) {
  Text result;
  for (const Text& part : SplitText(path, '\\')) {
    if (part.empty()) continue;
    if (!result.empty()) result += '\\';
    result += part;
  }
  return result;
}

Text RegistryErrorName(const Text& what, const Text& name) { return what + " '" + name + "'"; }

}  // namespace

namespace posix {

void ForgetRegistryReads() { keptRegistryFile.reset(); }

}  // namespace posix

struct RegistryKey::Impl {
  Text FullPath;  // root name included: HKEY_CURRENT_USER\...
  Text FilePath;  // the registry file as found when the key was opened
  std::shared_ptr<const RegistryFile> Snapshot;

  const RegistryValue* Find(const Text& name) const { return Snapshot->FindValue(FullPath, name); }

  static std::unique_ptr<Impl> Open(RegistryRoot root, const Text& path, bool create);
};

std::unique_ptr<RegistryKey::Impl> RegistryKey::Impl::Open(RegistryRoot root, const Text& path,
                                                           bool create) {
  const Text relative = NormaliseKeyPath(path);
  const Text rootName = root == RegistryRoot::kCurrentUser ? kCurrentUserName : kClassesRootName;
  const Text full = relative.empty() ? rootName : rootName + "\\" + relative;
  const Text filePath = RegistryFilePath();
  std::shared_ptr<const RegistryFile> file = CurrentRegistryFile(filePath);
  if (!relative.empty() && !file->KeyExists(full)) {
    if (!create || !IsWritableKeyPath(full)) return nullptr;
    // The real registry creates a key at once, so the file is written now.
    try {
      file = UpdateRegistryFile(filePath, [&full](RegistryFile& changed) { changed.AddKey(full); });
    } catch (const Error&) {
      return nullptr;
    }
  }
  auto impl = std::make_unique<Impl>();
  impl->FullPath = full;
  impl->FilePath = filePath;
  impl->Snapshot = std::move(file);
  return impl;
}

RegistryKey::RegistryKey(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

RegistryKey::~RegistryKey() = default;

std::unique_ptr<RegistryKey> RegistryKey::Open(RegistryRoot root, const Text& path) {
  auto impl = Impl::Open(root, path, false);
  return impl ? std::unique_ptr<RegistryKey>(new RegistryKey(std::move(impl))) : nullptr;
}

std::unique_ptr<RegistryKey> RegistryKey::OpenOrCreate(RegistryRoot root, const Text& path) {
  auto impl = Impl::Open(root, path, true);
  return impl ? std::unique_ptr<RegistryKey>(new RegistryKey(std::move(impl))) : nullptr;
}

std::unique_ptr<RegistryKey> RegistryKey::OpenReadOnly(RegistryRoot root, const Text& path) {
  return Open(root, path);
}

bool RegistryKey::ValueExists(const Text& name) const { return impl_->Find(name) != nullptr; }

Text RegistryKey::ReadString(const Text& name) const {
  const RegistryValue* value = impl_->Find(name);
  if (value == nullptr || value->Data.empty()) return "";
  Text text;
  if (value->Type == kRegSz) {
    text = value->Data;
  } else if (value->Type == kRegExpandSz) {
    text = Utf16LeToUtf8(value->Data);
  } else {
    throw Error(RegistryErrorName("Invalid data type for", name));
  }
  return text.substr(0, text.find('\0'));
}

bool RegistryKey::ReadBool(const Text& name) const {
  const RegistryValue* value = impl_->Find(name);
  // An absent value fails like a query with a four-byte buffer that is too
  // small: the registry reports no data.
  if (value == nullptr || value->Data.size() > 4) {
    throw Error(RegistryErrorName("Failed to get data for", name));
  }
  if (value->Type != kRegDword) throw Error(RegistryErrorName("Invalid data type for", name));
  return value->Data.find_first_not_of('\0') != Text::npos;
}

void RegistryKey::WriteString(const Text& name, const Text& value) {
  const Text failed = RegistryErrorName("Failed to set data for", name);
  if (!IsWritableValueName(name)) throw Error(failed);
  try {
    impl_->Snapshot = UpdateRegistryFile(impl_->FilePath, [&](RegistryFile& file) {
      file.SetValue(impl_->FullPath, name, kRegSz, value);
    });
  } catch (const Error&) {
    throw Error(failed);
  }
}

}  // namespace quillane::platform
