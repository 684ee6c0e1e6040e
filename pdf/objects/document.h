// The document as objects: a cross-reference index over the file, and the
// resolver that turns a reference (ISO 32000-1, 7.3.10) into the object the
// newest revision holds under it, read from its place in the file or from
// its object stream (7.5.7), through the program's one lexer. A stream comes
// with its dictionary and where its data lies; every object with where its
// bytes lie, for copying it byte for byte.
//
// What is not there reads as nothing, never as another object: a free
// entry, a number no section lists, a reference whose generation differs
// from the entry's, and an entry whose header at the offset does not name
// it ("N G obj" with the entry's number and generation, white space before
// it allowed) are all unreadable; the object is not looked for elsewhere,
// so a damaged entry can never lead to the bytes of an orphan or an old
// revision. A reader that wants such files repaired reads them through
// CrossReference::Reconstruct.
//
// The file is read through FileAccess::Substring in small pieces (1 KiB to
// start with, growing only while an object runs on). Decoded object streams
// are held in a cache bounded by bytes, so a walk in document order decodes
// each once; a small cache of objects serves repeated lookups. The work of
// one document (bytes read for objects, bytes decoded for object streams) is
// bounded by multiples of the file's size; beyond them every lookup fails
// with the reason "work bound reached" (logged once).
//
// Not thread-safe: the caches change under const calls.
#ifndef QUILLANE_PDF_OBJECTS_DOCUMENT_H_
#define QUILLANE_PDF_OBJECTS_DOCUMENT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "base/log_hook.h"
#include "base/text.h"
#include "fileaccess/fileaccess.h"
#include "pdf/filters/stream_filters.h"
#include "pdf/objects/cross_reference.h"
#include "pdf/objects/object_reader.h"
#include "pdf/objects/object_stream.h"
#include "pdf/syntax/lexer.h"
#include "pdf/syntax/object_key.h"

namespace quillane {

// An indirect object as the resolver read it.
struct IndirectObject {
  ObjectKey Key = kNoObject;
  // The direct object (a stream's dictionary). Its positions count from its
  // first byte, at ValueStart: in the file, or for an object in an object
  // stream in that stream's decoded data.
  PdfObject Value;
  Position ValueStart = 0;
  bool IsStream = false;
  // In the file: where "N G obj" starts; a stream's first data byte; for an
  // object that is no stream one past "endobj" (or past the value when
  // "endobj" is missing). -1 for an object in an object stream.
  Position HeaderStart = -1;
  Position DataStart = -1;
  Position End = -1;
  // In an object stream: its number and the index of the pair that named
  // the object; -1 otherwise.
  std::int64_t StreamNumber = -1;
  std::int64_t StreamIndex = -1;

  bool Compressed() const { return StreamNumber >= 0; }
};

// A value with references followed. `Value` is null when there is nothing:
// a reference that leads to no object, or the null object (which a
// dictionary entry treats as absent, ISO 32000-1, 7.3.7).
struct Resolved {
  const PdfObject* Value = nullptr;
  // The last indirect object followed, which holds *Value; null when the
  // value was direct (it then lives in what the caller gave).
  std::shared_ptr<const IndirectObject> Object;

  explicit operator bool() const { return Value != nullptr; }
  const PdfObject* operator->() const { return Value; }
  const PdfObject& operator*() const { return *Value; }
  // The key of the object followed, kNoObject for a direct value.
  ObjectKey Key() const { return Object ? Object->Key : kNoObject; }
};

struct ObjectLookup {
  std::shared_ptr<const IndirectObject> Object;
  // Why there is none: "not in the cross-reference", "free", "generation 1
  // in the cross-reference", "no object header at offset 1234", "header at
  // offset 1234 names 7 0", "object stream 12: /N missing or no count",
  // "work bound reached", ...
  Text Reason;
};

// Where an object's bytes lie.
struct ObjectLocation {
  bool Compressed = false;
  // In the file: from the first digit of its header to one past "endobj"
  // (for a stream the "endobj" after "endstream"; where "endobj" is
  // missing, the end of the value or of "endstream").
  Position Start = 0;
  Position End = 0;
  // In an object stream: the stream's number and the object's index.
  std::int64_t StreamNumber = -1;
  std::int64_t StreamIndex = -1;
};

class Document {
 public:
  // Follows at most this many references in a row (5 0 R naming an object
  // whose value is 6 0 R ...), so that a cycle ends.
  static constexpr int kMaxReferenceChain = 16;

