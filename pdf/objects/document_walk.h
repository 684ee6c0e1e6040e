// Walks over the document's object graph: every content stream the pages
// draw (ISO 32000-1, 7.7.3 page tree, 7.8 content streams and resources,
// 8.10 form XObjects, 8.7.3 tiling patterns, 12.5.5 appearance streams,
// 9.6.5 Type 3 fonts), and every object the document still uses. Both start
// from the trailer through the cross-reference, so what is freed, orphaned
// or left over from an older revision never appears.
#ifndef QUILLANE_PDF_OBJECTS_DOCUMENT_WALK_H_
#define QUILLANE_PDF_OBJECTS_DOCUMENT_WALK_H_

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "base/log_hook.h"
#include "base/text.h"
#include "pdf/objects/document.h"
#include "pdf/syntax/object_key.h"

namespace quillane {

enum class DrawnStreamKind : std::uint8_t {
  kPageContents,  // a page's /Contents, or one stream of its array
  kForm,          // a form XObject (/Subtype /Form)
  kPattern,       // a tiling pattern (/PatternType 1)
  kAppearance,    // an annotation's appearance stream (/AP /N, /R, /D)
  kGlyph,         // a glyph description of a Type 3 font (/CharProcs)
};

// One content stream the document draws.
struct DrawnStream {
  ObjectKey Key = kNoObject;
  DrawnStreamKind Kind = DrawnStreamKind::kPageContents;
  // A glyph description, or a stream reached through a Type 3 font's own
  // /Resources (a form a glyph draws): part of a letter.
  bool InType3Glyph = false;
  // The page (0-based, in page tree order) that first drew it.
  std::int64_t Page = 0;
  // The resources it is drawn with: the value of /Resources in the
  // dictionary of object ResourcesHolder (resolved, it may be a reference).
  // That is the stream's own /Resources when it has them; for page contents
  // the page's, inherited through the page tree (the holder is then the
  // page or the /Pages node that has them); for a stream without its own,
  // those in effect where it was first reached (a glyph description: its
  // font's, else the page's). kNoObject: drawn without resources, or with
  // resources given directly in a dictionary that is no indirect object
  // (a font dictionary written inside a resources dictionary).
  ObjectKey ResourcesHolder = kNoObject;
};

struct WalkOptions {
  // Answers true for an object the caller knows to be an image: an XObject
  // under that key is then not read at all (images are no content). May be
  // empty: every XObject is read to see what it is.
  std::function<bool(ObjectKey)> IsKnownImage;
  // Annotation appearance streams are walked (true) or not.
  bool Annotations = true;
};

struct DrawnStreams {
  // Every content stream drawn, each once, in document order: page by page,
  // each page's contents in order, then depth first what its resources
  // draw (XObjects, patterns, Type 3 fonts' glyphs, in dictionary order,
  // each form followed by what its own resources draw), then its
  // annotations' appearances.
  // (A deque: a list of a million streams grows without being copied.)
  std::deque<DrawnStream> Streams;
  // Leaves of the page tree visited.
  std::int64_t Pages = 0;
  // Things passed over because they do not read as what they must be
  // (a /Contents that is no stream, a cycle in the page tree, ...), each
  // also logged.
  std::int64_t Skipped = 0;
};

// Walks `document` from the trailer's /Root: the page tree (/Kids, with
// /Resources inherited; a node reached twice is walked once), each page's
// /Contents, and the XObjects, patterns and Type 3 fonts of the resources in
// effect, recursively (each stream once, nesting up to 64 levels), and the
// annotations' appearance streams. Each drawn stream is read once (its
// dictionary only); an image known by the option is not read. Logs, through
// `log`, one line per thing passed over, "Walk: <key> <what>" ("Walk: 12 0
// contents no stream", "Walk: 3 0 page tree node reached again", "Walk: 9 0
// nesting deeper than 64"). Never throws for damaged input.
DrawnStreams WalkDrawnStreams(const Document& document, const WalkOptions& options,
                              const LogHook& log);

// A page's /Contents given as a reference is listed unread, as a stream
// (reading each would cost a read of the file a page). ISO 32000-1, 7.7.3.3
// lets that object be an array of streams instead: for such a `listed`
// entry, whose object the caller has read as `object`, the streams the
// array names, each as a content stream of the same page with the same
// resources, in array order, references that name no object in the file
// left out. A stream may also be listed elsewhere: the caller keeps each
// once. Empty for any other object.
std::vector<DrawnStream> ContentsOfArray(const Document& document, const DrawnStream& listed,
                                         const IndirectObject& object);

// Every object reachable from the trailer's /Root and /Info through
// references, in dictionaries, arrays and stream dictionaries at any depth,
// in the newest revision, each once; in the order they were reached
// (breadth first, the objects of one object stream together). References to
// objects that cannot be read are left out. The work is bounded by the
// document's (document.h).
std::vector<ObjectKey> ReachableObjects(const Document& document);

// The references in `value` at any depth, each passed to `visit` as a key.
template <typename Visit>
void EachReference(const PdfObject& value, Visit& visit) {
  if (value.Kind == PdfObject::Type::kReference) {
    visit(MakeObjectKey(value.Number, value.Generation));
    return;
  }
  for (const PdfObject& item : value.Items) EachReference(item, visit);
}

}  // namespace quillane

#endif  // QUILLANE_PDF_OBJECTS_DOCUMENT_WALK_H_
