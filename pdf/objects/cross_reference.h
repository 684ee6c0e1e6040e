// The cross-reference of a document: for every object number, the entry of
// the newest revision (ISO 32000-1, 7.5.4 to 7.5.8), and the trailer's
// document-wide entries. Read from the whole chain of sections from the last
// "startxref" through /Prev: classic tables, cross-reference streams and
// hybrid files (/XRefStm); or, for a file whose chain cannot be read,
// reconstructed from the objects the file holds, as readers repair it. Both
// give the same index, so that everything above works on either.
//
// The index is one vector of 16-byte entries sorted by number, made dense
// (entry i is object i) when the numbering has few gaps, so that a lookup is
// one array access; a million objects cost 16 MB.
#ifndef QUILLANE_PDF_OBJECTS_CROSS_REFERENCE_H_
#define QUILLANE_PDF_OBJECTS_CROSS_REFERENCE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "base/log_hook.h"
#include "base/text.h"
#include "fileaccess/fileaccess.h"
#include "pdf/syntax/lexer.h"
#include "pdf/syntax/object_key.h"

namespace quillane {

// Object numbers above this are refused: they fit an ObjectKey and 32 bits.
inline constexpr std::int64_t kMaxObjectNumber = (std::int64_t{1} << 31) - 1;
// More entries than this in all sections together make the chain unreadable
// (the format's own limit on indirect objects is 8,388,607).
inline constexpr std::int64_t kMaxXrefEntries = std::int64_t{1} << 23;

enum class XrefEntryType : std::uint8_t {
  kFree,        // "f", type 0: no object under this number
  kInUse,       // "n", type 1: an object at a position in the file
  kCompressed,  // type 2: an object inside an object stream
};

struct XrefEntry {
  std::int64_t Number = 0;
  XrefEntryType Type = XrefEntryType::kFree;
  // kInUse: the object's generation; kFree: the generation a next use would
  // take; kCompressed: 0, as for every object in an object stream.
  std::int64_t Generation = 0;
  // kInUse: where its header "N G obj" starts in the file (0 <= Offset <
  // the file's size).
  Position Offset = 0;
  // kCompressed: the number of the object stream and the object's index in
  // it.
  std::int64_t StreamNumber = 0;
  std::int64_t StreamIndex = 0;

  ObjectKey Key() const { return MakeObjectKey(Number, Generation); }
  bool Live() const { return Type != XrefEntryType::kFree; }
};

enum class SectionForm : std::uint8_t {
  kTable,   // "xref" and a trailer dictionary (hybrid files too)
  kStream,  // a cross-reference stream
};

// A document-wide trailer entry: its value as read, and its bytes as they
// stand in the file (/ID's strings, which PdfObject does not keep).
struct TrailerValue {
  PdfObject Value;
  Text Bytes;
};

struct CrossReferenceReading;

class CrossReference {
 public:
  // Reads the chain of `source`: the offset after the last "startxref"
  // (searched from the end, comments and trailing bytes passed over), each
  // section and its /XRefStm, then /Prev, until a section has none. For a
  // number listed more than once the entry of the newest section wins,
  // free entries included: an object freed by an update stays freed. In a
  // hybrid section its table's in-use entries come first, then its
  // /XRefStm stream, then its table's free entries. In-use entries whose
  // offset lies outside the file read as free (counted by DroppedEntries).
  // When the chain does not read and the header "%PDF-" starts after the
  // first byte (junk before it, within the first 1024 bytes), it is read
  // again with every offset counted from the header, as readers do.
  // Nothing, with the reason ("no startxref at the end of the file", "no
  // cross-reference section at offset 1234", "cross-reference table at
  // offset 1234: ...", "the /Prev chain returns to offset 1234", ...), when
  // any section of the chain cannot be read: the index would then be
  // incomplete, and a caller reconstructs instead.
  // The work is linear in the bytes of the sections; memory grows with the
  // entries read, never with a count the file declares.
  static CrossReferenceReading Read(const FileAccess& source);

  // Rebuilds the index from the objects the file holds (see
  // reconstruction.cpp for how): every "N G obj" at a line start or after
  // white space, a later definition of a number winning; the objects of the
  // object streams so found; the trailer from the last trailer dictionary
  // or cross-reference stream dictionary found, or with none, /Root as the
  // last object of /Type /Catalog. Never fails: a file without objects
  // gives an empty index. `reason` is kept for Reason().
  static CrossReference Reconstruct(const FileAccess& source, Text reason = {});

  // Read, or Reconstruct when the chain cannot be read, after logging
  // "Cross-reference not readable (<reason>); reconstructed: <n> objects".
  static CrossReference ReadOrReconstruct(const FileAccess& source, const LogHook& log);

  // The entry for `number`, free ones included; nothing when no section
  // lists the number.
  std::optional<XrefEntry> Find(std::int64_t number) const;

