#include "app/image_remover.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <vector>

#include "app/template_directory.h"
#include "app/template_files.h"
#include "fonts/truetype_font.h"
#include "pdf/raw/image_walk.h"
#include "pdf/raw/trailer.h"
#include "pdf/rewrite/inline_images.h"
#include "pdf/rewrite/visible_text.h"
#include "pdf/update/update_writer.h"
#include "platform/platform.h"
#include "reader/launch.h"

namespace quillane {

namespace {

// A copy kept for a reader that ended at once is removed by a later
// "/tempexec" run once it is this old: by then the reader has long opened it.
constexpr std::chrono::hours kKeptCopyLifetime{24};

// The text font beside the templates, drawn in place of glyphless OCR fonts.
constexpr char kTextFontFile[] = "othertext.ttf";

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
  if (mode != ReplaceNone) {
    trailer = ReadTrailer(source, OnLog);
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
    const std::vector<ObjectKey> imageKeys = FindImageObjects(source, OnLog);
    // The templates first: a missing one ends the run before the second walk.
    const PlaceholderTemplates templates =
        LoadPlaceholderTemplates(mode, templateDirectory, options.ReplaceInline);
    std::vector<RewrittenObject> streams;
    if (options.ShowText) {
      // The text font is read only when a glyphless font is replaced.
      std::optional<fonts::TrueTypeFont> textFont;
      DrawnStreamRewriting rewriting;
      rewriting.ReplaceInlineImages = options.ReplaceInline;
      rewriting.Gray = templates.InlineGray;
      rewriting.ShowText = true;
      rewriting.TextFont = [&textFont, &templateDirectory]() -> const fonts::TrueTypeFont& {
        if (!textFont) {
          textFont = fonts::TrueTypeFont::Load(
              platform::ReadWholeFile(templateDirectory + kTextFontFile), kTextFontFile);
        }
        return *textFont;
      };
      DrawnStreamRewrite rewrite =
          RewriteDrawnStreams(source, trailer.TrailerSize, imageKeys, rewriting, OnLog);
      streams = std::move(rewrite.Objects);
      // New objects were numbered from the trailer's /Size on.
      trailer.TrailerSize = static_cast<std::int32_t>(
          std::max<std::int64_t>(trailer.TrailerSize, rewrite.NextNumber));
    } else if (options.ReplaceInline) {
      streams = RewriteInlineImageStreams(source, templates.InlineGray, imageKeys, OnLog);
    }
    WriteUpdate(source, imageKeys, trailer, templates, streams);
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
