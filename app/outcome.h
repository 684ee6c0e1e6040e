// How one invocation ended, as a value the entry point turns into the exit
// status and tests read directly. Errors are not outcomes: they are
// exceptions, shown by the entry point.
#ifndef QUILLANE_APP_OUTCOME_H_
#define QUILLANE_APP_OUTCOME_H_

#include "platform/platform.h"

namespace quillane {

enum class Outcome {
  // No input was given: nothing was read or written.
  kNothingToDo,
  // The output was written (with "/tempexec" also shown in the reader and
  // deleted once the reader had ended, or kept when the reader ended at once).
  kSaved,
  // "/redirect": the input was handed to the reader.
  kHandedOver,
  // "/diag": the diagnostics report was written.
  kDiagnosticsWritten,
  // The input is encrypted; the refusal was shown and nothing written.
  kRefusedEncrypted,
  // The output exists and "/overwrite" was not given; the refusal was shown
  // and nothing written.
  kRefusedOutputExists,
  // No reader command could be deduced, or the reader could not be started;
  // the warning was shown. With "/tempexec" the output had been written and
  // was deleted again.
  kReaderNotStarted,
};

// Exit statuses, where the system reports them (POSIX): 0 done, 1 an error,
// 2 a usage error, 3 refused (a refusal or a warning box was shown). With
// several inputs the highest one wins. A Windows program always exits with 0.
inline constexpr int kExitDone = 0;
inline constexpr int kExitError = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitRefused = 3;

// The exit status for one outcome, or for kExitError and kExitUsage as they
// are, under the conventions of `style`.
int ExitStatusFor(Outcome outcome, platform::CommandLineStyle style);
int ExitStatusFor(int status, platform::CommandLineStyle style);

}  // namespace quillane

#endif  // QUILLANE_APP_OUTCOME_H_
