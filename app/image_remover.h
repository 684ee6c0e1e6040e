// The job object: one run of Quillane. It holds the options parsed from the
// command line and the registry, the log hook, and the state of the run (the
// in-memory copy of the input and the image objects found in it), and it
// orders every step of the run: load, read the trailer, walk the images,
// write the update, choose the output name, save, and show the result.
#ifndef QUILLANE_APP_IMAGE_REMOVER_H_
#define QUILLANE_APP_IMAGE_REMOVER_H_

#include <memory>
#include <vector>

#include "fileaccess/fileaccess.h"
#include "base/text.h"
#include "pdf/replace_mode.h"
#include "pdf/scanner.h"
#include "reader/reader.h"

namespace quillane {

class TImageRemover {
 public:
  TImageRemover() = default;
  TImageRemover(const TImageRemover&) = delete;
  TImageRemover& operator=(const TImageRemover&) = delete;

  // Resets the option flags, reads the configuration, parses `arguments` (the
  // program's own path excluded) and then either writes the diagnostics
  // report ("/diag") or performs the run. Errors propagate to the caller.
  void ProcessCommandLine(const std::vector<Text>& arguments);

  // Applies `arguments` to the options: "/in" and "/out" take the next
  // argument whatever it is, flags stay set once given, unknown arguments are
  // ignored. Returns true when "/diag" was met; the parse stops there.
  bool ParseArguments(const std::vector<Text>& arguments);

  // Reads "ReplaceObject" ("none" or "tgraybox") into ReplaceMode; a missing
  // key or value, or any other text, leaves it unchanged. A value that is not
  // text throws "Invalid data type for 'ReplaceObject'".
  void ReadConfiguration();

  // Hands `line` to OnLog when a hook is set; otherwise drops it.
  void Log(const Text& line) const;

  // The processing run. Refusals (encrypted input, existing output) end in a
  // message box; errors propagate and nothing is saved.
  void Run();

  // The output path for the current options (derived beside the input, in
  // the temporary directory with TempExec, or OutputFile as given).
  // `temporary` tells whether it was built in the temporary directory.
  Text OutputPath(bool& temporary) const;

  Text InputFile;
  Text OutputFile;
  bool OverwriteOutput = false;
  bool TempExec = false;
  quillane::ReplaceMode ReplaceMode = ReplaceDefault;
  bool Redirect = false;
  // "/inline": content streams with inline images are rewritten too.
  bool ReplaceInline = false;
  LogHook OnLog;
  std::unique_ptr<FileAccess> Source;
  std::vector<ObjectKey> ImageKeys;
};

// The directory part of `path` up to and including its last separator; empty
// when it has none.
Text DirectoryOf(const Text& path);

}  // namespace quillane

#endif  // QUILLANE_APP_IMAGE_REMOVER_H_
