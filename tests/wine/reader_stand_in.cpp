// Stands in for the user's PDF reader on Windows: registered as the command of
// a ProgID, it is started by Quillane through CreateProcessA like a real
// reader. A GUI-subsystem program, as readers are. Environment:
//   QUILLANE_READER_RECORD    receives the command line exactly as started
//                             (GetCommandLineA), then a line "document=yes"
//                             or "document=no": whether argument 1 named an
//                             existing file while the reader ran
//   QUILLANE_READER_DELAY_MS  milliseconds to stay alive first (default 0)
//   QUILLANE_READER_SNAPSHOT  receives a copy of that document
// The record is written last and renamed into place, so whoever sees it knows
// the reader has finished with its document.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string Environment(const char* name) {
  char buffer[32768];
  const DWORD length = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  return length < sizeof buffer ? std::string(buffer, length) : std::string();
}

}  // namespace

int main(int argc, char** argv) {
  if (const std::string delay = Environment("QUILLANE_READER_DELAY_MS"); !delay.empty()) {
    Sleep(static_cast<DWORD>(std::strtoul(delay.c_str(), nullptr, 10)));
  }

  bool document = false;
  if (argc > 1) {
    const DWORD attributes = GetFileAttributesA(argv[1]);
    document =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  }
  if (const std::string snapshot = Environment("QUILLANE_READER_SNAPSHOT");
      document && !snapshot.empty()) {
    CopyFileA(argv[1], snapshot.c_str(), FALSE);
  }

  const std::string record = Environment("QUILLANE_READER_RECORD");
  if (record.empty()) return 0;
  const std::string partial = record + ".partial";
  std::FILE* out = std::fopen(partial.c_str(), "wb");
  if (out == nullptr) return 1;
  std::fprintf(out, "%s\ndocument=%s\n", GetCommandLineA(), document ? "yes" : "no");
  std::fclose(out);
  return MoveFileExA(partial.c_str(), record.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
