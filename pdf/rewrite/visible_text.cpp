#include "pdf/rewrite/visible_text.h"

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>

#include "pdf/filters/stream_filters.h"
#include "pdf/objects/cross_reference.h"
#include "pdf/objects/document.h"
#include "pdf/objects/document_walk.h"
#include "pdf/rewrite/show_text.h"
#include "pdf/rewrite/stream_rewrite.h"
#include "pdf/rewrite/text_font.h"
#include "pdf/rewrite/to_unicode.h"
#include "pdf/syntax/lexer.h"

namespace quillane {

namespace {

// The two graphics states the edits use, as direct dictionaries of an
// /ExtGState resource dictionary: Multiply for the images under the text,
// and an opaque, unmasked fill for text a graphics state would hide.
constexpr char kGraphicsStates[] =
    "/QuillaneMultiply<</Type/ExtGState/BM/Multiply/ca 0.4/CA 0.4>>"
    "/QuillaneOpaque<</Type/ExtGState/ca 1/CA 1/BM/Normal/SMask/None>>";

// The /W of a CIDFont gives no width for a code: /DW, else this.
constexpr double kDefaultCidWidth = 1000;

// A text font subset's name: a tag of six capitals and the font's name.
Text SubsetName(std::size_t index, const Text& name) {
  Text tag = "QLTXAA";
  tag[4] = static_cast<char>('A' + (index / 26) % 26);
  tag[5] = static_cast<char>('A' + index % 26);
  return tag + "+" + (name.empty() ? Text("OtherText") : name);
}

Text Reference(std::int64_t number) { return IntToText(number) + " 0 R"; }

bool IsDictionary(const PdfObject* value) {
  return value != nullptr && value->Kind == PdfObject::Type::kDictionary;
}

// The new bytes of an object's value: insertions (or replacements) at
// offsets of the value as the file holds it.
struct ValueEdit {
  std::size_t Start = 0;
  std::size_t End = 0;
  Text Bytes;
};

// A glyphless font and what replaces it.
struct ReplacedFont {
  std::shared_ptr<const IndirectObject> Object;
  // Where /DescendantFonts's value lies in the font dictionary.
  std::size_t DescendantsStart = 0;
  std::size_t DescendantsEnd = 0;
  // And /BaseFont's, which names the descendant's font.
  const PdfObject* BaseFont = nullptr;
  std::map<std::uint32_t, double> OldWidths;
  double DefaultWidth = kDefaultCidWidth;
  std::optional<TextFontReplacement::VerticalMetrics> Vertical;
  ReplacedFontWidths Widths;
  std::unique_ptr<TextFontReplacement> Replacement;
  std::set<std::uint32_t> Shown;
};

class Pass {
 public:
  Pass(const Document& document, const std::vector<ObjectKey>& imageKeys,
       const DrawnStreamRewriting& rewriting, const LogHook& log)
      : document_(document), images_(document.Xref(), imageKeys), rewriting_(rewriting), log_(log) {
    for (const ObjectKey image : imageKeys)
      highestImage_ = std::max(highestImage_, ObjectNumber(image));
  }

  DrawnStreamRewrite Run(std::int64_t trailerSize);

 private:
  using Listed = DrawnContentStream;

  const fonts::TrueTypeFont& TextFont() {
    if (textFont_ == nullptr) textFont_ = &rewriting_.TextFont();
    return *textFont_;
  }
  void Log(const Text& line) const {
    if (log_) log_(line);
  }
  // The resources a stream is drawn with: the dictionary, and where that
  // dictionary lies (the object holding it).
  Resolved Resources(ObjectKey holder) const;
  ShowTextResources ResourcesFor(const Resolved& resources);
  // Where the graphics states go for resources held by `holder`: the object
  // to edit and the edit; nothing when there is no place or they are there.
  struct StatesEdit {
    std::shared_ptr<const IndirectObject> Target;
    ValueEdit Edit;
  };
  std::optional<StatesEdit> GraphicsStatesEdit(ObjectKey holder) const;
  ReplacedFont* FontFor(const Resolved& resources, std::string_view name);
  std::unique_ptr<ReplacedFont> ReadGlyphlessFont(
      const std::shared_ptr<const IndirectObject>& object) const;
  std::optional<Text> ValueText(const IndirectObject& object);
  void AddEdit(const std::shared_ptr<const IndirectObject>& target, ValueEdit edit);
  std::optional<Text> Decoded(const PdfObject* value) const;

