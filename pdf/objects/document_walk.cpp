#include "pdf/objects/document_walk.h"

#include <deque>
#include <map>

namespace quillane {

namespace {

constexpr int kMaxDepth = 64;

// What the walk knows of an object, one byte a cross-reference slot.
enum : std::uint8_t {
  kDrawn = 1,         // listed as a drawn stream
  kDrawnInGlyph = 2,  // ... and walked as part of a Type 3 glyph
  kNode = 4,          // a container walked (page tree node, resources, font)
  kNodeInGlyph = 8,   // ... walked as part of a Type 3 glyph
  kNoContent = 16,    // read once and found to be no content (an image, a font)
};
constexpr std::uint32_t kNoIndex = UINT32_MAX;

// The entries the walk reads of each kind of object; the rest of each is
// passed over without being built (most of a page's bytes, most of its
// resources').
constexpr EntryFilter::Entry kResourcesEntries[] = {{"XObject"}, {"Pattern"}, {"Font"}};
constexpr EntryFilter kResourcesFilter{kResourcesEntries};
constexpr EntryFilter::Entry kNodeEntries[] = {
    {"Type"}, {"Kids", nullptr, true}, {"Resources", &kResourcesFilter}, {"Contents"}, {"Annots"}};
constexpr EntryFilter kNodeFilter{kNodeEntries};
constexpr EntryFilter::Entry kStreamEntries[] = {
    {"Subtype"}, {"PatternType"}, {"Resources", &kResourcesFilter}};
constexpr EntryFilter kStreamFilter{kStreamEntries};
constexpr EntryFilter::Entry kFontEntries[] = {
    {"Subtype"}, {"CharProcs"}, {"Resources", &kResourcesFilter}};
constexpr EntryFilter kFontFilter{kFontEntries};
constexpr EntryFilter::Entry kAnnotationEntries[] = {{"AP"}};
constexpr EntryFilter kAnnotationFilter{kAnnotationEntries};
// A glyph description: only that it is a stream.
constexpr EntryFilter kNoEntries{};

bool IsDictionary(const Resolved& value) {
  return value && value->Kind == PdfObject::Type::kDictionary;
}

// The resources in effect: the dictionary, what keeps it alive, and the
// object whose /Resources entry it is.
struct Resources {
  Resolved Dictionary;
  std::shared_ptr<const IndirectObject> Holder;
  ObjectKey HolderKey = kNoObject;
};

class Walker {
 public:
  Walker(const Document& document, const WalkOptions& options, const LogHook& log)
      : document_(document),
        xref_(document.Xref()),
        options_(options),
        log_(log),
        marks_(xref_.EntryCount(), 0),
        indexes_(xref_.EntryCount(), kNoIndex) {}

  DrawnStreams Run() {
    const Resolved root = document_.Root();
    if (!IsDictionary(root)) {
      Skip(kNoObject, "no catalog");
      return std::move(result_);
    }
    const PdfObject* pages = root->Find("Pages");
    if (pages == nullptr) {
      Skip(root.Key(), "catalog without /Pages");
      return std::move(result_);
    }
    WalkTree(*pages, Resources{}, 0);
    return std::move(result_);
  }

 private:
  void Skip(ObjectKey key, const Text& what) {
    ++result_.Skipped;
    if (log_) log_("Walk: " + ObjectKeyToText(key) + " " + what);
  }

  // The mark byte of `key`'s slot, or null for a direct value.
  std::uint8_t* Marks(ObjectKey key) {
    if (key == kNoObject) return nullptr;
    const std::optional<std::size_t> slot = xref_.SlotOf(ObjectNumber(key));
    return slot ? &marks_[*slot] : nullptr;
  }

  // Marks a container as walked in the context; false when it was already
  // (a container walked as part of a glyph counts for both).
  bool FirstVisit(ObjectKey key, bool glyph) {
    std::uint8_t* marks = Marks(key);
    if (marks == nullptr) return true;
    if ((*marks & kNodeInGlyph) != 0 || (!glyph && (*marks & kNode) != 0)) return false;
    *marks |= glyph ? kNodeInGlyph : kNode;
    return true;
  }