  // Entries by slot, 0 .. EntryCount() - 1, in number order: for callers
  // that mark entries in a bit vector. A slot may hold no entry (a gap the
  // dense index fills): EntryAt gives nothing for it.
  std::size_t EntryCount() const { return entries_.size(); }
  std::optional<XrefEntry> EntryAt(std::size_t slot) const;
  std::optional<std::size_t> SlotOf(std::int64_t number) const;
  // The slot of the entry that lists `key` in use or compressed, with the
  // key's generation: the object a reference to `key` names; nothing for a
  // free or unlisted number, or another generation.
  std::optional<std::size_t> LiveSlotOf(ObjectKey key) const;

  // Calls `visit` for every entry in use or compressed, in number order.
  void ForEachLiveEntry(const std::function<void(const XrefEntry&)>& visit) const;
  std::size_t LiveCount() const { return liveCount_; }

  // "Root", "Info", "ID", "Encrypt" and "Size", each as the newest section
  // that has it gives it; nothing for a key no section has. The positions
  // inside a value mean nothing outside its Bytes.
  const TrailerValue* Trailer(std::string_view key) const;
  // /Root when it is a reference.
  std::optional<ObjectKey> RootKey() const;

  // The form of the section "startxref" names (reconstructed: of the last
  // trailer found, a table when none was), and where it starts.
  SectionForm NewestForm() const { return newestForm_; }
  Position NewestSectionOffset() const { return newestSection_; }
  // Sections read, /XRefStm streams included; 0 when reconstructed.
  std::size_t SectionCount() const { return sectionCount_; }

  bool Reconstructed() const { return reconstructed_; }
  // Why the chain could not be read, for a reconstructed index.
  const Text& Reason() const { return reason_; }
  // In-use entries read as free because their offset lay outside the file.
  std::int64_t DroppedEntries() const { return dropped_; }

 private:
  friend class CrossReferenceBuilder;

  // 16 bytes: the number, the type in the top two bits of `word` and the
  // generation or index below them, and the offset or stream number.
  struct PackedEntry {
    std::uint64_t Value = 0;
    std::uint32_t Number = 0;
    std::uint32_t Word = 0;
  };
  static_assert(sizeof(PackedEntry) == 16);

  CrossReference() = default;
  static XrefEntry Unpack(const PackedEntry& packed);

  std::vector<PackedEntry> entries_;
  bool dense_ = false;
  std::size_t liveCount_ = 0;
  std::vector<std::pair<Text, TrailerValue>> trailer_;
  SectionForm newestForm_ = SectionForm::kTable;
  Position newestSection_ = -1;
  std::size_t sectionCount_ = 0;
  bool reconstructed_ = false;
  Text reason_;
  std::int64_t dropped_ = 0;
};

struct CrossReferenceReading {
  std::optional<CrossReference> Xref;
  // Why the chain cannot be read, when Xref is empty; for the log.
  Text Reason;
};

// Assembles a CrossReference: entries are added newest first (the first
// added for a number wins), trailer values likewise; Finish sorts, drops the
// losers and makes the index dense where the numbering allows. For the
// reader and the reconstruction.
class CrossReferenceBuilder {
 public:
  explicit CrossReferenceBuilder(Position fileSize);

  // False when the entry count would pass kMaxXrefEntries.
  bool Reserve(std::int64_t more);
  // REQUIRES: 0 <= number <= kMaxObjectNumber; for kInUse 0 <= generation
  // <= 65535; for kCompressed 0 <= index < 2^30.
  void AddFree(std::int64_t number, std::int64_t generation);
  void AddInUse(std::int64_t number, std::int64_t generation, Position offset);
  void AddCompressed(std::int64_t number, std::int64_t streamNumber, std::int64_t index);
  std::int64_t Added() const { return static_cast<std::int64_t>(entries_.size()); }
  // Of the entries added from `begin` to `tableEnd`, moves the free ones,
  // in their order, behind every entry added so far (a hybrid section).
  // REQUIRES: begin <= tableEnd <= Added().
  void MoveFreeEntriesLast(std::int64_t begin, std::int64_t tableEnd);

  // Takes `value` for `key` unless a value was taken for it already.
  void AddTrailerValue(std::string_view key, TrailerValue value);
  bool HasTrailerValue(std::string_view key) const;

  CrossReference Finish(SectionForm newestForm, Position newestSection, std::size_t sections);
  // Finish for a reconstructed index: no section, NewestSectionOffset -1.
  CrossReference FinishReconstructed(SectionForm form, Text reason);

 private:
  void Add(std::uint32_t number, std::uint32_t word, std::uint64_t value);

  Position fileSize_;
  std::vector<CrossReference::PackedEntry> entries_;
  std::vector<std::pair<Text, TrailerValue>> trailer_;
  std::int64_t dropped_ = 0;
};

}  // namespace quillane

#endif  // QUILLANE_PDF_OBJECTS_CROSS_REFERENCE_H_
