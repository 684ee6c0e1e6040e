#include "pdf/rewrite/inline_images.h"

#include <algorithm>

#include "pdf/objects/cross_reference.h"
#include "pdf/objects/document.h"
#include "pdf/objects/document_walk.h"
#include "pdf/objects/key_marks.h"
#include "pdf/rewrite/stream_rewrite.h"

namespace quillane {

std::vector<RewrittenObject> RewriteInlineImageStreams(const FileAccess& source, std::uint8_t gray,
                                                       const std::vector<ObjectKey>& imageKeys,
                                                       const LogHook& log) {
  CrossReferenceReading reading = CrossReference::Read(source);
  if (!reading.Xref) {
    if (log) log("Inline images left: " + reading.Reason);
    return {};
  }
  return RewriteInlineImageStreams(source, gray, imageKeys, log, std::move(*reading.Xref));
}

std::vector<RewrittenObject> RewriteInlineImageStreams(const FileAccess& source, std::uint8_t gray,
                                                       const std::vector<ObjectKey>& imageKeys,
                                                       const LogHook& log, CrossReference xref) {
  const Document document(source, std::move(xref), log);
  const KeyMarks images(document.Xref(), imageKeys);
  WalkOptions options;
  options.IsKnownImage = [&images](ObjectKey key) { return images.Contains(key); };
  const DrawnStreams drawn = WalkDrawnStreams(document, options, log);

  StreamRewriting rewriting;
  rewriting.ReplaceInlineImages = true;
  rewriting.Gray = gray;
  rewriting.Markers = {"BI"};
  // New versions with where their old ones lie, for the order of the file.
  std::vector<std::pair<Position, RewrittenObject>> rewritten;
  // Each stream is rewritten as soon as it is found, while its bytes are
  // still in the file access's block.
  EachReadableContentStream(document, drawn, images, log, [&](const DrawnContentStream& item) {
    const DrawnStream& stream = item.Drawn;
    // A glyph draws a letter, often through an image mask; a form drawn from
    // a Type 3 font's resources is part of one.
    rewriting.Glyph = stream.InType3Glyph;
    StreamRewriteResult result = RewriteStream(source, item.In, rewriting, log);
    if (!result.Object) return;
    if (log) {
      log("Inline images: " + IntToText(stream.Key) + "#" +
          IntToText(static_cast<std::int64_t>(result.Reading->InlineImages.size())));
    }
    rewritten.emplace_back(item.Object->HeaderStart, std::move(*result.Object));
  });
  std::stable_sort(rewritten.begin(), rewritten.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<RewrittenObject> objects;
  objects.reserve(rewritten.size());
  for (auto& [at, object] : rewritten) objects.push_back(std::move(object));
  return objects;
}

}  // namespace quillane
