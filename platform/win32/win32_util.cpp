// The conversions are written out rather than left to MultiByteToWideChar and
// WideCharToMultiByte: those turn a lone surrogate into U+FFFD, which would
// make a name stand for another file, and they treat malformed UTF-8
// differently on different systems (wine included).
#include "platform/win32/win32_util.h"

#include <iterator>

namespace quillane::platform::win32 {

namespace {

constexpr wchar_t kReplacementCharacter = 0xFFFD;

bool IsHighSurrogate(std::uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(std::uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void AppendUtf16(std::wstring& out, std::uint32_t value) {
  if (value < 0x10000) {
    out.push_back(static_cast<wchar_t>(value));
    return;
  }
  value -= 0x10000;
  out.push_back(static_cast<wchar_t>(0xD800 + (value >> 10)));
  out.push_back(static_cast<wchar_t>(0xDC00 + (value & 0x3FF)));
}

void AppendUtf8(Text& out, std::uint32_t value) {
  const auto byte = [&out](std::uint32_t bits) { out.push_back(static_cast<char>(bits & 0xFF)); };
  if (value < 0x80) {
    byte(value);
  } else if (value < 0x800) {
    byte(0xC0 | (value >> 6));
    byte(0x80 | (value & 0x3F));
  } else if (value < 0x10000) {
    byte(0xE0 | (value >> 12));
    byte(0x80 | ((value >> 6) & 0x3F));
    byte(0x80 | (value & 0x3F));
  } else {
    byte(0xF0 | (value >> 18));
    byte(0x80 | ((value >> 12) & 0x3F));
    byte(0x80 | ((value >> 6) & 0x3F));
    byte(0x80 | (value & 0x3F));
  }
}

// "\\?\" joined to a full path; "\\server\share\..." becomes
// "\\?\UNC\server\share\...". Empty for any other kind of full path.
std::wstring LongPathForm(const std::wstring& full) {
  const auto isSlash = [](wchar_t c) { return c == L'\\' || c == L'/'; };
  const bool drive =
      full.size() >= 3 &&
      ((full[0] >= L'A' && full[0] <= L'Z') || (full[0] >= L'a' && full[0] <= L'z')) &&
      full[1] == L':' && isSlash(full[2]);
  if (drive) return L"\\\\?\\" + full;
  // "\\.\" names a device and "\\?\" is the long form already; both are
  // passed on as they stand.
  const bool special = full.size() > 3 && (full[2] == L'.' || full[2] == L'?') && isSlash(full[3]);
  const bool unc =
      full.size() > 2 && isSlash(full[0]) && isSlash(full[1]) && !isSlash(full[2]) && !special;
  if (unc) return L"\\\\?\\UNC\\" + full.substr(2);
  return {};
}

}  // namespace

std::optional<std::wstring> ToUtf16(std::string_view utf8, Malformed malformed) {
  const auto byteAt = [&utf8](std::size_t at) { return static_cast<unsigned char>(utf8[at]); };
  const auto isContinuation = [](unsigned char byte) { return byte >= 0x80 && byte <= 0xBF; };
  std::wstring out;
  out.reserve(utf8.size());
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    const unsigned char lead = byteAt(pos);
    if (lead < 0x80) {
      out.push_back(static_cast<wchar_t>(lead));
      ++pos;
      continue;
    }
    // An encoded surrogate (ED A0..BF 80..BF), the WTF-8 that ToUtf8 makes of
    // a lone surrogate, stands for one character that cannot be shown: one
    // U+FFFD for all three bytes.
    if (lead == 0xED && pos + 2 < utf8.size() && byteAt(pos + 1) >= 0xA0 &&
        isContinuation(byteAt(pos + 1)) && isContinuation(byteAt(pos + 2))) {
      if (malformed == Malformed::kRefuse) return std::nullopt;
      out.push_back(kReplacementCharacter);
      pos += 3;
      continue;
    }
    // The well-formed sequences (Unicode, table 3-7): the lead byte gives the
    // length and the range of the second byte; every later byte is 80..BF.
    // The narrowed ranges after E0, ED, F0 and F4 keep out overlong forms,
    // surrogates and values beyond U+10FFFF. A length of 0 is a byte that
    // leads nothing.
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    std::uint32_t value = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      value = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      value = lead & 0x0Fu;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      value = lead & 0x07u;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    }
    // Takes continuation bytes while they fit; stops at the end of the text,
    // so a cut sequence is malformed as far as it went (one U+FFFD for it).
    std::size_t taken = 1;
    for (; taken < length && pos + taken < utf8.size(); ++taken) {
      const unsigned char next = byteAt(pos + taken);
      if (next < (taken == 1 ? low : 0x80) || next > (taken == 1 ? high : 0xBF)) break;
      value = (value << 6) | (next & 0x3Fu);
    }
    pos += taken;
    if (taken < length || length == 0) {
      if (malformed == Malformed::kRefuse) return std::nullopt;
      out.push_back(kReplacementCharacter);
      continue;
    }
    AppendUtf16(out, value);
  }
  return out;
}

Text ToUtf8(std::wstring_view utf16) {
  Text out;
  out.reserve(utf16.size());
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    std::uint32_t value = static_cast<std::uint16_t>(utf16[i]);
    if (IsHighSurrogate(value) && i + 1 < utf16.size() &&
        IsLowSurrogate(static_cast<std::uint16_t>(utf16[i + 1]))) {
      value =
          0x10000 + ((value - 0xD800) << 10) + (static_cast<std::uint16_t>(utf16[i + 1]) - 0xDC00u);
      ++i;
    }
    AppendUtf8(out, value);
  }
  return out;
}

std::wstring FullPathName(const std::wstring& path) {
  if (path.empty()) return {};
  return QueryWideText(MAX_PATH, [&path](wchar_t* buffer, DWORD capacity) {
    return GetFullPathNameW(path.c_str(), capacity, buffer, nullptr);
  });
}

std::optional<std::wstring> FileSystemPath(const Text& path, std::size_t longestPlain) {
  std::optional<std::wstring> wide = ToUtf16(path);
  if (!wide) return std::nullopt;
  const std::wstring full = FullPathName(*wide);
  if (full.size() <= longestPlain) return wide;
  std::wstring longForm = LongPathForm(full);
  if (longForm.empty()) return wide;
  return longForm;
}

Text WindowsErrorText(DWORD code) {
  wchar_t buffer[1024];
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, buffer, static_cast<DWORD>(std::size(buffer)), nullptr);
  while (length > 0 && buffer[length - 1] <= L' ') --length;
  if (length == 0) return "System error " + IntToText(code);
  return ToUtf8(std::wstring_view(buffer, length));
}

}  // namespace quillane::platform::win32