  // The page tree (ISO 32000-1, 7.7.3): a node with /Kids is an inner node,
  // anything else a page; /Resources is inherited.
  void WalkTree(const PdfObject& reference, const Resources& inherited, int depth) {
    const Resolved node = document_.Resolve(reference, &kNodeFilter);
    const ObjectKey key = node.Key();
    if (!IsDictionary(node)) return Skip(key, "page tree node no dictionary");
    if (!FirstVisit(key, false)) return Skip(key, "page tree node reached again");
    Resources resources = inherited;
    if (const PdfObject* own = node->Find("Resources")) {
      resources.Dictionary = document_.Resolve(*own, &kResourcesFilter);
      resources.Holder = node.Object;
      resources.HolderKey = key;
    }
    const PdfObject* type = node->Find("Type");
    const Resolved kids = document_.Get(node.Value, "Kids");
    const bool inner = (type != nullptr && type->IsName("Pages")) ||
                       (type == nullptr && kids && kids->Kind == PdfObject::Type::kArray);
    if (!inner) return WalkPage(node, resources);
    if (!kids || kids->Kind != PdfObject::Type::kArray)
      return Skip(key, "page tree node without /Kids");
    if (depth >= kMaxDepth) return Skip(key, "nesting deeper than 64");
    // A /Kids written in the node was read unbuilt: its references are taken
    // from its bytes one by one.
    if (kids->Items.empty() && node.Object != nullptr && kids.Value == node->Find("Kids")) {
      const std::optional<Text> bytes = document_.ValueBytes(*node.Object, *kids);
      if (!bytes) return Skip(key, "page tree node /Kids unreadable");
      EachArrayReference(*bytes, [&](std::int64_t number, std::int64_t generation) {
        PdfObject kid;
        kid.Kind = PdfObject::Type::kReference;
        kid.Number = number;
        kid.Generation = generation;
        WalkTree(kid, resources, depth + 1);
      });
      return;
    }
    for (const PdfObject& kid : kids->Items) WalkTree(kid, resources, depth + 1);
  }

  void WalkPage(const Resolved& page, const Resources& resources) {
    page_ = result_.Pages++;
    const PdfObject* contents = page->Find("Contents");
    if (contents != nullptr && contents->Kind == PdfObject::Type::kReference) {
      // Mostly the stream itself, else an array of streams.
      const std::optional<XrefEntry> entry = xref_.Find(contents->Number);
      if (!entry || entry->Type != XrefEntryType::kCompressed ||
          entry->Generation != contents->Generation) {
        PageContents(*contents, resources.HolderKey);
        contents = nullptr;
      }
    }
    if (contents != nullptr) {
      const Resolved array = document_.Resolve(*contents);
      if (array && array->Kind == PdfObject::Type::kArray) {
        for (const PdfObject& item : array->Items) PageContents(item, resources.HolderKey);
      } else if (array) {
        Skip(array.Key(), "contents no stream");
      }
    }
    WalkResources(resources, false, 0);
    if (options_.Annotations) WalkAnnotations(page, resources);
  }

  // A page's content stream is listed from its cross-reference entry, not
  // read: a stream lies in the file, never in an object stream, and the
  // caller reads it anyway (reading each here would cost a read of the file
  // a page).
  void PageContents(const PdfObject& reference, ObjectKey holder) {
    if (reference.Kind != PdfObject::Type::kReference) return Skip(kNoObject, "contents no stream");
    const ObjectKey key = MakeObjectKey(reference.Number, reference.Generation);
    const std::optional<XrefEntry> entry = xref_.Find(reference.Number);
    if (!entry || entry->Type != XrefEntryType::kInUse ||
        entry->Generation != reference.Generation) {
      return Skip(key, "contents no stream in the file");
    }
    Draw(key, DrawnStreamKind::kPageContents, false, holder);
  }

  // Lists a stream, once; a stream listed before and now reached as part
  // of a glyph becomes part of one. True when its resources are to be
  // walked now.
  bool Draw(ObjectKey key, DrawnStreamKind kind, bool glyph, ObjectKey holder) {
    const std::optional<std::size_t> slot = xref_.SlotOf(ObjectNumber(key));
    if (!slot) return false;
    std::uint8_t& marks = marks_[*slot];
    if ((marks & kDrawn) != 0) {
      if (!glyph || (marks & kDrawnInGlyph) != 0) return false;
      marks |= kDrawnInGlyph;
      result_.Streams[indexes_[*slot]].InType3Glyph = true;
      return true;
    }
    marks |= glyph ? kDrawn | kDrawnInGlyph : kDrawn;
    indexes_[*slot] = static_cast<std::uint32_t>(result_.Streams.size());
    DrawnStream drawn;
    drawn.Key = key;
    drawn.Kind = kind;
    drawn.InType3Glyph = glyph;
    drawn.Page = page_;
    drawn.ResourcesHolder = holder;
    result_.Streams.push_back(drawn);
    return true;
  }

  // A form, pattern or appearance stream: listed, then what its own
  // resources draw (or, without them, the resources in effect).
  void DrawWithResources(const Resolved& stream, DrawnStreamKind kind, bool glyph,
                         const Resources& inEffect, int depth) {
    const PdfObject* own = stream->Find("Resources");
    Resources resources = inEffect;
    if (own != nullptr) {
      resources.Dictionary = document_.Resolve(*own, &kResourcesFilter);
      resources.Holder = stream.Object;
      resources.HolderKey = stream.Key();
    }
    if (!Draw(stream.Key(), kind, glyph, resources.HolderKey)) return;
    if (depth >= kMaxDepth) return Skip(stream.Key(), "nesting deeper than 64");
    WalkResources(resources, glyph, depth + 1);
  }

