// The Win32 process environment: the command line, paths, environment
// variables and message boxes.
#include "platform/command_line.h"
#include "platform/platform.h"
#include "platform/win32/win32_util.h"

namespace quillane::platform {

using win32::QueryText;
using win32::ToDword;

namespace win32 {

Text WindowsErrorText(DWORD code) {
  char buffer[1024];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, buffer, sizeof buffer, nullptr);
  while (length > 0 && static_cast<unsigned char>(buffer[length - 1]) <= ' ') --length;
  if (length == 0) return "System error " + IntToText(code);
  return Text(buffer, length);
}

}  // namespace win32

namespace {

constexpr char kCaption[] = "Quillane";

}  // namespace

// ---------------------------------------------------------------------------
// Message boxes

void ShowMessageBox(const Text& text, MessageIcon icon, bool applicationOwned) {
  const HWND owner = applicationOwned ? GetActiveWindow() : nullptr;
  MessageBoxA(owner, text.c_str(), kCaption, MB_OK | static_cast<UINT>(icon));
}

CommandLineStyle NativeCommandLineStyle() { return CommandLineStyle::kWindows; }

// A program built for the Windows subsystem has no console: what it would
// print goes nowhere, and the user sees message boxes instead.
void WriteStandardOutput(const Text& /*text*/) {}
void WriteStandardError(const Text& /*text*/) {}

// ---------------------------------------------------------------------------
// Arguments, paths and environment

std::vector<Text> CommandLineArguments(int /*argc*/, char** /*argv*/) {
  // The C runtime's argv follows other quoting rules; the program splits the
  // raw command line itself and drops its own path.
  std::vector<Text> arguments = SplitCommandLine(GetCommandLineA());
  if (!arguments.empty()) arguments.erase(arguments.begin());
  return arguments;
}

Text ExecutablePath() {
  // GetModuleFileNameA returns the full capacity when it had to cut the path.
  Text path = QueryText(MAX_PATH, [](char* buffer, DWORD capacity) {
    const DWORD length = GetModuleFileNameA(nullptr, buffer, capacity);
    return length == capacity ? capacity + 1 : length;
  });
  return path;
}

Text TemporaryDirectory() {
  return QueryText(MAX_PATH,
                   [](char* buffer, DWORD capacity) { return GetTempPathA(capacity, buffer); });
}

bool IsPathSeparator(char c) { return c == '\\' || c == ':' || c == '/'; }

bool FileExists(const Text& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void DeleteFile(const Text& path) { DeleteFileA(path.c_str()); }

Text ExpandFileName(const Text& path) {
  if (path.empty()) return path;
  Text full = QueryText(MAX_PATH, [&path](char* buffer, DWORD capacity) {
    return GetFullPathNameA(path.c_str(), capacity, buffer, nullptr);
  });
  return full.empty() ? path : full;
}

Text GetEnvironment(const Text& name) {
  return QueryText(256, [&name](char* buffer, DWORD capacity) {
    return GetEnvironmentVariableA(name.c_str(), buffer, capacity);
  });
}

Text LowerCase(const Text& text) {
  Text lower = text;
  // CharLowerBuffA works on a DWORD count; longer texts go in pieces.
  for (std::size_t done = 0; done < lower.size();) {
    const DWORD piece = ToDword(static_cast<std::int64_t>(lower.size() - done));
    CharLowerBuffA(lower.data() + done, piece);
    done += piece;
  }
  return lower;
}

}  // namespace quillane::platform
