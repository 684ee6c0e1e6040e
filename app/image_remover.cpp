#include "app/image_remover.h"

#include "platform/platform.h"
#include "pdf/image_walk.h"
#include "pdf/inline_images.h"
#include "pdf/trailer.h"
#include "pdf/update_writer.h"
#include "reader/reader.h"

namespace quillane {

namespace {

constexpr char kReplaceObject[] = "ReplaceObject";
constexpr char kOutputSuffix[] = "_Vexlo";

// Index of the last path separator, or npos.
std::size_t LastSeparator(const Text& path) {
  for (std::size_t i = path.size(); i > 0; --i) {
    if (platform::IsPathSeparator(path[i - 1])) return i - 1;
  }
  return Text::npos;
}

// The extension: from the last dot to the end, when that dot lies in the file
// name rather than in a directory name.
Text ExtensionOf(const Text& path) {
  const std::size_t dot = path.rfind('.');
  if (dot == Text::npos) return {};
  const std::size_t separator = LastSeparator(path);
  if (separator != Text::npos && separator > dot) return {};
  return path.substr(dot);
}

Text WithoutExtension(const Text& path, const Text& extension) {
  return path.substr(0, path.size() - extension.size());
}

}  // namespace

Text DirectoryOf(const Text& path) {
  const std::size_t separator = LastSeparator(path);
  return separator == Text::npos ? Text() : path.substr(0, separator + 1);
}

void TImageRemover::Log(const Text& line) const {
  if (OnLog) OnLog(line);
}

void TImageRemover::ReadConfiguration() {
  platform::Registry registry;
  if (!registry.OpenKey(kConfigurationKey, false)) return;
  if (registry.ValueExists(kReplaceObject)) {
    const Text value = registry.ReadString(kReplaceObject);
    if (value == "none") {
      ReplaceMode = ReplaceNone;
    } else if (value == "tgraybox") {
      ReplaceMode = ReplaceTGrayBox;
    }
  }
  registry.CloseKey();
}

void TImageRemover::ProcessCommandLine(const std::vector<Text>& arguments) {
  ReplaceMode = ReplaceDefault;
  Redirect = false;
  OverwriteOutput = false;
  TempExec = false;
  ReplaceInline = false;
  ReadConfiguration();
  if (ParseArguments(arguments)) {
    LogDiagnostics([this](const Text& line) { Log(line); });
    return;
  }
  Run();
}

bool TImageRemover::ParseArguments(const std::vector<Text>& arguments) {
  Text pending;
  for (const Text& argument : arguments) {
    if (!pending.empty()) {
      // The value of "/in" or "/out", whatever it looks like.
      (pending == "/in" ? InputFile : OutputFile) = argument;
      pending.clear();
      continue;
    }
    if (argument == "/in" || argument == "/out") {
      pending = argument;
    } else if (argument == "/overwrite") {
      OverwriteOutput = true;
    } else if (argument == "/tempexec") {
      TempExec = true;
    } else if (argument == "/noother") {
      ReplaceMode = ReplaceNone;
    } else if (argument == "/redirect") {
      Redirect = true;
    } else if (argument == "/inline") {
      ReplaceInline = true;
    } else if (argument == "/diag") {
      // The diagnostics report replaces the run; later arguments are not read.
      return true;
    }
  }
  return false;
}

Text TImageRemover::OutputPath(bool& temporary) const {
  temporary = false;
  if (!OutputFile.empty()) return OutputFile;
  const Text extension = ExtensionOf(InputFile);
  if (!TempExec) return WithoutExtension(InputFile, extension) + kOutputSuffix + extension;
  const std::size_t separator = LastSeparator(InputFile);
  const Text name = separator == Text::npos ? InputFile : InputFile.substr(separator + 1);
  temporary = true;
  return platform::TemporaryDirectory() + WithoutExtension(name, extension) + kOutputSuffix +
         extension;
}

void TImageRemover::Run() {
  if (InputFile.empty()) return;
  if (Redirect) {
    StartPdfReader(InputFile, false);
    return;
  }
  // A stored "ReplaceObject" wins over "/noother".
  ReadConfiguration();
  const Text programDirectory = DirectoryOf(platform::ExecutablePath());

  Source = std::make_unique<FullyBufferedFileAccess>();
  Source->Load(InputFile);
  ImageKeys.clear();
  ImageKeys.shrink_to_fit();

  TrailerValues trailer;
  if (ReplaceMode != ReplaceNone) {
    trailer = ReadTrailer(*Source, OnLog);
    if (trailer.encrypted) {
      platform::ShowMessageBox(
          "Quillane cannot handle this file, because the file is secured/encrypted.",
          platform::MessageIcon::kError, true);
      Source.reset();
      return;
    }
  }
  WalkImages(*Source, ReplaceMode, OnLog, ImageKeys);
  if (ReplaceMode != ReplaceNone) {
    std::vector<RewrittenObject> streams;
    if (ReplaceInline) {
      const Text body = platform::ReadWholeFile(programDirectory + "otherimg.dat");
      streams = RewriteInlineImageStreams(*Source, PlaceholderGray(body), ImageKeys, OnLog);
    }
    WriteUpdate(*Source, ImageKeys, trailer, ReplaceMode, programDirectory, streams);
  }

  bool temporary = false;
  const Text output = OutputPath(temporary);
  Log("output: " + output);
  bool saved = false;
  if (!platform::FileExists(output) || OverwriteOutput || temporary) {
    Source->Save(output);
    saved = true;
  } else {
    platform::ShowMessageBox("Target output file already exists", platform::MessageIcon::kError,
                             false);
  }
  Source.reset();

  if (saved && TempExec) {
    StartPdfReader(output, true);
    platform::DeleteFile(output);
  }
}

}  // namespace quillane
