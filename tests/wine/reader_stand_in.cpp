// Stands in for the user's PDF reader on Windows: registered as the command of
// a ProgID, it is started by Quillane through CreateProcessW like a real
// reader. A GUI-subsystem program, as readers are. Environment:
//   QUILLANE_READER_RECORD    receives the command line exactly as started
//                             (GetCommandLineW, in UTF-8; a lone surrogate
//                             in WTF-8), then a line "document=yes" or
//                             "document=no": whether argument 1 named an
//                             existing file while the reader ran
//   QUILLANE_READER_DELAY_MS  milliseconds to stay alive first (default 0)
//   QUILLANE_READER_SNAPSHOT  receives a copy of that document
// Argument 1 is taken as readers take it (CommandLineToArgvW). The record is
// written last and renamed into place, so whoever sees it knows the reader has
// finished with its document.
#include <cstdlib>
#include <string>

#include "platform/win32/win32_util.h"
// After windows.h, which it needs.
#include <shellapi.h>

namespace {

std::wstring Environment(const wchar_t* name) {
  wchar_t buffer[32768];
  const DWORD length = GetEnvironmentVariableW(name, buffer, 32768);
  return length < 32768 ? std::wstring(buffer, length) : std::wstring();
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool done =
      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
      written == bytes.size();
  return CloseHandle(file) && done;
}

}  // namespace

int main() {
  if (const std::wstring delay = Environment(L"QUILLANE_READER_DELAY_MS"); !delay.empty()) {
    Sleep(static_cast<DWORD>(std::wcstoul(delay.c_str(), nullptr, 10)));
  }

  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  const std::wstring document = argv != nullptr && argc > 1 ? argv[1] : L"";
  LocalFree(argv);
  const DWORD attributes =
      document.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(document.c_str());
  const bool isDocument =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  if (const std::wstring snapshot = Environment(L"QUILLANE_READER_SNAPSHOT");
      isDocument && !snapshot.empty()) {
    CopyFileW(document.c_str(), snapshot.c_str(), FALSE);
  }

  const std::wstring record = Environment(L"QUILLANE_READER_RECORD");
  if (record.empty()) return 0;
  const std::wstring partial = record + L".partial";
  const std::string content = quillane::platform::win32::ToUtf8(GetCommandLineW()) +
                              "\ndocument=" + (isDocument ? "yes" : "no") + "\n";
  if (!WriteWholeFile(partial, content)) return 1;
  return MoveFileExW(partial.c_str(), record.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
