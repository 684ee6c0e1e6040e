// The Win32 process environment: the command line, paths, environment
// variables and message boxes, all through the wide interfaces.
#include "platform/command_line.h"
#include "platform/platform.h"
#include "platform/win32/win32_util.h"

namespace quillane::platform {

using win32::FileSystemPath;
using win32::FullPathName;
using win32::Malformed;
using win32::QueryWideText;
using win32::ToDword;
using win32::ToUtf16;
using win32::ToUtf8;

namespace {

constexpr wchar_t kCaption[] = L"Quillane";

}  // namespace

// ---------------------------------------------------------------------------
// Message boxes

// A text that is not well-formed UTF-8 (a name with a lone surrogate) is
// still shown, with U+FFFD in place of what cannot be shown.
void ShowMessageBox(const Text& text, MessageIcon icon, bool applicationOwned) {
  const HWND owner = applicationOwned ? GetActiveWindow() : nullptr;
  const Text* subject = MessageSubject::Current();
  const Text shown = subject != nullptr ? text + "\n" + *subject : text;
  MessageBoxW(owner, ToUtf16(shown, Malformed::kReplace).value().c_str(), kCaption,
              MB_OK | static_cast<UINT>(icon));
}

CommandLineStyle NativeCommandLineStyle() { return CommandLineStyle::kWindows; }

// A program built for the Windows subsystem has no console: what it would
// print goes nowhere, and the user sees message boxes instead.
void WriteStandardOutput(const Text& /*text*/) {}
void WriteStandardError(const Text& /*text*/) {}

// ---------------------------------------------------------------------------
// Arguments, paths and environment

std::vector<Text> CommandLineArguments(int /*argc*/, char** /*argv*/) {
  // The C runtime's argv follows other quoting rules and holds only what the
  // code page can; the program splits the raw command line itself, in UTF-8
  // (the splitting rule looks at ASCII bytes only), and drops its own path.
  std::vector<Text> arguments = SplitCommandLine(ToUtf8(GetCommandLineW()));
  if (!arguments.empty()) arguments.erase(arguments.begin());
  return arguments;
}

Text ExecutablePath() {
  // GetModuleFileNameW returns the full capacity when it had to cut the path.
  return ToUtf8(QueryWideText(MAX_PATH, [](wchar_t* buffer, DWORD capacity) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer, capacity);
    return length == capacity ? capacity + 1 : length;
  }));
}

Text TemporaryDirectory() {
  return ToUtf8(QueryWideText(
      MAX_PATH, [](wchar_t* buffer, DWORD capacity) { return GetTempPathW(capacity, buffer); }));
}

bool IsPathSeparator(char c) { return c == '\\' || c == ':' || c == '/'; }

bool FileExists(const Text& path) {
  const auto name = FileSystemPath(path);
  if (!name) return false;
  const DWORD attributes = GetFileAttributesW(name->c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void DeleteFile(const Text& path) {
  if (const auto name = FileSystemPath(path)) DeleteFileW(name->c_str());
}

// A path that is not well-formed UTF-8 is named with U+FFFD where it is
// malformed: the form the user sees in a message box anyway.
Text ExpandFileName(const Text& path) {
  if (path.empty()) return path;
  const std::wstring full = FullPathName(ToUtf16(path, Malformed::kReplace).value());
  return full.empty() ? path : ToUtf8(full);
}

Text GetEnvironment(const Text& name) {
  const auto wideName = ToUtf16(name);
  if (!wideName) return {};
  return ToUtf8(QueryWideText(256, [&wideName](wchar_t* buffer, DWORD capacity) {
    return GetEnvironmentVariableW(wideName->c_str(), buffer, capacity);
  }));
}

Text LowerCase(const Text& text) {
  const auto wide = ToUtf16(text);
  if (!wide) {
    // Not UTF-8: only the ASCII letters are known for certain.
    Text lower = text;
    for (char& c : lower) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
  }
  std::wstring lower = *wide;
  // CharLowerBuffW works on a DWORD count; longer texts go in pieces.
  for (std::size_t done = 0; done < lower.size();) {
    const DWORD piece = ToDword(static_cast<std::int64_t>(lower.size() - done));
    CharLowerBuffW(lower.data() + done, piece);
    done += piece;
  }
  return ToUtf8(lower);
}

}  // namespace quillane::platform
