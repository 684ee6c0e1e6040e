#include "pdf/update/compact_writer.h"

#include <algorithm>
#include <deque>
#include <optional>
#include <string_view>
#include <unordered_set>

#include "pdf/objects/document_walk.h"
#include "pdf/update/xref_section.h"

namespace quillane {

namespace {

constexpr std::int64_t kUsualExtraObjectNumber = 9999;
// Copies are read from the input in pieces of this size, so that a large
// stream costs no memory of its size.
constexpr Position kCopyPiece = Position{1} << 20;
// "%PDF-" may stand this far into the file (junk before the header).
constexpr Position kHeaderSearch = 1024;
constexpr std::string_view kEndObj = "endobj";
// Objects up to this size are held from the walk to the writing, up to the
// second bound in all: the walk has just read them, and their bytes are
// then not read a second time.
constexpr Position kHeldObject = Position{16} << 10;
constexpr std::size_t kHeldBytes = std::size_t{16} << 20;

// The value after "N G obj" in the text of a new version, with references;
// nothing when it does not read.
std::optional<PdfObject> ValueOf(const RewrittenObject& object) {
  Lexer lexer(object.Bytes);
  for (int token = 0; token < 3; ++token) {
    if (lexer.Next().Kind == TokenKind::kEnd) return std::nullopt;
  }
  return ReadObject(lexer, true);
}

bool IsImage(const IndirectObject& object) {
  if (!object.IsStream || object.Value.Kind != PdfObject::Type::kDictionary) return false;
  const PdfObject* subtype = object.Value.Find("Subtype");
  return subtype != nullptr && subtype->IsName("Image");
}

// A signature dictionary (ISO 32000-1, 12.8.1) has /ByteRange, which no
// other dictionary has.
bool IsSignature(const IndirectObject& object) {
  return !object.IsStream && object.Value.Kind == PdfObject::Type::kDictionary &&
         object.Value.Find("ByteRange") != nullptr;
}

// The output as it is written: texts and copies go into a spill of the
// output's own, the spills of rewritten objects between them; the position
// is always the count of bytes written so far.
class CompactOutput {
 public:
  explicit CompactOutput(FileAccess& output) : output_(output) {}

  Position At() const { return output_.Size() + (spill_ != nullptr ? spill_->Size() : 0); }

  void Write(std::string_view bytes) {
    if (bytes.empty()) return;
    if (spill_ == nullptr) spill_ = output_.NewSpill();
    spill_->Write(bytes);
  }
  void WriteSpill(std::shared_ptr<Spill> spill) {
    Flush();
    output_.AppendSpill(std::move(spill));
  }
  void Flush() {
    if (spill_ != nullptr) output_.AppendSpill(std::shared_ptr<Spill>(std::move(spill_)));
  }

