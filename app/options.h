// The options of one invocation, as a value: what the command line asks for,
// with the replacement mode stored in the configuration applied. Parsing is
// pure; reading the stored mode is the one registry access.
#ifndef QUILLANE_APP_OPTIONS_H_
#define QUILLANE_APP_OPTIONS_H_

#include <optional>
#include <vector>

#include "base/text.h"
#include "pdf/replace_mode.h"

namespace quillane {

struct Options {
  // "/in": the PDF to process; empty means nothing to do.
  Text InputFile;
  // "/out": where to write; empty means the name is derived from the input.
  Text OutputFile;
  // "/overwrite": an existing output may be replaced.
  bool OverwriteOutput = false;
  // "/tempexec": write into a folder of the user's own in the temporary
  // directory, show the result in the reader, delete it when the reader has
  // ended (keep it when the reader ended at once).
  bool TempExec = false;
  // The effective mode: "/noother", unless the configuration's stored
  // "ReplaceObject" names a mode, which wins.
  quillane::ReplaceMode ReplaceMode = ReplaceDefault;
  // "/redirect": hand the input to the reader and do nothing else.
  bool Redirect = false;
  // "/diag": write the diagnostics report instead of a run.
  bool Diagnostics = false;
};

// The mode the configuration stores in "ReplaceObject": "none" or "tgraybox";
// nothing for a missing key or value or any other text.
// Throws "Invalid data type for 'ReplaceObject'" for a value that is not text.
std::optional<ReplaceMode> ReadStoredReplaceMode();

// Parses `arguments` (the program's own path excluded). Words are exact and
// case-sensitive; "/in" and "/out" take the next argument whatever it is; flags
// stay set once given; unknown arguments are ignored; "/diag" ends the parse.
// `stored` is the configuration's mode, which wins over "/noother".
Options ParseArguments(const std::vector<Text>& arguments, std::optional<ReplaceMode> stored);

// Where a run saves its result.
struct OutputTarget {
  Text Path;
  // The path was built in the folder of the "/tempexec" copies
  // (platform::ViewCopyDirectory, "/tempexec" without "/out"): an existing
  // file there is replaced without asking.
  bool Temporary = false;
};

// "/out" as given; otherwise the input's name with "_Vexlo" before its last
// extension, beside the input, or with "/tempexec" in the folder of the
// "/tempexec" copies. Names the path only: nothing is created.
OutputTarget OutputTargetFor(const Options& options);

}  // namespace quillane

#endif  // QUILLANE_APP_OPTIONS_H_
