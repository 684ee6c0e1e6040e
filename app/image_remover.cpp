#include "app/image_remover.h"

#include <memory>

#include "app/template_files.h"
#include "fileaccess/fileaccess.h"
#include "pdf/image_walk.h"
#include "pdf/trailer.h"
#include "pdf/update_writer.h"
#include "platform/platform.h"
#include "reader/launch.h"

namespace quillane {

namespace {

// The state of one processing run: the in-memory copy of the input and the
// image objects found in it. It lives from the load to the save.
struct RunState {
  std::unique_ptr<FileAccess> Source;
  std::vector<ObjectKey> ImageKeys;
};

}  // namespace

void TImageRemover::Log(const Text& line) const {
  if (OnLog) OnLog(line);
}

Outcome TImageRemover::ProcessCommandLine(const std::vector<Text>& arguments) {
  const Options options = ParseArguments(arguments, ReadStoredReplaceMode());
  if (options.Diagnostics) {
    LogDiagnostics([this](const Text& line) { Log(line); });
    return Outcome::kDiagnosticsWritten;
  }
  return Run(options);
}

Outcome TImageRemover::Run(const Options& options) const {
  if (options.InputFile.empty()) return Outcome::kNothingToDo;
  if (options.Redirect) {
    return StartPdfReader(options.InputFile, false) == ReaderStart::kStarted
               ? Outcome::kHandedOver
               : Outcome::kReaderNotStarted;
  }
  const ReplaceMode mode = options.ReplaceMode;
  const Text programDirectory = platform::DirectoryOf(platform::ExecutablePath());

  RunState run;
  run.Source = std::make_unique<FullyBufferedFileAccess>();
  run.Source->Load(options.InputFile);

  TrailerValues trailer;
  if (mode != ReplaceNone) {
    trailer = ReadTrailer(*run.Source, OnLog);
    if (trailer.encrypted) {
      platform::ShowMessageBox(
          "Quillane cannot handle this file, because the file is secured/encrypted.",
          platform::MessageIcon::kError, true);
      return Outcome::kRefusedEncrypted;
    }
  }
  // The output's copy of the input starts now and runs while the walk reads
  // the file, unless the output would be refused.
  const OutputTarget output = OutputTargetFor(options);
  const auto refused = [&] {
    return platform::FileExists(output.Path) && !options.OverwriteOutput && !output.Temporary;
  };
  if (!refused()) run.Source->BeginSave(output.Path);
  WalkImages(*run.Source, mode, OnLog, run.ImageKeys);
  if (mode != ReplaceNone) {
    const PlaceholderTemplates templates = LoadPlaceholderTemplates(mode, programDirectory);
    WriteUpdate(*run.Source, run.ImageKeys, trailer, templates);
  }

  Log("output: " + output.Path);
  if (refused()) {
    platform::ShowMessageBox("Target output file already exists", platform::MessageIcon::kError,
                             false);
    return Outcome::kRefusedOutputExists;
  }
  run.Source->Save(output.Path);
  run.Source.reset();

  if (!options.TempExec) return Outcome::kSaved;
  const ReaderStart reader = StartPdfReader(output.Path, true);
  platform::DeleteFile(output.Path);
  return reader == ReaderStart::kStarted ? Outcome::kSaved : Outcome::kReaderNotStarted;
}

}  // namespace quillane
