// Answers the message boxes of another program the way a user would, so that
// scripts can check them under a real window system (wine or Windows):
//
//   box_clicker <record file> [<boxes> [<timeout ms>]]
//
// For each of <boxes> (default 1) top-level windows captioned "Quillane", in
// order, the record gets one line
//   icon=<icon> owned=<0|1> buttons=<texts> text=<message as shown, in UTF-8>
// with <icon> as ShownBox describes. The record is written to
// "<record file>.partial", one flushed line per box, and renamed when done, so
// whoever sees it knows the clicker has finished. Exit status: 0 when every box was answered, 2
// when the time ran out (default 30000 ms for all boxes together), 1 on a usage error.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "message_box_probe.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: box_clicker <record file> [<boxes> [<timeout ms>]]\n", stderr);
    return 1;
  }
  const std::string record = argv[1];
  const long boxes = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 1;
  const ULONGLONG timeout = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 30000;
  const ULONGLONG deadline = GetTickCount64() + timeout;

  const std::string partial = record + ".partial";
  std::FILE* out = std::fopen(partial.c_str(), "wb");
  if (out == nullptr) return 1;
  long answered = 0;
  for (; answered < boxes; ++answered) {
    const auto box = quillane::test::WaitForQuillaneBox(deadline);
    if (!box) break;
    // Recorded before OK is pressed: the program may end right after it, and
    // whoever then stops the clicker still finds every box in the record.
    std::fprintf(out, "icon=%s owned=%d buttons=%s text=%s\n", box->shown.icon.c_str(),
                 box->shown.owned ? 1 : 0, box->shown.buttons.c_str(), box->shown.text.c_str());
    std::fflush(out);
    quillane::test::PressOk(*box, deadline);
  }
  std::fclose(out);
  MoveFileExA(partial.c_str(), record.c_str(), MOVEFILE_REPLACE_EXISTING);
  return answered == boxes ? 0 : 2;
}