  // The entries of a resource category (/XObject, /Pattern, /Font) that
  // were not seen before, with the category dictionary walked once.
  template <typename Visit>
  void EachEntry(const PdfObject& resources, std::string_view category, bool glyph, Visit visit) {
    const Resolved entries = document_.Get(&resources, category);
    if (!IsDictionary(entries) || !FirstVisit(entries.Key(), glyph)) return;
    for (const PdfObject& value : entries->Items) visit(value);
  }

  // True when `value` names an object already listed (in this context) or
  // known to be no content, so that it need not be read again.
  bool Known(const PdfObject& value, bool glyph) {
    if (value.Kind != PdfObject::Type::kReference) return false;
    const std::uint8_t* marks = Marks(MakeObjectKey(value.Number, value.Generation));
    if (marks == nullptr) return false;
    if ((*marks & kNoContent) != 0) return true;
    return (*marks & kDrawn) != 0 && (!glyph || (*marks & kDrawnInGlyph) != 0);
  }

  void NoContent(const Resolved& value) {
    if (std::uint8_t* marks = Marks(value.Key())) *marks |= kNoContent;
  }

  void WalkResources(const Resources& resources, bool glyph, int depth) {
    if (!IsDictionary(resources.Dictionary)) return;
    if (!FirstVisit(resources.Dictionary.Key(), glyph)) return;
    const PdfObject& dictionary = *resources.Dictionary;
    EachEntry(dictionary, "XObject", glyph, [&](const PdfObject& value) {
      if (value.Kind == PdfObject::Type::kReference && options_.IsKnownImage &&
          options_.IsKnownImage(MakeObjectKey(value.Number, value.Generation))) {
        return;
      }
      if (Known(value, glyph)) return;
      const Resolved xobject = document_.Resolve(value, &kStreamFilter);
      if (!xobject.Object || !xobject.Object->IsStream) return;
      const PdfObject* subtype = xobject->Find("Subtype");
      if (subtype == nullptr || !subtype->IsName("Form")) return NoContent(xobject);
      DrawWithResources(xobject, DrawnStreamKind::kForm, glyph, resources, depth);
    });
    EachEntry(dictionary, "Pattern", glyph, [&](const PdfObject& value) {
      if (Known(value, glyph)) return;
      const Resolved pattern = document_.Resolve(value, &kStreamFilter);
      if (!pattern.Object || !pattern.Object->IsStream) return NoContent(pattern);
      const PdfObject* type = pattern->Find("PatternType");
      if (type == nullptr || type->Integer() != 1) return NoContent(pattern);
      DrawWithResources(pattern, DrawnStreamKind::kPattern, glyph, resources, depth);
    });
    EachEntry(dictionary, "Font", glyph, [&](const PdfObject& value) {
      // A Type 3 font is walked once, wherever it is used.
      if (value.Kind == PdfObject::Type::kReference) {
        const std::uint8_t* marks = Marks(MakeObjectKey(value.Number, value.Generation));
        if (marks != nullptr && (*marks & (kNoContent | kNodeInGlyph)) != 0) return;
      }
      const Resolved font = document_.Resolve(value, &kFontFilter);
      if (!IsDictionary(font)) return;
      const PdfObject* subtype = font->Find("Subtype");
      if (subtype == nullptr || !subtype->IsName("Type3")) return NoContent(font);
      WalkType3Font(font, resources, depth);
    });
  }

  // ISO 32000-1, 9.6.5: each /CharProcs stream describes one glyph, drawn
  // with the font's /Resources (else the page's); whatever those resources
  // draw is part of a glyph too.
  void WalkType3Font(const Resolved& font, const Resources& inEffect, int depth) {
    if (!FirstVisit(font.Key(), true)) return;
    if (depth >= kMaxDepth) return Skip(font.Key(), "nesting deeper than 64");
    Resources resources = inEffect;
    const bool own = font->Find("Resources") != nullptr;
    if (own) {
      resources.Dictionary = document_.Get(font.Value, "Resources", &kResourcesFilter);
      resources.Holder = font.Object;
      resources.HolderKey = font.Key();
    }
    const Resolved procs = document_.Get(font.Value, "CharProcs");
    if (IsDictionary(procs)) {
      for (const PdfObject& value : procs->Items) {
        const Resolved glyph = document_.Resolve(value, &kNoEntries);
        if (!glyph.Object || !glyph.Object->IsStream) {
          Skip(glyph.Key(), "glyph description no stream");
          continue;
        }
        Draw(glyph.Key(), DrawnStreamKind::kGlyph, true, resources.HolderKey);
      }
    }
    if (own) WalkResources(resources, true, depth + 1);
  }

