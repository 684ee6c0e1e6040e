// Reader launch: opens a document in the user's PDF reader (found by
// reader/discovery.h) and writes the "/diag" report of that discovery.
#ifndef QUILLANE_READER_LAUNCH_H_
#define QUILLANE_READER_LAUNCH_H_

#include <chrono>
#include "base/log_hook.h"
#include "base/text.h"

namespace quillane {

// How an attempt to open a document in the reader ended.
enum class ReaderStart {
  kStarted,    // the reader was started (and, when asked, has ended)
  kNoCommand,  // no command could be deduced; the warning was shown
  kFailed,     // the command could not be started; the warning was shown
  // Asked to wait, the reader ended less than kEndedAtOnceWithin after its
  // start: most likely it handed the document to an instance already running
  // (as single-instance readers and launchers such as xdg-open do), which may
  // not have opened it yet.
  kEndedAtOnce,
};

inline constexpr std::chrono::seconds kEndedAtOnceWithin{3};

// Opens `documentPath` in the user's PDF reader: every "%1" of the command
// stands for the path (Process::StartWithDocument: on POSIX the absolute path
// as one argument; on Windows the path as it is, without added quotes). With
// `waitForExit` the call returns only once the reader has ended, dispatching
// pending window messages every 200 ms meanwhile; without it, right after the
// start.
// Refusals are warning boxes, and the result says which was shown: "Could not
// deduce command to start PDF reader" when there is no ProgID or no command
// (kNoCommand), "Failed to start PDF reader" when the process cannot be
// started (kFailed).
// Throws the registry errors of GetPdfProgId and DeducePdfReadCommand.
ReaderStart StartPdfReader(const Text& documentPath, bool waitForExit);

// The "/diag" report, one line per call of `log`, without line terminators:
// "Diagnostics", "PDF Prog.ID: " + ProgID and, when the ProgID is non-empty,
// "PDF cmd: " + DeducePdfReadCommand(ProgID), with its registry side effects.
// An empty `log` drops the lines; the discovery still runs.
// Throws the registry errors of GetPdfProgId and DeducePdfReadCommand.
void LogDiagnostics(const LogHook& log);

}  // namespace quillane

#endif  // QUILLANE_READER_LAUNCH_H_
