// Starts a command line as the Windows shell starts a verb's command, so that
// scripts can hand Quillane names in any script without a batch file (cmd
// reads those in the console's code page):
//
//   wide_command [--escapes] <command line>
//
// The command line is this program's own argument 1 (CommandLineToArgvW),
// started with CreateProcessW; with --escapes, each "\u{XXXX}" in it stands
// for the UTF-16 unit XXXX (a lone surrogate, which no Unix argument can carry
// into wine). Waits for the command to end and exits with its exit code; 120
// when it cannot start, 121 on a usage error.
#include <cwchar>
#include <string>
#include <vector>

#include "platform/win32/win32_util.h"
// After windows.h, which it needs.
#include <shellapi.h>

namespace {

std::wstring Unescape(const std::wstring& line) {
  std::wstring out;
  for (std::size_t pos = 0; pos < line.size(); ++pos) {
    if (line.compare(pos, 3, L"\\u{") == 0) {
      const std::size_t close = line.find(L'}', pos);
      if (close != std::wstring::npos) {
        out.push_back(static_cast<wchar_t>(
            std::wcstoul(line.substr(pos + 3, close - pos - 3).c_str(), nullptr, 16)));
        pos = close;
        continue;
      }
    }
    out.push_back(line[pos]);
  }
  return out;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return 121;
  const bool escapes = argc == 3 && std::wcscmp(argv[1], L"--escapes") == 0;
  if (argc != 2 && !escapes) return 121;
  std::wstring line = escapes ? Unescape(argv[2]) : std::wstring(argv[1]);
  LocalFree(argv);

  std::vector<wchar_t> mutableLine(line.begin(), line.end());
  mutableLine.push_back(L'\0');
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &started)) {
    return 120;
  }
  WaitForSingleObject(started.hProcess, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(started.hProcess, &status);
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  return static_cast<int>(status);
}