  // `source` must outlive the document; its Size() at construction is the
  // end of what is read (bytes appended later are not the document's).
  // `log` receives the document's one line "Object reading stopped: work
  // bound reached" when that happens.
  Document(const FileAccess& source, CrossReference xref, LogHook log = {});
  ~Document();
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  const CrossReference& Xref() const { return xref_; }
  const FileAccess& Source() const { return source_; }

  // The object the index holds under `key`'s number when its generation is
  // `key`'s, or nothing with the reason. Never throws for damaged input;
  // Error only from the file access.
  // With `filter`, a dictionary (a stream's too) holds only the entries the
  // filter names (object_reader.h): a cheaper reading for a walk that needs
  // a few entries, which is not cached (a cached whole object is given
  // instead when there is one).
  ObjectLookup Lookup(ObjectKey key, const EntryFilter* filter = nullptr) const;
  std::shared_ptr<const IndirectObject> Object(ObjectKey key) const { return Lookup(key).Object; }

  // `value` with references followed, at most kMaxReferenceChain of them,
  // the last object read with `filter` as Lookup reads it. A null pointer
  // gives nothing.
  Resolved Resolve(const PdfObject& value, const EntryFilter* filter = nullptr) const;
  Resolved Resolve(const PdfObject* value, const EntryFilter* filter = nullptr) const;
  // The entry `key` of `dictionary`, resolved; nothing when `dictionary` is
  // null or no dictionary, or the entry is absent.
  Resolved Get(const PdfObject* dictionary, std::string_view key,
               const EntryFilter* filter = nullptr) const;

  // The trailer's /Root and /Info, resolved.
  Resolved Root() const;
  Resolved Info() const;

  // Where the data of `stream` lies: its /Length (direct, or by reference
  // to an integer object) when "endstream" follows that many bytes after
  // white space, else up to the first "endstream". Nothing when there is no
  // "endstream" after the data start.
  // REQUIRES: stream.IsStream.
  std::optional<StreamExtent> Extent(const IndirectObject& stream) const;

  // Where the bytes of object `key` lie; nothing when it is not readable.
  std::optional<ObjectLocation> Location(ObjectKey key) const;

  // The bytes of `part`, a value inside `object`'s value (its positions
  // counting as that value's do), as the file or the object's object stream
  // holds them; nothing when they cannot be read again.
  std::optional<Text> ValueBytes(const IndirectObject& object, const PdfObject& part) const;

  // The raw data of `stream`, as Extent bounds it; nothing without an
  // extent.
  // REQUIRES: stream.IsStream.
  std::optional<Text> RawData(const IndirectObject& stream) const;

  // The data of `stream` through its filters (stream_filters.h), /Filter
  // and /DecodeParms resolved where they are references; each stage's
  // output refused beyond `limit`. Data with the reason "no endstream" when
  // the extent is missing.
  // REQUIRES: stream.IsStream.
  DecodedData Decode(const IndirectObject& stream, std::size_t limit = kMaxDecodedSize) const;

  // The work so far: bytes read for objects and object streams, and object
  // streams decoded (a cached one is not decoded again).
  Position BytesRead() const;
  std::size_t ObjectStreamsDecoded() const { return streamsDecoded_; }

 private:
  struct CachedStream {
    std::int64_t Number = -1;
    std::shared_ptr<const ObjectStream> Stream;
    std::uint64_t LastUse = 0;
  };
  struct StreamLookup {
    std::shared_ptr<const ObjectStream> Stream;
    Text Reason;
  };

  ObjectLookup ReadUncompressed(const XrefEntry& entry, const EntryFilter* filter) const;
  ObjectLookup ReadCompressed(const XrefEntry& entry, const EntryFilter* filter) const;
  StreamLookup LoadObjectStream(std::int64_t number) const;
  bool Affordable() const;

  const FileAccess& source_;
  CrossReference xref_;
  LogHook log_;
  mutable FilePieces pieces_;
  mutable FilePieces dataPieces_;
  const Position workBound_;
  const std::size_t decodeBound_;
  mutable std::size_t decoded_ = 0;
  mutable bool exhausted_ = false;
  mutable std::size_t streamsDecoded_ = 0;
  // Object streams being decoded: a /Length inside one stream that leads
  // back into it ends there.
  mutable std::vector<std::int64_t> decoding_;
  mutable std::vector<CachedStream> streams_;
  // The stream looked up last, which the next lookup mostly wants again.
  mutable std::size_t lastStream_ = 0;
  mutable std::size_t streamBytes_ = 0;
  mutable std::uint64_t uses_ = 0;
  // Direct-mapped by number: the objects read last.
  mutable std::vector<std::shared_ptr<const IndirectObject>> objects_;
};

}  // namespace quillane

#endif  // QUILLANE_PDF_OBJECTS_DOCUMENT_H_
