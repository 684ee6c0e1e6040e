// The registry file of the POSIX build: the text format that Windows' registry
// editor exports ("Windows Registry Editor Version 5.00", UTF-8 here), read
// into an ordered model and written back with everything the program did not
// change kept as it was: other sections, other values, their order, their
// data and the comment lines between them.
#ifndef QUILLANE_PLATFORM_POSIX_REGISTRY_FILE_H_
#define QUILLANE_PLATFORM_POSIX_REGISTRY_FILE_H_

#include <cstdint>
#include <vector>

#include "base/text.h"

namespace quillane {

// Registry value types, numbered as in the Windows registry.
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;

// The first line of every registry file.
inline constexpr char kRegistryFileHeader[] = "Windows Registry Editor Version 5.00";

struct RegistryValue {
  Text Name;  // empty for the default value, written @
  std::uint32_t Type = kRegSz;
  // The raw data. REG_SZ written as "text" holds the text without a
  // terminator; dword: holds four bytes, little endian; every hex list holds
  // its bytes as listed (hex(2): therefore holds UTF-16LE, as regedit writes).
  Text Data;
  std::vector<Text> Comments;  // comment lines standing before the value
};

struct RegistrySection {
  Text Path;  // as in the section header, root included: HKEY_CURRENT_USER\...
  std::vector<RegistryValue> Values;
  std::vector<Text> Comments;  // comment lines standing before the section
};

// A whole registry file. Sections of the same key may occur more than once;
// as on import, a later value of the same name overrides an earlier one.
class RegistryFile {
 public:
  // Parses the content of the file `fileName` (used in messages only). An
  // empty content is an empty registry. Accepts a UTF-8 byte order mark and
  // CR LF or LF line ends. Throws Error("Registry file \"<fileName>\", line
  // <n>: <what is wrong>") for anything it cannot read; nothing is skipped.
  static RegistryFile Parse(const Text& content, const Text& fileName);

  // The file's text: the header, then each section after a blank line, with
  // the byte order mark and the line end style of the parsed file (LF for a
  // new one). Parse(Write()) gives back an equal model, and a file that Write
  // produced is reproduced byte for byte.
  Text Write() const;

  // True when `path` (root included) has a section of its own or a section of
  // a descendant, as a registry key exists when any key below it exists.
  bool KeyExists(const Text& path) const;

  // The value `name` of the key `path`, the last one when several sections
  // or lines give it; null when absent. The pointer is valid until the next
  // change of the model.
  const RegistryValue* FindValue(const Text& path, const Text& name) const;

  // Appends an empty section for `path` unless the key has a section already.
  void AddKey(const Text& path);

  // Replaces type and data of the value FindValue would return, in place;
  // otherwise appends the value to the key's last section (a new section at
  // the end of the file when the key has none).
  void SetValue(const Text& path, const Text& name, std::uint32_t type, const Text& data);

  std::vector<RegistrySection> Keys;
  std::vector<Text> TrailingComments;  // comment lines after the last value
  bool ByteOrderMark = false;
  bool CrLf = false;
};

// Key and value names compare as in the registry: ASCII letters without
// regard to case, every other byte exactly.
bool SameRegistryName(const Text& a, const Text& b);

// True when a key path or value name can be written to the file and read back
// unchanged: no NUL, CR or LF in it. Key paths need non-empty components too.
bool IsWritableValueName(const Text& name);
bool IsWritableKeyPath(const Text& path);

// UTF-16LE bytes (hex(2): data) as UTF-8. An unpaired surrogate becomes
// U+FFFD; an odd last byte is ignored.
Text Utf16LeToUtf8(const Text& data);

}  // namespace quillane

#endif  // QUILLANE_PLATFORM_POSIX_REGISTRY_FILE_H_