  // ISO 32000-1, 12.5.5: /AP holds /N, /R and /D, each a stream or a
  // dictionary of streams by appearance state.
  void WalkAnnotations(const Resolved& page, const Resources& resources) {
    const Resolved annotations = document_.Get(page.Value, "Annots");
    if (!annotations || annotations->Kind != PdfObject::Type::kArray) return;
    for (const PdfObject& item : annotations->Items) {
      const Resolved annotation = document_.Resolve(item, &kAnnotationFilter);
      if (!IsDictionary(annotation)) continue;
      const Resolved appearances = document_.Get(annotation.Value, "AP");
      if (!IsDictionary(appearances)) continue;
      for (const std::string_view which : {"N", "R", "D"}) {
        const Resolved appearance = document_.Get(appearances.Value, which);
        if (!appearance) continue;
        if (appearance.Object && appearance.Object->IsStream) {
          DrawWithResources(appearance, DrawnStreamKind::kAppearance, false, resources, 0);
          continue;
        }
        if (appearance->Kind != PdfObject::Type::kDictionary) continue;
        for (const PdfObject& state : appearance->Items) {
          const Resolved stream = document_.Resolve(state, &kStreamFilter);
          if (stream.Object && stream.Object->IsStream) {
            DrawWithResources(stream, DrawnStreamKind::kAppearance, false, resources, 0);
          }
        }
      }
    }
  }

  const Document& document_;
  const CrossReference& xref_;
  const WalkOptions& options_;
  const LogHook& log_;
  std::vector<std::uint8_t> marks_;
  std::vector<std::uint32_t> indexes_;
  std::int64_t page_ = 0;
  DrawnStreams result_;
};

}  // namespace

DrawnStreams WalkDrawnStreams(const Document& document, const WalkOptions& options,
                              const LogHook& log) {
  return Walker(document, options, log).Run();
}

std::vector<DrawnStream> ContentsOfArray(const Document& document, const DrawnStream& listed,
                                         const IndirectObject& object) {
  std::vector<DrawnStream> streams;
  if (listed.Kind != DrawnStreamKind::kPageContents || object.IsStream ||
      object.Value.Kind != PdfObject::Type::kArray) {
    return streams;
  }
  for (const PdfObject& item : object.Value.Items) {
    if (item.Kind != PdfObject::Type::kReference) continue;
    const ObjectKey key = MakeObjectKey(item.Number, item.Generation);
    const std::optional<XrefEntry> entry = document.Xref().Find(item.Number);
    if (!entry || entry->Type != XrefEntryType::kInUse || entry->Generation != item.Generation) {
      continue;
    }
    DrawnStream stream = listed;
    stream.Key = key;
    streams.push_back(stream);
  }
  return streams;
}

std::vector<ObjectKey> ReachableObjects(const Document& document) {
  const CrossReference& xref = document.Xref();
  std::vector<bool> seen(xref.EntryCount(), false);
  std::deque<ObjectKey> inFile;
  // Objects in object streams wait by stream, so that one stream's objects
  // are read together, while it is decoded.
  std::map<std::int64_t, std::vector<ObjectKey>> inStreams;
  const auto enqueue = [&](ObjectKey key) {
    const std::optional<std::size_t> slot = xref.LiveSlotOf(key);
    if (!slot || seen[*slot]) return;
    seen[*slot] = true;
    const XrefEntry entry = *xref.EntryAt(*slot);
    if (entry.Type == XrefEntryType::kCompressed) {
      inStreams[entry.StreamNumber].push_back(key);
    } else {
      inFile.push_back(key);
    }
  };
  for (const std::string_view key : {"Root", "Info"}) {
    const TrailerValue* value = xref.Trailer(key);
    if (value != nullptr) EachReference(value->Value, enqueue);
  }
  std::vector<ObjectKey> reached;
  const auto take = [&](ObjectKey key) {
    const std::shared_ptr<const IndirectObject> object = document.Object(key);
    if (!object) return;
    reached.push_back(key);
    EachReference(object->Value, enqueue);
  };
  while (!inFile.empty() || !inStreams.empty()) {
    while (!inFile.empty()) {
      const ObjectKey key = inFile.front();
      inFile.pop_front();
      take(key);
    }
    if (inStreams.empty()) break;
    // One stream's waiting objects, and those of the same stream they
    // lead to, while it is at hand.
    const auto stream = inStreams.begin();
    const std::int64_t number = stream->first;
    for (;;) {
      auto waiting = inStreams.find(number);
      if (waiting == inStreams.end()) break;
      std::vector<ObjectKey> keys = std::move(waiting->second);
      inStreams.erase(waiting);
      for (const ObjectKey key : keys) take(key);
    }
  }
  return reached;
}

}  // namespace quillane
