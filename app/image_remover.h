// The job: one processing run of Quillane over one input, and the
// diagnostics report. The run orders every step: load, read the trailer,
// walk the images, write the update, save under the output name decided
// once, and show the result; it says how it ended as an Outcome. The entry
// point (main.cpp) parses the command line (ProcessCommandLine, options.h),
// hands each run its options and its file access, and turns outcomes and
// errors into the exit status.
#ifndef QUILLANE_APP_IMAGE_REMOVER_H_
#define QUILLANE_APP_IMAGE_REMOVER_H_

#include "app/options.h"
#include "app/outcome.h"
#include "base/log_hook.h"
#include "base/text.h"
#include "fileaccess/fileaccess.h"
#include "pdf/objects/cross_reference.h"

namespace quillane {

class TImageRemover {
 public:
  TImageRemover() = default;
  TImageRemover(const TImageRemover&) = delete;
  TImageRemover& operator=(const TImageRemover&) = delete;

  // The "/diag" report through the log hook. Errors propagate.
  Outcome WriteDiagnostics() const;

  // The processing run for `options`, reading the input through `source`,
  // which it loads and saves (the entry point gives a WindowedFileAccess;
  // tests may give a file in memory). Refusals (encrypted input, existing
  // output, no reader) end in a message box and are the outcome; errors
  // propagate and nothing is saved then. An output file that appears while
  // the run works is refused like one that was there before: without
  // "/overwrite" the run never replaces a file. With "/compact" the new
  // file is made and saved through a WindowedFileAccess of its own, into
  // which the spills of `source` are appended: `source` is then one too.
  // REQUIRES: `source` is new (nothing loaded).
  Outcome Run(const Options& options, FileAccess& source) const;

  // Hands `line` to OnLog when a hook is set; otherwise drops it.
  void Log(const Text& line) const;

  // Receives every diagnostic line of a run and of the report; unset, the
  // lines are dropped.
  LogHook OnLog;

  // The folder of the placeholder templates, ending with a path separator;
  // empty for the one TemplateDirectory finds beside the running program.
  Text TemplateFolder;

 private:
  // "/compact": the new file of the objects `source` still uses, with the
  // images replaced (and with "/inline" the streams rewritten), appended to
  // the empty `output`; `rebuilt` is a damaged file's rebuilt table, null to
  // read the cross-reference.
  void WriteCompact(const Options& options, const FileAccess& source, const Text& templateDirectory,
                    const CrossReference* rebuilt, FileAccess& output) const;
};

}  // namespace quillane

#endif  // QUILLANE_APP_IMAGE_REMOVER_H_