 private:
  FileAccess& output_;
  std::unique_ptr<Spill> spill_;
};

// The input's header line ("%PDF-1.7"), wherever it starts in the first
// KiB, without its line end; the usual one when there is none.
Text HeaderLine(const FileAccess& source) {
  const Text start = source.Substring(0, std::min(source.Size(), kHeaderSearch));
  const std::size_t header = start.find("%PDF-");
  if (header == Text::npos) return "%PDF-1.7";
  const std::size_t end = start.find_first_of("\r\n", header);
  return start.substr(header, end == Text::npos ? Text::npos : end - header);
}

// 64-bit FNV-1a, for a second /ID part that changes with the file.
std::uint64_t Fingerprint(std::uint64_t hash, std::string_view bytes) {
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

Text HexOf(std::uint64_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  Text text(16, '0');
  for (int i = 15; i >= 0; --i) {
    text[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
    value >>= 4;
  }
  return text;
}

// /ID (ISO 32000-1, 14.4): the first part names the document and stays; the
// second names this version of it and is new.
Text NewId(const Document& document, const std::vector<XrefRow>& rows) {
  Text first;
  const TrailerValue* id = document.Xref().Trailer("ID");
  if (id != nullptr && id->Value.Kind == PdfObject::Type::kArray && !id->Value.Items.empty()) {
    // The parts' positions count from where the array's do: Bytes starts at
    // the array.
    const PdfObject& part = id->Value.Items.front();
    const std::size_t start = part.Start - id->Value.Start;
    const std::size_t end = part.End - id->Value.Start;
    if (part.Kind == PdfObject::Type::kString && part.Start >= id->Value.Start && start < end &&
        end <= id->Bytes.size()) {
      first = id->Bytes.substr(start, end - start);
    }
  }
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  hash = Fingerprint(hash, first);
  for (const XrefRow& row : rows) {
    hash = Fingerprint(
        hash, IntToText(row.Number) + " " + IntToText(row.Offset) + " " + IntToText(row.Index));
  }
  const Text second = "<" + HexOf(hash) + HexOf(Fingerprint(hash, "compact")) + ">";
  if (first.empty()) first = second;
  return "[" + first + second + "]";
}

}  // namespace

KeptObjects FindKeptObjects(const Document& document,
                            const std::vector<RewrittenObject>& rewrittenObjects) {
  const CrossReference& xref = document.Xref();
  std::vector<bool> seen(xref.EntryCount(), false);
  std::deque<ObjectKey> waiting;
  const auto enqueue = [&](ObjectKey key) {
    const std::optional<std::size_t> slot = xref.LiveSlotOf(key);
    if (!slot || seen[*slot]) return;
    seen[*slot] = true;
    waiting.push_back(key);
  };
  for (const std::string_view key : {"Root", "Info"}) {
    const TrailerValue* value = xref.Trailer(key);
    if (value != nullptr) EachReference(value->Value, enqueue);
  }
  for (const RewrittenObject& object : rewrittenObjects) {
    const std::optional<PdfObject> value = ValueOf(object);
    if (value) EachReference(*value, enqueue);
  }
  KeptObjects kept;
  std::size_t held = 0;
  while (!waiting.empty()) {
    const ObjectKey key = waiting.front();
    waiting.pop_front();
    const std::shared_ptr<const IndirectObject> object = document.Object(key);
    if (!object) continue;
    ObjectLocation where;
    const bool image = IsImage(*object);
    if (object->Compressed()) {
      where.Compressed = true;
      where.StreamNumber = object->StreamNumber;
      where.StreamIndex = object->StreamIndex;
    } else {
      where.Start = object->HeaderStart;
      where.End = image ? object->HeaderStart : object->End;
      if (object->IsStream && !image) {
        // A stream without "endstream" has no end to copy up to.
        const std::optional<StreamExtent> extent = document.Extent(*object);
        if (!extent) continue;
        where.End = extent->ObjectEnd;
      }
    }
    kept.Keys.push_back(key);
    kept.Locations.push_back(where);
    kept.Bytes.emplace_back();
    if (!where.Compressed && !image && where.End - where.Start <= kHeldObject &&
        held < kHeldBytes) {
      kept.Bytes.back() = document.Source().Substring(where.Start, where.End);
      held += kept.Bytes.back().size();
    }
    if (image) {
      kept.Images.push_back(key);
      continue;
    }
    if (IsSignature(*object)) ++kept.Signatures;
    EachReference(object->Value, enqueue);
    // The stream that holds it is kept with it, with what its dictionary
    // refers to (an indirect /Length, /Extends).
    if (object->Compressed()) enqueue(MakeObjectKey(object->StreamNumber, 0));
  }
  return kept;
}

CompactFile WriteCompactFile(const Document& document, const KeptObjects& kept,
                             const std::vector<ObjectKey>& imageKeys,
                             const PlaceholderTemplates& templates,
                             const std::vector<RewrittenObject>& rewrittenObjects,
                             FileAccess& output) {
  const FileAccess& source = document.Source();
  const std::unordered_set<ObjectKey> images(imageKeys.begin(), imageKeys.end());
  std::unordered_set<std::int64_t> rewritten;
  std::int64_t highest = 0;
  for (const RewrittenObject& object : rewrittenObjects) {
    rewritten.insert(ObjectNumber(object.Key));
    highest = std::max(highest, ObjectNumber(object.Key));
  }
  for (const ObjectKey key : kept.Keys) highest = std::max(highest, ObjectNumber(key));
  std::optional<ObjectKey> extraKey;
  if (templates.extra) {
    extraKey = MakeObjectKey(std::max(highest + 1, kUsualExtraObjectNumber), 1);
  }
  const ObjectKey bodyExtraKey = extraKey.value_or(ExtraObjectKey);

  // The objects in the file in the order of the file, so that the input is
  // read front to back.
  struct Copy {
    ObjectKey Key;
    ObjectLocation Where;
    const Text* Bytes;
  };
  std::vector<Copy> inFile;
  std::vector<XrefRow> rows;
  for (std::size_t i = 0; i < kept.Keys.size(); ++i) {
    const ObjectKey key = kept.Keys[i];
    if (rewritten.count(ObjectNumber(key)) != 0) continue;
    const ObjectLocation* where = &kept.Locations[i];
    if (where->Compressed) {
      XrefRow row;
      row.Number = ObjectNumber(key);
      row.Generation = 0;
      row.InObjectStream = true;
      row.Stream = where->StreamNumber;
      row.Index = where->StreamIndex;
      rows.push_back(row);
    } else {
      inFile.push_back({key, *where, &kept.Bytes[i]});
    }
  }
  // The other objects a kept object stream holds are listed too: a reader
  // that decodes the stream meets them and expects the section to place
  // them there (qpdf warns of each one it does not). Those that a newer
  // revision replaced or freed stay unlisted, as in the input.
  std::unordered_set<std::int64_t> streams;
  for (const XrefRow& row : rows) streams.insert(row.Stream);
  std::unordered_set<std::int64_t> listed;
  for (const XrefRow& row : rows) listed.insert(row.Number);
  if (!streams.empty()) {
    document.Xref().ForEachLiveEntry([&](const XrefEntry& entry) {
      if (entry.Type != XrefEntryType::kCompressed || streams.count(entry.StreamNumber) == 0 ||
          listed.count(entry.Number) != 0 || rewritten.count(entry.Number) != 0) {
        return;
      }
      XrefRow row;
      row.Number = entry.Number;
      row.InObjectStream = true;
      row.Stream = entry.StreamNumber;
      row.Index = entry.StreamIndex;
      rows.push_back(row);
    });
  }
  std::sort(inFile.begin(), inFile.end(),
            [](const Copy& a, const Copy& b) { return a.Where.Start < b.Where.Start; });

  CompactFile result;
  CompactOutput out(output);
  // A binary comment after the header tells transfer programs the file is
  // binary (ISO 32000-1, 7.5.2).
  out.Write(HeaderLine(source) + "\n%\xE2\xE3\xCF\xD3\n");
  const auto list = [&rows, &out](ObjectKey key) {
    XrefRow row;
    row.Number = ObjectNumber(key);
    row.Generation = ObjectGeneration(key);
    row.Offset = out.At();
    rows.push_back(row);
  };
  for (const Copy& copy : inFile) {
    list(copy.Key);
    if (images.count(copy.Key) != 0) {
      out.Write(ReplacementObjectText(copy.Key, templates, bodyExtraKey));
      ++result.Placeholders;
      continue;
    }
    bool ends = false;
    if (!copy.Bytes->empty()) {
      out.Write(*copy.Bytes);
      ends = copy.Bytes->ends_with(kEndObj);
    } else {
      for (Position at = copy.Where.Start; at < copy.Where.End; at += kCopyPiece) {
        out.Write(source.Substring(at, std::min(copy.Where.End, at + kCopyPiece)));
      }
      const Position tail = std::max(copy.Where.Start, copy.Where.End - Position{6});
      ends = source.Substring(tail, copy.Where.End) == kEndObj;
    }
    if (!ends) out.Write("\nendobj");
    // The next header must not run on from "endobj".
    out.Write("\n");
    ++result.Copied;
  }
  for (const RewrittenObject& object : rewrittenObjects) {
    list(object.Key);
    out.Write(object.Bytes);
    if (object.Data != nullptr) {
      out.WriteSpill(object.Data);
      out.Write(object.After);
    }
  }
  if (extraKey) {
    list(*extraKey);
    out.Write(ExtraObjectText(templates, *extraKey));
  }

  // Of a number written twice (a new object under a kept number) the later
  // one is listed.
  std::stable_sort(rows.begin(), rows.end(),
                   [](const XrefRow& a, const XrefRow& b) { return a.Number < b.Number; });
  std::vector<XrefRow> section;
  section.reserve(rows.size());
  bool compressed = false;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (i + 1 < rows.size() && rows[i + 1].Number == rows[i].Number) continue;
    if (rows[i].Number <= 0) continue;
    section.push_back(rows[i]);
    compressed = compressed || rows[i].InObjectStream;
  }

  TrailerEntries trailer;
  const CrossReference& xref = document.Xref();
  if (const TrailerValue* root = xref.Trailer("Root")) trailer.Root = root->Bytes;
  if (const TrailerValue* info = xref.Trailer("Info");
      info != nullptr && info->Value.Kind == PdfObject::Type::kReference) {
    const auto found = std::find_if(section.begin(), section.end(), [info](const XrefRow& row) {
      return row.Number == info->Value.Number && row.Generation == info->Value.Generation;
    });
    if (found != section.end()) trailer.Info = info->Bytes;
  }
  trailer.Id = NewId(document, section);

  // A table cannot list objects in object streams (ISO 32000-1, 7.5.8.3).
  const Position position = out.At();
  result.Listed = static_cast<std::int64_t>(section.size());
  if (xref.NewestForm() == SectionForm::kStream || compressed) {
    const std::int64_t number = (section.empty() ? 0 : section.back().Number) + 1;
    out.Write(CompleteStream(section, trailer, number, position));
    ++result.Listed;
  } else {
    out.Write(CompleteTable(section, trailer, position));
  }
  out.Flush();
  return result;
}

}  // namespace quillane
