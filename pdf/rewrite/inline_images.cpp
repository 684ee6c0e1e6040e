#include "pdf/rewrite/inline_images.h"

#include <algorithm>
#include <unordered_set>

#include "pdf/objects/cross_reference.h"
#include "pdf/objects/document.h"
#include "pdf/objects/document_walk.h"
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
  const std::unordered_set<ObjectKey> images(imageKeys.begin(), imageKeys.end());
  WalkOptions options;
  options.IsKnownImage = [&images](ObjectKey key) { return images.count(key) != 0; };
  const DrawnStreams drawn = WalkDrawnStreams(document, options, log);

  StreamRewriting rewriting;
  rewriting.ReplaceInlineImages = true;
  rewriting.Gray = gray;
  rewriting.Markers = {"BI"};
  // New versions with where their old ones lie, for the order of the file.
  std::vector<std::pair<Position, RewrittenObject>> rewritten;
  // The drawn streams, and those of page contents given as an indirect
  // array, each once.
  std::vector<DrawnStream> pending(drawn.Streams.rbegin(), drawn.Streams.rend());
  std::unordered_set<ObjectKey> seen;
  while (!pending.empty()) {
    const DrawnStream stream = pending.back();
    pending.pop_back();
    if (!seen.insert(stream.Key).second) continue;
    if (images.count(stream.Key) != 0) {
      if (log) log("Stream left: " + IntToText(stream.Key) + " replaced as an image");
      continue;
    }
    const std::shared_ptr<const IndirectObject> object = document.Object(stream.Key);
    if (object == nullptr) continue;
    if (!object->IsStream) {
      const std::vector<DrawnStream> items = ContentsOfArray(document, stream, *object);
      pending.insert(pending.end(), items.rbegin(), items.rend());
      continue;
    }
    if (object->Compressed()) continue;
    const std::optional<StreamExtent> extent = document.Extent(*object);
    if (!extent || !MayBeContentStream(object->Value)) continue;
    StreamInFile in;
    in.Key = stream.Key;
    in.DictionaryText = source.Substring(
        object->ValueStart, object->ValueStart + static_cast<Position>(object->Value.End));
    in.Dictionary = object->Value;
    in.DataStart = extent->DataStart;
    in.DataEnd = extent->DataEnd;
    // A glyph draws a letter, often through an image mask; a form drawn from
    // a Type 3 font's resources is part of one.
    rewriting.Glyph = stream.InType3Glyph;
    StreamRewriteResult result = RewriteStream(source, in, rewriting, log);
    if (!result.Object) continue;
    if (log) {
      log("Inline images: " + IntToText(stream.Key) + "#" +
          IntToText(static_cast<std::int64_t>(result.Reading->InlineImages.size())));
    }
    rewritten.emplace_back(object->HeaderStart, std::move(*result.Object));
  }
  std::stable_sort(rewritten.begin(), rewritten.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<RewrittenObject> objects;
  objects.reserve(rewritten.size());
  for (auto& [at, object] : rewritten) objects.push_back(std::move(object));
  return objects;
}

}  // namespace quillane
