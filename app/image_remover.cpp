#include "app/image_remover.h"

#include <chrono>
#include <vector>

#include "app/damaged_file.h"
#include "app/template_directory.h"
#include "app/template_files.h"
#include "pdf/raw/image_walk.h"
#include "pdf/raw/trailer.h"
#include "pdf/rewrite/inline_images.h"
#include "pdf/update/repairing_update.h"
#include "pdf/update/update_writer.h"
#include "platform/platform.h"
#include "reader/launch.h"

namespace quillane {

namespace {

// A copy kept for a reader that ended at once is removed by a later
// "/tempexec" run once it is this old: by then the reader has long opened it.
constexpr std::chrono::hours kKeptCopyLifetime{24};

// The log of a run, or with `hold` its lines kept back and logged, in their
// order, when this ends (an error's end included).
class HeldLog {
 public:
  HeldLog(const TImageRemover& remover, bool hold) : remover_(remover), hook_(remover.OnLog) {
    if (hold && hook_) hook_ = [this](const Text& line) { lines_.push_back(line); };
  }
  HeldLog(const HeldLog&) = delete;
  HeldLog& operator=(const HeldLog&) = delete;
  ~HeldLog() {
    for (const Text& line : lines_) remover_.Log(line);
  }
  const LogHook& Hook() const { return hook_; }

 private:
  const TImageRemover& remover_;
  LogHook hook_;
  std::vector<Text> lines_;
};

}  // namespace

void TImageRemover::Log(const Text& line) const {
  if (OnLog) OnLog(line);
}

Outcome TImageRemover::WriteDiagnostics() const {
  LogDiagnostics(OnLog);
  return Outcome::kDiagnosticsWritten;
}

Outcome TImageRemover::Run(const Options& options, FileAccess& source) const {
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
  const Text templateDirectory =
      !TemplateFolder.empty() ? TemplateFolder
                              : TemplateDirectory(platform::ExecutablePath(), [](const Text& path) {
                                  return platform::FileExists(path);
                                });
  source.Load(options.InputFile);

  TrailerValues trailer;
  // A file whose last cross-reference section cannot be found is repaired
  // from the objects it holds, unless none can be recovered.
  std::optional<RebuiltFile> rebuilt;
  if (mode != ReplaceNone) {
    try {
      trailer = ReadTrailer(source, OnLog);
    } catch (const CrossReferenceNotFound&) {
      rebuilt = RebuildDamagedFile(source);
      if (!rebuilt) throw;
      if (rebuilt->Encrypt) {
        Log("Encrypt obj: " + IntToText(*rebuilt->Encrypt));
        trailer.Encrypted = true;
      }
    }
    if (trailer.Encrypted) {
      platform::ShowMessageBox(
          "Quillane cannot handle this file, because the file is secured/encrypted.",
          platform::MessageIcon::kError, true);
      return Outcome::kRefusedEncrypted;
    }
  }

  // The output and its refusal, decided once. An existing file is refused
  // only after the work, which reports its own errors first; the output's
  // copy of the input starts now and runs while the walk reads the file,
  // unless the output is refused already. The folder of the view copies is
  // made, and checked to be the user's own, before anything is written
  // into it.
  const OutputTarget output = OutputTargetFor(options);
  const bool replaceExisting = options.OverwriteOutput || output.Temporary;
  const bool refused = !replaceExisting && platform::FileExists(output.Path);
  if (output.Temporary) platform::CreateViewCopyDirectory();
  if (!refused) source.BeginSave(output.Path);

  if (mode == ReplaceNone) {
    RenameImageSubtypes(source, OnLog);
    if (options.ReplaceInline) Log("Inline images left: the light mode appends nothing");
    if (options.ShowText) Log("Text left: the light mode appends nothing");
  } else {
    // A repair's line comes before the walk's lines, but the objects its
    // section lists are known only once it is written: the lines wait.
    HeldLog held(*this, rebuilt.has_value());
    const std::vector<ObjectKey> imageKeys = FindImageObjects(source, held.Hook());
    // The templates first: a missing one ends the run before the second walk.
    const PlaceholderTemplates templates =
        LoadPlaceholderTemplates(mode, templateDirectory, options.ReplaceInline);
    std::vector<RewrittenObject> streams;
    if (options.ReplaceInline && rebuilt) {
      streams = RewriteInlineImageStreams(source, templates.InlineGray, imageKeys, held.Hook(),
                                          rebuilt->Xref);
    } else if (options.ReplaceInline) {
      streams = RewriteInlineImageStreams(source, templates.InlineGray, imageKeys, OnLog);
    }
    if (rebuilt) {
      const std::int64_t listed =
          WriteRepairingUpdate(source, rebuilt->Found, imageKeys, templates, streams);
      Log("Cross-reference rebuilt: " + IntToText(listed) + " objects");
    } else {
      WriteUpdate(source, imageKeys, trailer, templates, streams);
    }
  }

  Log("output: " + output.Path);
  // Without "/overwrite" the output goes into place only while no file is
  // there: one that appeared during the run is refused like one before it.
  bool saved = !refused;
  if (saved && replaceExisting) {
    source.Save(output.Path);
  } else if (saved) {
    saved = source.SaveAsNew(output.Path);
  }
  if (!saved) {
    platform::ShowMessageBox("Target output file already exists", platform::MessageIcon::kError,
                             false);
    return Outcome::kRefusedOutputExists;
  }
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
