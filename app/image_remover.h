// The job: one invocation of Quillane. It turns the command line into what
// the invocation asks for (with the stored configuration applied), writes the
// diagnostics report, and performs a processing run for each input, saying
// how it ended as an Outcome. The run orders every step: load, read the
// trailer, walk the images, write the update, choose the output name, save,
// and show the result. The entry point (main.cpp) drives these and turns
// outcomes and errors into the exit status.
#ifndef QUILLANE_APP_IMAGE_REMOVER_H_
#define QUILLANE_APP_IMAGE_REMOVER_H_

#include <vector>

#include "app/options.h"
#include "app/outcome.h"
#include "base/log_hook.h"
#include "base/text.h"

namespace quillane {

class TImageRemover {
 public:
  TImageRemover() = default;
  TImageRemover(const TImageRemover&) = delete;
  TImageRemover& operator=(const TImageRemover&) = delete;

  // Reads the stored "ReplaceObject" and parses `arguments` (the program's
  // own path excluded) by the system's conventions: what this invocation
  // asks for. Throws the registry error of a stored value that is not text.
  CommandLine ProcessCommandLine(const std::vector<Text>& arguments) const;

  // The "/diag" report through the log hook. Errors propagate.
  Outcome WriteDiagnostics() const;

  // The processing run for `options`. Refusals (encrypted input, existing
  // output, no reader) end in a message box and are the outcome; errors
  // propagate and nothing is saved then.
  Outcome Run(const Options& options) const;

  // Hands `line` to OnLog when a hook is set; otherwise drops it.
  void Log(const Text& line) const;

  // Receives every diagnostic line of a run and of the report; unset, the
  // lines are dropped.
  LogHook OnLog;
};

}  // namespace quillane

#endif  // QUILLANE_APP_IMAGE_REMOVER_H_
