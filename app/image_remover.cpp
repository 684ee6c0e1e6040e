#include "app/image_remover.h"

#include <chrono>
#include <memory>

#include "app/template_directory.h"
#include "app/template_files.h"
#include "fileaccess/fileaccess.h"
#include "pdf/image_walk.h"
#include "pdf/inline_images.h"
#include "pdf/trailer.h"
#include "pdf/update_writer.h"
#include "platform/platform.h"
#include "reader/launch.h"

namespace quillane {

namespace {

// A copy kept for a reader that ended at once is removed by a later
// "/tempexec" run once it is this old: by then the reader has long opened it.
constexpr std::chrono::hours kKeptCopyLifetime{24};

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

CommandLine TImageRemover::ProcessCommandLine(const std::vector<Text>& arguments) const {
  return ParseCommandLine(arguments, ReadStoredSettings(), platform::NativeCommandLineStyle());
}

Outcome TImageRemover::WriteDiagnostics() const {
  LogDiagnostics([this](const Text& line) { Log(line); });
  return Outcome::kDiagnosticsWritten;
}

Outcome TImageRemover::Run(const Options& options) const {
  if (options.InputFile.empty()) return Outcome::kNothingToDo;
  if (options.Redirect) {
    return StartPdfReader(options.InputFile, false) == ReaderStart::kStarted
               ? Outcome::kHandedOver
               : Outcome::kReaderNotStarted;
  }
  if (options.TempExec) {
    for (const Text& removed : platform::RemoveViewCopiesOlderThan(kKeptCopyLifetime)) {
      Log("old copy removed: " + removed);
    }
  }
  const ReplaceMode mode = options.ReplaceMode;
  const Text templateDirectory = TemplateDirectory(
      platform::ExecutablePath(), [](const Text& path) { return platform::FileExists(path); });

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
  // the file, unless the output would be refused. The folder of the view
  // copies is made, and checked to be the user's own, before anything is
  // written into it.
  const OutputTarget output = OutputTargetFor(options);
  const auto refused = [&] {
    return platform::FileExists(output.Path) && !options.OverwriteOutput && !output.Temporary;
  };
  if (output.Temporary) platform::CreateViewCopyDirectory();
  if (!refused()) run.Source->BeginSave(output.Path);
  WalkImages(*run.Source, mode, OnLog, run.ImageKeys);
  if (mode != ReplaceNone) {
    // The templates first: a missing one ends the run before the second walk.
    const PlaceholderTemplates templates = LoadPlaceholderTemplates(mode, templateDirectory);
    std::vector<RewrittenObject> streams;
    if (options.ReplaceInline) {
      // The inline placeholders take the gray of the default placeholder.
      const Text gray = platform::ReadWholeFile(templateDirectory + "otherimg.dat");
      streams = RewriteInlineImageStreams(*run.Source, PlaceholderGray(gray), run.ImageKeys, OnLog);
    }
    WriteUpdate(*run.Source, run.ImageKeys, trailer, templates, streams);
  } else if (options.ReplaceInline) {
    Log("Inline images left: the light mode appends nothing");
  }

  Log("output: " + output.Path);
  if (refused()) {
    platform::ShowMessageBox("Target output file already exists", platform::MessageIcon::kError,
                             false);
    return Outcome::kRefusedOutputExists;
  }
  run.Source->Save(output.Path);
  run.Source.reset();
  if (output.Temporary) platform::RestrictToOwner(output.Path);

  if (!options.TempExec) return Outcome::kSaved;
  const ReaderStart reader = StartPdfReader(output.Path, true);
  if (reader == ReaderStart::kEndedAtOnce) {
    // The instance that got the document may not have opened it yet; deleted
    // now, the copy would be gone before the user sees it.
    Log("reader ended at once, copy kept: " + output.Path);
    return Outcome::kSaved;
  }
  platform::DeleteFile(output.Path);
  return reader == ReaderStart::kStarted ? Outcome::kSaved : Outcome::kReaderNotStarted;
}

}  // namespace quillane
