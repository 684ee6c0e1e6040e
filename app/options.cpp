#include "app/options.h"

#include <memory>

#include "platform/platform.h"
#include "reader/discovery.h"

namespace quillane {

namespace {

constexpr char kReplaceObject[] = "ReplaceObject";
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

std::optional<ReplaceMode> ReadStoredReplaceMode() {
  const auto key =
      platform::RegistryKey::Open(platform::RegistryRoot::kCurrentUser, kConfigurationKey);
  if (key == nullptr || !key->ValueExists(kReplaceObject)) return std::nullopt;
  const Text value = key->ReadString(kReplaceObject);
  if (value == "none") return ReplaceNone;
  if (value == "tgraybox") return ReplaceTGrayBox;
  return std::nullopt;
}

Options ParseArguments(const std::vector<Text>& arguments, std::optional<ReplaceMode> stored) {
  Options options;
  Text pending;
  for (const Text& argument : arguments) {
    if (!pending.empty()) {
      // The value of "/in" or "/out", whatever it looks like.
      (pending == "/in" ? options.InputFile : options.OutputFile) = argument;
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
    } else if (argument == "/redirect") {
      options.Redirect = true;
    } else if (argument == "/diag") {
      // The diagnostics report replaces the run; later arguments are not read.
      options.Diagnostics = true;
      break;
    }
  }
  if (stored) options.ReplaceMode = *stored;
  return options;
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
