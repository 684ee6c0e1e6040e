#include "app/options.h"

#include <memory>

#include "platform/platform.h"
#include "reader/discovery.h"

namespace quillane {

namespace {

constexpr char kReplaceObject[] = "ReplaceObject";
constexpr char kReplaceInline[] = "ReplaceInline";
constexpr char kShowText[] = "ShowText";
constexpr char kOutputSuffix[] = "_Vexlo";

// The extension: from the last dot of the file name to the end; a dot in a
// directory name does not count.
Text ExtensionOf(const Text& path) {
  const Text name = platform::FileNameOf(path);
  const std::size_t dot = name.rfind('.');
  return dot == Text::npos ? Text() : name.substr(dot);
}

Text WithoutExtension(const Text& path, const Text& extension) {
  return path.substr(0, path.size() - extension.size());
}

}  // namespace

StoredSettings ReadStoredSettings() {
  StoredSettings stored;
  const auto key =
      platform::RegistryKey::Open(platform::RegistryRoot::kCurrentUser, kConfigurationKey);
  if (key == nullptr) return stored;
  if (key->ValueExists(kReplaceObject)) {
    const Text value = key->ReadString(kReplaceObject);
    if (value == "none") stored.Mode = ReplaceNone;
    if (value == "tgraybox") stored.Mode = ReplaceTGrayBox;
    if (value == "outline") stored.Mode = ReplaceOutline;
  }
  if (key->ValueExists(kReplaceInline)) stored.ReplaceInline = key->ReadBool(kReplaceInline);
  if (key->ValueExists(kShowText)) stored.ShowText = key->ReadBool(kShowText);
  return stored;
}

CommandLine ProcessCommandLine(const std::vector<Text>& arguments, platform::CommandLineStyle style,
                               const StoredSettings& stored) {
  using Kind = CommandLine::Kind;
  const bool posix = style == platform::CommandLineStyle::kPosix;
  CommandLine line;
  Options& options = line.Options;
  Text pending;
  for (const Text& argument : arguments) {
    if (!pending.empty()) {
      // The value of "/in" or "/out", whatever it looks like.
      if (pending == "/in") {
        line.Inputs.push_back(argument);
      } else {
        options.OutputFile = argument;
      }
      pending.clear();
      continue;
    }
    if (argument == "/in" || argument == "/out") {
      pending = argument;
    } else if (argument == "/overwrite") {
      options.OverwriteOutput = true;
    } else if (argument == "/tempexec") {
      options.TempExec = true;
    } else if (argument == "/noother") {
      options.ReplaceMode = ReplaceNone;
    } else if (argument == "/outline") {
      options.ReplaceMode = ReplaceOutline;
    } else if (argument == "/redirect") {
      options.Redirect = true;
    } else if (argument == "/inline") {
      options.ReplaceInline = true;
    } else if (argument == "/showtext") {
      options.ShowText = true;
    } else if (argument == "/compact") {
      options.Compact = true;
    } else if (argument == "/diag") {
      // The diagnostics report replaces the runs; later arguments are not read.
      line.Request = Kind::kDiagnostics;
      break;
    } else if (posix ? argument == "-h" || argument == "--help" : argument == "/?") {
      line.Request = Kind::kHelp;
      break;
    } else if (posix && (argument == "-V" || argument == "--version")) {
      line.Request = Kind::kVersion;
      break;
    } else if (posix && !argument.empty() && argument[0] == '-') {
      line.Request = Kind::kUsageError;
      line.UsageError = "unknown option \"" + argument + "\"";
      break;
    } else if (!posix && !argument.empty() && argument[0] == '/') {
      // An unknown option on Windows, where paths do not begin with "/".
    } else {
      line.Inputs.push_back(argument);
    }
  }
  if (stored.Mode) options.ReplaceMode = *stored.Mode;
  if (stored.ReplaceInline) options.ReplaceInline = true;
  if (stored.ShowText) options.ShowText = true;
  if (line.Request != Kind::kRuns) return line;
  if (!options.OutputFile.empty() && line.Inputs.size() > 1) {
    line.Request = Kind::kUsageError;
    line.UsageError = "\"/out\" cannot be used with more than one input file";
  } else if (options.Compact && options.ReplaceMode == ReplaceNone) {
    // The light mode appends nothing and keeps every byte of the input.
    line.Request = Kind::kUsageError;
    line.UsageError = "\"/compact\" cannot be used with the light mode";
  } else if (line.Inputs.empty() && posix) {
    line.Request = Kind::kUsageError;
  } else if (arguments.empty()) {
    // A Windows program started without arguments explains itself.
    line.Request = Kind::kHelp;
  }
  return line;
}

OutputTarget OutputTargetFor(const Options& options) {
  if (!options.OutputFile.empty()) return {options.OutputFile, false};
  const Text& input = options.InputFile;
  const Text extension = ExtensionOf(input);
  if (!options.TempExec) {
    return {WithoutExtension(input, extension) + kOutputSuffix + extension, false};
  }
  const Text name = platform::FileNameOf(input);
  return {
      platform::ViewCopyDirectory() + WithoutExtension(name, extension) + kOutputSuffix + extension,
      true};
}

}  // namespace quillane
