#include "app/image_remover.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <vector>

#include "app/damaged_file.h"
#include "app/template_directory.h"
#include "app/template_files.h"
#include "base/error.h"
#include "fonts/truetype_font.h"
#include "pdf/objects/document.h"
#include "pdf/raw/image_walk.h"
#include "pdf/raw/trailer.h"
#include "pdf/rewrite/inline_images.h"
#include "pdf/rewrite/visible_text.h"
#include "pdf/update/compact_writer.h"
#include "pdf/update/repairing_update.h"
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

// The new versions of the content streams the document draws: their inline
// images replaced ("/inline") and their invisible text drawn ("/showtext",
// with the objects that needs), over `xref` when the run has a table of its
// own (a repaired or a compact file), else over the file's sections. New
// objects take numbers from `nextNumber` on, which comes back one past the
// last one taken.
std::vector<RewrittenObject> RewriteDrawnContent(const Options& options, const FileAccess& source,
                                                 std::uint8_t gray, const Text& templateDirectory,
                                                 const std::vector<ObjectKey>& imageKeys,
                                                 const CrossReference* xref,
                                                 std::int64_t& nextNumber, const LogHook& log) {
  if (options.ShowText) {
    // The text font is read only when a glyphless font is replaced.
    std::optional<fonts::TrueTypeFont> textFont;
    DrawnStreamRewriting rewriting;
    rewriting.ReplaceInlineImages = options.ReplaceInline;
    rewriting.Gray = gray;
    rewriting.ShowText = true;
    rewriting.TextFont = [&textFont, &templateDirectory]() -> const fonts::TrueTypeFont& {
      if (!textFont) {
        textFont = fonts::TrueTypeFont::Load(
            platform::ReadWholeFile(templateDirectory + kTextFontFile), kTextFontFile);
      }
      return *textFont;
    };
    DrawnStreamRewrite rewrite =
        xref != nullptr ? RewriteDrawnStreams(source, nextNumber, imageKeys, rewriting, log, *xref)
                        : RewriteDrawnStreams(source, nextNumber, imageKeys, rewriting, log);
    nextNumber = std::max(nextNumber, rewrite.NextNumber);
    return std::move(rewrite.Objects);
  }
  if (!options.ReplaceInline) return {};
  return xref != nullptr ? RewriteInlineImageStreams(source, gray, imageKeys, log, *xref)
                         : RewriteInlineImageStreams(source, gray, imageKeys, log);
}

}  // namespace

void TImageRemover::Log(const Text& line) const {
  if (OnLog) OnLog(line);
}

Outcome TImageRemover::WriteDiagnostics() const {
  LogDiagnostics(OnLog);
  return Outcome::kDiagnosticsWritten;
}

void TImageRemover::WriteCompact(const Options& options, const FileAccess& source,
                                 const Text& templateDirectory, const CrossReference* rebuilt,
                                 FileAccess& output) const {
  // The images are found through the cross-reference, as the image
  // XObjects the document reaches, so that no picture's data is read.
  auto document = std::make_unique<Document>(
      source, rebuilt != nullptr ? *rebuilt : CrossReference::ReadOrReconstruct(source, OnLog),
      OnLog);
  // A file whose sections read but whose catalog does not (offsets off) is
  // read as readers repair it: the new file holds only what is found.
  if (!document->Root() && !document->Xref().Reconstructed()) {
    Log("Catalog not readable through the cross-reference; reconstructed");
    document = std::make_unique<Document>(source, CrossReference::Reconstruct(source), OnLog);
  }
  // Without a catalog the new file would hold no document at all.
  if (!document->Root()) {
    throw Error("The document's catalog cannot be read; no compact file can be made of it.");
  }
  const PlaceholderTemplates templates =
      LoadPlaceholderTemplates(options.ReplaceMode, templateDirectory, options.ReplaceInline);
  KeptObjects kept = FindKeptObjects(*document);
  // New objects are numbered past every number of the table.
  std::int64_t nextNumber = 0;
  const CrossReference& xref = document->Xref();
  const std::vector<RewrittenObject> streams =
      RewriteDrawnContent(options, source, templates.InlineGray, templateDirectory, kept.Images,
                          &xref, nextNumber, OnLog);
  // A new version may name objects its old one did not.
  if (!streams.empty()) kept = FindKeptObjects(*document, streams);
  const CompactFile written =
      WriteCompactFile(*document, kept, kept.Images, templates, streams, output);
  Log("Compact: " + IntToText(written.Copied) + " objects copied, " +
      IntToText(written.Placeholders) + " images replaced");
  if (kept.Signatures > 0) Log("Signatures no longer valid: " + IntToText(kept.Signatures));
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
  // A compact file starts anew: none of the input is copied whole. The
  // light mode keeps every byte and makes none.
  const bool compact = options.Compact && mode != ReplaceNone;
  if (!refused && !compact) source.BeginSave(output.Path);
  WindowedFileAccess compactOutput;

  if (compact) {
    WriteCompact(options, source, templateDirectory, rebuilt ? &rebuilt->Xref : nullptr,
                 compactOutput);
  } else if (mode == ReplaceNone) {
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
    std::int64_t nextNumber = rebuilt ? 0 : trailer.TrailerSize;
    const std::vector<RewrittenObject> streams =
        RewriteDrawnContent(options, source, templates.InlineGray, templateDirectory, imageKeys,
                            rebuilt ? &rebuilt->Xref : nullptr, nextNumber, held.Hook());
    if (rebuilt) {
      const std::int64_t listed =
          WriteRepairingUpdate(source, rebuilt->Found, imageKeys, templates, streams);
      Log("Cross-reference rebuilt: " + IntToText(listed) + " objects");
    } else {
      // New objects were numbered from the trailer's /Size on.
      trailer.TrailerSize =
          static_cast<std::int32_t>(std::max<std::int64_t>(trailer.TrailerSize, nextNumber));
      WriteUpdate(source, imageKeys, trailer, templates, streams);
    }
  }

  Log("output: " + output.Path);
  // Without "/overwrite" the output goes into place only while no file is
  // there: one that appeared during the run is refused like one before it.
  bool saved = !refused;
  FileAccess& result = compact ? static_cast<FileAccess&>(compactOutput) : source;
  if (saved && replaceExisting) {
    result.Save(output.Path);
  } else if (saved) {
    saved = result.SaveAsNew(output.Path);
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
