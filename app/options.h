// The command line as values: what one invocation asks for (runs over one or
// more inputs, the diagnostics report, help, the version, or a usage error)
// and the options of each run, with the settings stored in the configuration
// applied. Parsing is pure; reading the stored settings is the one registry
// access.
#ifndef QUILLANE_APP_OPTIONS_H_
#define QUILLANE_APP_OPTIONS_H_

#include <optional>
#include <vector>

#include "base/text.h"
#include "pdf/update/replace_mode.h"
#include "platform/platform.h"

namespace quillane {

// The options of one run.
struct Options {
  // The PDF to process ("/in", or an argument that is no option); empty means
  // nothing to do.
  Text InputFile;
  // "/out": where to write; empty means the name is derived from the input.
  Text OutputFile;
  // "/overwrite": an existing output may be replaced.
  bool OverwriteOutput = false;
  // "/tempexec": write into a folder of the user's own in the temporary
  // directory, show the result in the reader, delete it when the reader has
  // ended (keep it when the reader ended at once).
  bool TempExec = false;
  // The effective mode: "/noother" or "/outline" (the last one given),
  // unless the configuration's stored "ReplaceObject" names a mode, which
  // wins.
  quillane::ReplaceMode ReplaceMode = ReplaceDefault;
  // "/redirect": hand the input to the reader and do nothing else.
  bool Redirect = false;
  // "/inline", or the stored "ReplaceInline" non-zero: content streams with
  // inline images get a new version too (not in the light mode, which
  // appends nothing).
  bool ReplaceInline = false;
  // "/showtext", or the stored "ShowText" non-zero: invisible text (an OCR
  // layer) is drawn visibly (not in the light mode, which appends nothing).
  bool ShowText = false;
  // "/compact": the output is a new, complete file of the objects the
  // document still uses instead of the input and an update (not with the
  // light mode, which keeps every byte: a usage error).
  bool Compact = false;
};

// What the configuration key stores for the runs.
struct StoredSettings {
  // "ReplaceObject": "none", "tgraybox" or "outline"; nothing for a missing
  // key or value or any other text.
  std::optional<ReplaceMode> Mode;
  // "ReplaceInline" (REG_DWORD), non-zero.
  bool ReplaceInline = false;
  // "ShowText" (REG_DWORD), non-zero.
  bool ShowText = false;
};

// Reads the configuration key: "ReplaceObject", "ReplaceInline" and
// "ShowText". A missing key or value is no error. Throws "Invalid data type
// for 'ReplaceObject'" for a value that is not text, and the registry's
// errors for a "ReplaceInline" or "ShowText" that is not a four-byte
// REG_DWORD.
StoredSettings ReadStoredSettings();

// What an invocation asks for.
struct CommandLine {
  enum class Kind {
    kRuns,         // one run for each of Inputs, all with Options
    kDiagnostics,  // "/diag": the report, no run
    kHelp,         // the usage text ("-h", "--help"; "/?" or nothing on Windows)
    kVersion,      // "-V", "--version"
    kUsageError,   // the usage text after UsageError
  };
  Kind Request = Kind::kRuns;
  // The options every run shares; their InputFile is empty.
  quillane::Options Options;
  // The input files in the order given, from "/in" and from arguments that
  // are no option.
  std::vector<Text> Inputs;
  // What is wrong, for kUsageError; empty when only the usage is to be shown
  // (no input given).
  Text UsageError;
};

// What the invocation asks for: `arguments` (the program's own path
// excluded) parsed by the conventions of `style`, with the configuration
// `stored` applied. Pure: nothing is read or shown. Words are exact and
// case-sensitive; "/in" and "/out" take the next argument whatever it is (a
// file name that begins with "-" or "/" can be given that way); flags stay
// set once given; "/diag", help and version end the parse. An argument that
// is neither an option nor an option's value is an input file, except on
// Windows one that begins with "/", which is ignored. On POSIX any other
// argument that begins with "-" is a usage error, and so is the absence of
// any input. "/out" with more than one input is a usage error on both, and
// so is "/compact" when the light mode is in force. The
// stored mode wins over "/noother" and "/outline", and the stored
// "ReplaceInline" and "ShowText" turn "/inline" and "/showtext" on.
CommandLine ProcessCommandLine(const std::vector<Text>& arguments, platform::CommandLineStyle style,
                               const StoredSettings& stored);

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
