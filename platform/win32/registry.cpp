// The registry on Windows: the real one, through the wide interfaces. Key
// paths, value names and REG_SZ data cross as UTF-16, the form Windows stores
// them in, so the registry editor and other programs read the same text.
#include "base/error.h"
#include "platform/platform.h"
#include "platform/win32/win32_util.h"

namespace quillane::platform {

using win32::ToDword;
using win32::ToUtf16;
using win32::ToUtf8;

namespace {

HKEY RootKey(RegistryRoot root) {
  return root == RegistryRoot::kClassesRoot ? HKEY_CLASSES_ROOT : HKEY_CURRENT_USER;
}

}  // namespace

struct RegistryKey::Impl {
  HKEY key = nullptr;

  ~Impl() {
    if (key != nullptr) RegCloseKey(key);
  }

  // RegQueryValueExW into `buffer`; the type and size (in bytes) are reported
  // back. A name that is not well-formed UTF-8 names no value.
  LONG Query(const Text& name, DWORD& type, BYTE* buffer, DWORD& size) const {
    const auto wideName = ToUtf16(name);
    if (!wideName) return ERROR_FILE_NOT_FOUND;
    return RegQueryValueExW(key, wideName->c_str(), nullptr, &type, buffer, &size);
  }
};

RegistryKey::RegistryKey(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

RegistryKey::~RegistryKey() = default;

std::unique_ptr<RegistryKey> RegistryKey::Open(RegistryRoot root, const Text& path) {
  const auto widePath = ToUtf16(path);
  if (!widePath) return nullptr;
  auto impl = std::make_unique<Impl>();
  if (RegOpenKeyExW(RootKey(root), widePath->c_str(), 0, KEY_ALL_ACCESS, &impl->key) !=
      ERROR_SUCCESS) {
    return nullptr;
  }
  return std::unique_ptr<RegistryKey>(new RegistryKey(std::move(impl)));
}

std::unique_ptr<RegistryKey> RegistryKey::OpenOrCreate(RegistryRoot root, const Text& path) {
  // Creating an empty path would only reopen the root, so it is opened instead.
  if (path.empty()) return Open(root, path);
  const auto widePath = ToUtf16(path);
  if (!widePath) return nullptr;
  auto impl = std::make_unique<Impl>();
  DWORD disposition = 0;
  if (RegCreateKeyExW(RootKey(root), widePath->c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &impl->key, &disposition) != ERROR_SUCCESS) {
    return nullptr;
  }
  return std::unique_ptr<RegistryKey>(new RegistryKey(std::move(impl)));
}

std::unique_ptr<RegistryKey> RegistryKey::OpenReadOnly(RegistryRoot root, const Text& path) {
  const auto widePath = ToUtf16(path);
  if (!widePath) return nullptr;
  // Some keys refuse change notification or enumeration to ordinary users,
  // so the rights are narrowed step by step down to reading values.
  for (const REGSAM access :
       {REGSAM{KEY_READ}, REGSAM{KEY_READ & ~KEY_NOTIFY}, REGSAM{KEY_QUERY_VALUE}}) {
    auto impl = std::make_unique<Impl>();
    if (RegOpenKeyExW(RootKey(root), widePath->c_str(), 0, access, &impl->key) == ERROR_SUCCESS) {
      return std::unique_ptr<RegistryKey>(new RegistryKey(std::move(impl)));
    }
  }
  return nullptr;
}

bool RegistryKey::ValueExists(const Text& name) const {
  DWORD type = 0;
  DWORD size = 0;
  return impl_->Query(name, type, nullptr, size) == ERROR_SUCCESS;
}

Text RegistryKey::ReadString(const Text& name) const {
  DWORD type = 0;
  DWORD size = 0;
  if (impl_->Query(name, type, nullptr, size) != ERROR_SUCCESS || size == 0) return {};
  // The size counts bytes; a careless writer may have stored an odd number,
  // whose last byte is no whole UTF-16 unit and is dropped.
  std::wstring data(size / 2 + 1, L'\0');
  if (impl_->Query(name, type, reinterpret_cast<BYTE*>(data.data()), size) != ERROR_SUCCESS) {
    throw Error("Failed to get data for '" + name + "'");
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) {
    throw Error("Invalid data type for '" + name + "'");
  }
  // The stored terminator, and anything a careless writer put after it, go.
  data.resize(std::min<std::size_t>(size / 2, data.find(L'\0')));
  return ToUtf8(data);
}

bool RegistryKey::ReadBool(const Text& name) const {
  DWORD type = 0;
  DWORD value = 0;
  DWORD size = sizeof value;
  // Data longer than four bytes do not fit and fail the query (ERROR_MORE_DATA).
  if (impl_->Query(name, type, reinterpret_cast<BYTE*>(&value), size) != ERROR_SUCCESS) {
    throw Error("Failed to get data for '" + name + "'");
  }
  if (type != REG_DWORD) throw Error("Invalid data type for '" + name + "'");
  return value != 0;
}

void RegistryKey::WriteString(const Text& name, const Text& value) {
  // Text that is not well-formed UTF-8 is not stored at all rather than
  // stored as other text.
  const auto wideName = ToUtf16(name);
  const auto wideValue = ToUtf16(value);
  if (!wideName || !wideValue) throw Error("Failed to set data for '" + name + "'");
  // REG_SZ is stored with its terminating NUL.
  const LONG status = RegSetValueExW(
      impl_->key, wideName->c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(wideValue->c_str()),
      ToDword((static_cast<std::int64_t>(wideValue->size()) + 1) * 2));
  if (status != ERROR_SUCCESS) throw Error("Failed to set data for '" + name + "'");
}

}  // namespace quillane::platform