  const Document& document_;
  const KeyMarks images_;
  // The highest number of an image the byte walk found, -1 without any.
  std::int64_t highestImage_ = -1;
  const DrawnStreamRewriting& rewriting_;
  const LogHook& log_;
  // Fonts looked at, by key: null for one that stays.
  std::map<ObjectKey, std::unique_ptr<ReplacedFont>> fonts_;
  // Edits of objects other than the rewritten streams, by key.
  std::map<ObjectKey, std::pair<std::shared_ptr<const IndirectObject>, std::vector<ValueEdit>>>
      edits_;
  const fonts::TrueTypeFont* textFont_ = nullptr;
};

Resolved Pass::Resources(ObjectKey holder) const {
  if (holder == kNoObject) return {};
  const std::shared_ptr<const IndirectObject> object = document_.Object(holder);
  if (object == nullptr) return {};
  Resolved resources = document_.Get(&object->Value, "Resources");
  if (!IsDictionary(resources.Value)) return {};
  if (resources.Object == nullptr) resources.Object = object;
  return resources;
}

std::optional<Text> Pass::Decoded(const PdfObject* value) const {
  const Resolved stream = document_.Resolve(value);
  if (!stream || stream.Object == nullptr || !stream.Object->IsStream ||
      stream.Value != &stream.Object->Value) {
    return std::nullopt;
  }
  return document_.Decode(*stream.Object).Data;
}

std::unique_ptr<ReplacedFont> Pass::ReadGlyphlessFont(
    const std::shared_ptr<const IndirectObject>& object) const {
  const PdfObject& font = object->Value;
  if (!IsDictionary(&font)) return nullptr;
  const Resolved subtype = document_.Get(&font, "Subtype");
  const Resolved encoding = document_.Get(&font, "Encoding");
  if (!subtype || !subtype->IsName("Type0") || !encoding || !encoding->IsName("Identity-H")) {
    return nullptr;
  }
  const std::optional<Text> cmap = Decoded(font.Find("ToUnicode"));
  if (!cmap) return nullptr;
  const PdfObject* descendantsEntry = font.Find("DescendantFonts");
  const Resolved descendants = document_.Get(&font, "DescendantFonts");
  if (descendantsEntry == nullptr || !descendants || descendants->Kind != PdfObject::Type::kArray ||
      descendants->Items.size() != 1) {
    return nullptr;
  }
  const Resolved cidFont = document_.Resolve(descendants->Items[0]);
  if (!IsDictionary(cidFont.Value)) return nullptr;
  const Resolved cidSubtype = document_.Get(cidFont.Value, "Subtype");
  if (!cidSubtype || !cidSubtype->IsName("CIDFontType2")) return nullptr;
  const Resolved descriptor = document_.Get(cidFont.Value, "FontDescriptor");
  if (!IsDictionary(descriptor.Value)) return nullptr;
  std::optional<Text> program = Decoded(descriptor->Find("FontFile2"));
  if (!program) return nullptr;
  const std::optional<fonts::TrueTypeFont> truetype = fonts::TrueTypeFont::TryRead(*program);
  if (!truetype) return nullptr;

  // Glyphless by structure: no outlines at all, one box glyph, or boxes
  // only with every code on the same glyph.
  const fonts::OutlineSummary outlines = truetype->SummarizeOutlines();
  bool glyphless = outlines.GlyphsWithOutlines == 0 ||
                   (outlines.GlyphsWithOutlines == 1 && outlines.BoxGlyphs == 1);
  if (!glyphless) {
    const std::optional<Text> map = Decoded(cidFont->Find("CIDToGIDMap"));
    if (map) {
      std::set<unsigned> glyphs;
      std::size_t codes = 0;
      for (std::size_t i = 0; i + 1 < map->size(); i += 2) {
        const unsigned glyph = static_cast<unsigned char>((*map)[i]) * 256U +
                               static_cast<unsigned char>((*map)[i + 1]);
        if (glyph == 0) continue;
        ++codes;
        glyphs.insert(glyph);
      }
      glyphless = codes >= 2 && glyphs.size() == 1;
    }
  }
  if (!glyphless) return nullptr;

  auto replaced = std::make_unique<ReplacedFont>();
  replaced->Object = object;
  replaced->DescendantsStart = descendantsEntry->Start;
  replaced->DescendantsEnd = descendantsEntry->End;
  replaced->BaseFont = font.Find("BaseFont");
  replaced->Widths.Codes = ToUnicodeMap::Read(*cmap);
  const Resolved ascent = document_.Get(descriptor.Value, "Ascent");
  const Resolved descent = document_.Get(descriptor.Value, "Descent");
  if (ascent && descent && ascent->NumberValue() && descent->NumberValue()) {
    replaced->Vertical = {*ascent->NumberValue(), *descent->NumberValue()};
  }
  if (const Resolved dw = document_.Get(cidFont.Value, "DW"); dw && dw->NumberValue()) {
    replaced->DefaultWidth = *dw->NumberValue();
  }
  // /W: "c [w1 w2 ...]" or "cfirst clast w" (ISO 32000-1, 9.7.4.3).
  if (const Resolved w = document_.Get(cidFont.Value, "W");
      w && w->Kind == PdfObject::Type::kArray) {
    const std::vector<PdfObject>& items = w->Items;
    for (std::size_t i = 0; i + 1 < items.size();) {
      const std::optional<std::int64_t> first = items[i].Integer();
      if (!first || *first < 0) break;
      if (items[i + 1].Kind == PdfObject::Type::kArray) {
        std::int64_t code = *first;
        for (const PdfObject& width : items[i + 1].Items) {
          if (code > 0xFFFF) break;
          replaced->OldWidths[static_cast<std::uint32_t>(code++)] =
              width.NumberValue().value_or(replaced->DefaultWidth);
        }
        i += 2;
        continue;
      }
      if (i + 2 >= items.size()) break;
      const std::optional<std::int64_t> last = items[i + 1].Integer();
      const std::optional<double> width = items[i + 2].NumberValue();
      if (!last || !width) break;
      for (std::int64_t code = *first; code <= std::min<std::int64_t>(*last, 0xFFFF); ++code) {
        replaced->OldWidths[static_cast<std::uint32_t>(code)] = *width;
      }
      i += 3;
    }
  }
  return replaced;
}

ReplacedFont* Pass::FontFor(const Resolved& resources, std::string_view name) {
  if (!resources) return nullptr;
  const Resolved fontDictionary = document_.Get(resources.Value, "Font");
  if (!IsDictionary(fontDictionary.Value)) return nullptr;
  const Resolved font = document_.Get(fontDictionary.Value, name);
  // Only a font of its own object can get a new version.
  if (!font || font.Object == nullptr || font.Value != &font.Object->Value) return nullptr;
  const auto known = fonts_.find(font.Object->Key);
  if (known != fonts_.end()) return known->second.get();
  std::unique_ptr<ReplacedFont> replaced = ReadGlyphlessFont(font.Object);
  if (replaced != nullptr && !rewriting_.TextFont) replaced = nullptr;
  if (replaced != nullptr) {
    replaced->Replacement =
        std::make_unique<TextFontReplacement>(TextFont(), replaced->Widths.Codes);
    ReplacedFont* raw = replaced.get();
    raw->Widths.OldWidth = [raw](std::uint32_t code) {
      const auto width = raw->OldWidths.find(code);
      return width != raw->OldWidths.end() ? width->second : raw->DefaultWidth;
    };
    raw->Widths.NewWidth = [raw](std::uint32_t code) { return raw->Replacement->Width(code); };
  }
  return fonts_.emplace(font.Object->Key, std::move(replaced)).first->second.get();
}

ShowTextResources Pass::ResourcesFor(const Resolved& resources) {
  ShowTextResources result;
  result.ReplacedFont = [this, resources](std::string_view name) -> const ReplacedFontWidths* {
    ReplacedFont* font = FontFor(resources, name);
    return font != nullptr ? &font->Widths : nullptr;
  };
  // Only an image the update replaces is painted under the text: a picture
  // it leaves keeps its look.
  result.IsImage = [this, resources](std::string_view name) {
    if (!resources) return false;
    const Resolved xobjects = document_.Get(resources.Value, "XObject");
    if (!IsDictionary(xobjects.Value)) return false;
    const PdfObject* entry = xobjects->Find(name);
    return entry != nullptr && entry->Kind == PdfObject::Type::kReference &&
           images_.Contains(MakeObjectKey(entry->Number, entry->Generation));
  };
  result.HidesFill = [this, resources](std::string_view name) {
    if (!resources) return true;
    const Resolved states = document_.Get(resources.Value, "ExtGState");
    if (!IsDictionary(states.Value)) return true;
    const Resolved state = document_.Get(states.Value, name);
    if (!IsDictionary(state.Value)) return true;
    const Resolved alpha = document_.Get(state.Value, "ca");
    return alpha && alpha->NumberValue().value_or(1) < 0.5;
  };
  return result;
}

std::optional<Pass::StatesEdit> Pass::GraphicsStatesEdit(ObjectKey holder) const {
  if (holder == kNoObject) return std::nullopt;
  const std::shared_ptr<const IndirectObject> object = document_.Object(holder);
  if (object == nullptr || !IsDictionary(&object->Value)) return std::nullopt;
  Resolved resources = document_.Get(&object->Value, "Resources");
  if (!IsDictionary(resources.Value)) return std::nullopt;
  if (resources.Object == nullptr) resources.Object = object;
  const PdfObject* states = resources->Find("ExtGState");
  if (states == nullptr) {
    return StatesEdit{
        resources.Object,
        {resources->End - 2, resources->End - 2, Text("/ExtGState<<") + kGraphicsStates + ">>"}};
  }
  Resolved statesDictionary = document_.Resolve(states);
  if (!IsDictionary(statesDictionary.Value)) return std::nullopt;
  if (statesDictionary->Find(kMultiplyState) != nullptr) return std::nullopt;
  if (statesDictionary.Object == nullptr) statesDictionary.Object = resources.Object;
  return StatesEdit{statesDictionary.Object,
                    {statesDictionary->End - 2, statesDictionary->End - 2, kGraphicsStates}};
}

std::optional<Text> Pass::ValueText(const IndirectObject& object) {
  return document_.ValueBytes(object, object.Value);
}

void Pass::AddEdit(const std::shared_ptr<const IndirectObject>& target, ValueEdit edit) {
  auto& [object, edits] = edits_[target->Key];
  object = target;
  for (const ValueEdit& other : edits) {
    if (other.Start == edit.Start) return;
  }
  edits.push_back(std::move(edit));
}

Text ApplyEdits(Text text, std::vector<ValueEdit> edits) {
  std::sort(edits.begin(), edits.end(),
            [](const ValueEdit& a, const ValueEdit& b) { return a.Start > b.Start; });
  for (const ValueEdit& edit : edits) text.replace(edit.Start, edit.End - edit.Start, edit.Bytes);
  return text;
}

Text ObjectText(ObjectKey key, const Text& value) {
  return IntToText(ObjectNumber(key)) + " " + IntToText(ObjectGeneration(key)) + " obj\n" + value +
         "\nendobj\n";
}

Text StreamObjectText(std::int64_t number, const Text& data, const Text& entries) {
  const Text compressed = FlateCompress(data);
  return IntToText(number) + " 0 obj\n<</Length " +
         IntToText(static_cast<std::int64_t>(compressed.size())) + "/Filter/FlateDecode" + entries +
         ">>\nstream\n" + compressed + "\nendstream\nendobj\n";
}

DrawnStreamRewrite Pass::Run(std::int64_t trailerSize) {
  DrawnStreamRewrite result;
  result.NextNumber = trailerSize;
  // The streams are read from the walk's list twice, one at a time, so that
  // none is held beyond its turn: a document of a million objects keeps
  // only the list.
  WalkOptions options;
  options.IsKnownImage = [this](ObjectKey key) { return images_.Contains(key); };
  const DrawnStreams drawn = WalkDrawnStreams(document_, options, log_);

  // The pages that show invisible text: on them images go under the text.
  // (The second reading logs what is passed over.)
  std::set<std::int64_t> textPages;
  if (rewriting_.ShowText) {
    EachReadableContentStream(document_, drawn, images_, {}, [&](const Listed& item) {
      if (item.Drawn.InType3Glyph || textPages.count(item.Drawn.Page) != 0) return;
      ShowTextEditor editor(ShowTextEditing{});
      const std::optional<ContentReading> reading =
          ReadStreamContent(document_.Source(), item.In, {"Tr"}, editor.Editor());
      if (reading && reading->Complete && editor.DrawsInvisibleText()) {
        textPages.insert(item.Drawn.Page);
      }
    });
  }

  std::vector<std::pair<Position, RewrittenObject>> rewritten;
  EachReadableContentStream(document_, drawn, images_, log_, [&](Listed& item) {
    const bool showText = textPages.count(item.Drawn.Page) != 0 && !item.Drawn.InType3Glyph;
    if (!showText && !rewriting_.ReplaceInlineImages) return;
    StreamRewriting rewriting;
    rewriting.ReplaceInlineImages = rewriting_.ReplaceInlineImages;
    rewriting.Gray = rewriting_.Gray;
    if (rewriting_.ReplaceInlineImages) rewriting.Markers = {"BI"};
    rewriting.Glyph = item.Drawn.InType3Glyph;
    std::optional<StatesEdit> states;
    bool statesInDictionary = false;
    std::unique_ptr<ShowTextEditor> editor;
    if (showText) {
      rewriting.Markers.insert(rewriting.Markers.end(), {"Tr", "Do"});
      // Inline placeholders go under the text as the pictures' do.
      rewriting.PlaceholderBefore = "q /" + Text(kMultiplyState) + " gs ";
      rewriting.PlaceholderAfter = " Q";
      const Resolved resources = Resources(item.Drawn.ResourcesHolder);
      ShowTextEditing editing;
      editing.WrapImages = true;
      editing.Resources = ResourcesFor(resources);
      editor = std::make_unique<ShowTextEditor>(std::move(editing));
      rewriting.EditOperation = editor->Editor();
      states = GraphicsStatesEdit(item.Drawn.ResourcesHolder);
      // Resources in the stream's own dictionary go into its new version,
      // when its edits use the graphics states: a first reading tells.
      if (states && states->Target->Key == item.Drawn.Key) {
        ShowTextEditing trial;
        trial.WrapImages = true;
        trial.Resources = ResourcesFor(resources);
        ShowTextEditor reader(std::move(trial));
        const std::optional<ContentReading> reading =
            ReadStreamContent(document_.Source(), item.In, rewriting.Markers, reader.Editor());
        const bool inlineImages =
            rewriting_.ReplaceInlineImages && reading && !reading->InlineImages.empty();
        if (!reading ||
            (reader.WrappedImages() == 0 && !reader.UsesOpaqueState() && !inlineImages)) {
          states.reset();
        }
      }
      if (states && states->Target->Key == item.Drawn.Key) {
        item.In.DictionaryText = ApplyEdits(item.In.DictionaryText, {states->Edit});
        Lexer lexer(item.In.DictionaryText);
        std::optional<PdfObject> dictionary = ReadObject(lexer, true);
        if (!dictionary) return;
        item.In.Dictionary = std::move(*dictionary);
        statesInDictionary = true;
      }
    }
    StreamRewriteResult stream = RewriteStream(document_.Source(), item.In, rewriting, log_);
    if (!stream.Object) return;
    if (rewriting_.ReplaceInlineImages && !stream.Reading->InlineImages.empty()) {
      Log("Inline images: " + IntToText(item.Drawn.Key) + "#" +
          IntToText(static_cast<std::int64_t>(stream.Reading->InlineImages.size())));
    }
    const bool inlineImages =
        rewriting_.ReplaceInlineImages && !stream.Reading->InlineImages.empty();
    if (editor != nullptr && (stream.Reading->EditedOperations > 0 || inlineImages)) {
      Log("Text shown: " + IntToText(item.Drawn.Key));
      if (editor->WrappedImages() > 0 || editor->UsesOpaqueState() || inlineImages) {
        if (states && !statesInDictionary && !states->Target->IsStream) {
          AddEdit(states->Target, states->Edit);
        } else if (!statesInDictionary &&
                   (states || Resources(item.Drawn.ResourcesHolder).Value == nullptr)) {
          Log("Text left: " + IntToText(item.Drawn.Key) +
              " no resources to add graphics states to");
        }
      }
      const Resolved resources = Resources(item.Drawn.ResourcesHolder);
      for (const auto& [name, codes] : editor->CodesShown()) {
        if (ReplacedFont* font = FontFor(resources, name)) {
          font->Shown.insert(codes.begin(), codes.end());
        }
      }
    }
    rewritten.emplace_back(item.Object->HeaderStart, std::move(*stream.Object));
  });
  std::stable_sort(rewritten.begin(), rewritten.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (auto& [at, object] : rewritten) result.Objects.push_back(std::move(object));

  // The resources with the graphics states.
  for (const auto& [key, edit] : edits_) {
    const std::optional<Text> value = ValueText(*edit.first);
    if (!value) {
      Log("Text left: " + IntToText(key) + " resources not readable");
      continue;
    }
    result.Objects.push_back({key, ObjectText(key, ApplyEdits(*value, edit.second)), nullptr, {}});
  }

  // The glyphless fonts, each with a new descendant drawn with the text
  // font, numbered after every object the document has.
  std::int64_t next = trailerSize;
  document_.Xref().ForEachLiveEntry(
      [&next](const XrefEntry& entry) { next = std::max(next, entry.Number + 1); });
  // Images the byte walk found outside the cross-reference get new versions
  // under their numbers too.
  next = std::max(next, highestImage_ + 1);
  std::size_t missing = 0;
  std::size_t index = 0;
  for (const auto& [key, font] : fonts_) {
    if (font == nullptr || font->Shown.empty()) continue;
    const std::optional<Text> value = ValueText(*font->Object);
    if (!value) {
      Log("Text left: " + IntToText(key) + " font not readable");
      continue;
    }
    const std::int64_t cidFont = next;
    next += 4;
    const Text name = SubsetName(index++, TextFont().PostScriptName());
    const TextFontReplacement::Objects objects =
        font->Replacement->Build(font->Shown, name, Reference(cidFont + 1), Reference(cidFont + 2),
                                 Reference(cidFont + 3), font->Vertical);
    missing += objects.MissingGlyphs;
    std::vector<ValueEdit> edits{
        {font->DescendantsStart, font->DescendantsEnd, "[" + Reference(cidFont) + "]"}};
    if (font->BaseFont != nullptr) {
      edits.push_back({font->BaseFont->Start, font->BaseFont->End, "/" + name});
    }
    const Text dictionary = ApplyEdits(*value, edits);
    result.Objects.push_back({key, ObjectText(key, dictionary), nullptr, {}});
    result.Objects.push_back({MakeObjectKey(cidFont, 0),
                              ObjectText(MakeObjectKey(cidFont, 0), objects.CidFont),
                              nullptr,
                              {}});
    result.Objects.push_back({MakeObjectKey(cidFont + 1, 0),
                              ObjectText(MakeObjectKey(cidFont + 1, 0), objects.Descriptor),
                              nullptr,
                              {}});
    result.Objects.push_back({MakeObjectKey(cidFont + 2, 0),
                              StreamObjectText(cidFont + 2, objects.CidToGidMap, ""),
                              nullptr,
                              {}});
    result.Objects.push_back({MakeObjectKey(cidFont + 3, 0),
                              StreamObjectText(cidFont + 3, objects.Program,
                                               "/Length1 " + IntToText(static_cast<std::int64_t>(
                                                                 objects.Program.size()))),
                              nullptr,
                              {}});
    result.NextNumber = next;
    Log("Font replaced: " + IntToText(key));
  }
  if (missing > 0) Log("Glyphs missing: " + IntToText(static_cast<std::int64_t>(missing)));
  return result;
}

}  // namespace

DrawnStreamRewrite RewriteDrawnStreams(const FileAccess& source, std::int64_t trailerSize,
                                       const std::vector<ObjectKey>& imageKeys,
                                       const DrawnStreamRewriting& rewriting, const LogHook& log) {
  CrossReferenceReading reading = CrossReference::Read(source);
  if (!reading.Xref) {
    if (log && rewriting.ReplaceInlineImages) log("Inline images left: " + reading.Reason);
    if (log && rewriting.ShowText) log("Text left: " + reading.Reason);
    return {{}, trailerSize};
  }
  return RewriteDrawnStreams(source, trailerSize, imageKeys, rewriting, log,
                             std::move(*reading.Xref));
}

DrawnStreamRewrite RewriteDrawnStreams(const FileAccess& source, std::int64_t trailerSize,
                                       const std::vector<ObjectKey>& imageKeys,
                                       const DrawnStreamRewriting& rewriting, const LogHook& log,
                                       CrossReference xref) {
  const Document document(source, std::move(xref), log);
  Pass pass(document, imageKeys, rewriting, log);
  return pass.Run(trailerSize);
}

}  // namespace quillane
