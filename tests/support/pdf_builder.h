// A test-side PDF assembler: a case lists its objects and says only what is
// special about the file (cross-reference form, trailer entries, incremental
// updates, junk before the header or after the end); the builder computes
// every offset, writes the cross-reference sections and returns the bytes.
// It checks nothing, so damaged files are as easy to make as sound ones.
#ifndef QUILLANE_TESTS_SUPPORT_PDF_BUILDER_H_
#define QUILLANE_TESTS_SUPPORT_PDF_BUILDER_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace quillane::test {

enum class XrefForm {
  kTable,   // "xref", 20-byte entries, "trailer" and its dictionary
  kStream,  // a cross-reference stream object, /W[1 4 2] and uncompressed
            // unless StreamLayout says otherwise
  kHybrid,  // a table whose trailer names, by /XRefStm, a cross-reference
            // stream written before it with the entries of the objects in
            // object streams (ISO 32000-1, 7.5.8.4); the table lists those
            // objects as free
};

// How a cross-reference stream is written: the widths of its three fields
// and whether its rows are Flate-compressed, with the PNG Up predictor
// (/Predictor 12) or without one.
struct XrefStreamLayout {
  int Widths[3] = {1, 4, 2};
  bool Flate = false;
  bool Predictor = false;
};

// Usage:
//   std::string pdf = PdfBuilder()
//       .Object(1, 0, "<</Type/Catalog/Pages 2 0 R>>\n")
//       ...
//       .TrailerEntries("/Info 7 0 R")
//       .Build();
//
// Layout of what Build returns, line ends as written here:
//   prefix, header ("%PDF-1.4\n" unless replaced), then for each revision its
//   pieces in order ("N G obj\n" + body + "endobj\n" for objects, raw bytes
//   verbatim), its cross-reference section, "startxref\n" + offset +
//   "\n%%EOF\n"; after the last revision the trailing bytes.
// Offsets count from the first byte of the header, so a prefix models a file
// to which junk was prepended afterwards (its offsets are then all short).
class PdfBuilder {
 public:
  PdfBuilder() { revisions_.emplace_back(); }

  // Bytes placed before the header, not counted in offsets.
  PdfBuilder& Prefix(std::string bytes);
  // Replaces the header line (include its line end).
  PdfBuilder& Header(std::string bytes);

  // An indirect object of the current revision: "number generation obj\n",
  // `body`, "endobj\n". `body` should end with a line end.
  PdfBuilder& Object(std::int64_t number, std::int64_t generation, std::string body);
  // Bytes copied verbatim at this point of the current revision (comments,
  // padding, objects written by hand, which get no cross-reference entry).
  PdfBuilder& Raw(std::string bytes);
  // A free entry for `number` in the current revision's section ("f", or
  // type 0 with `generation` as the next generation).
  PdfBuilder& Free(std::int64_t number, std::int64_t generation);
  // An object stream (ISO 32000-1, 7.5.7) under `number`, generation 0,
  // holding `objects` (number and body, each body written as given followed
  // by a line end) in order; each gets a type 2 entry in the section (the
  // table form, which cannot say so, lists them as free). `entries` are
  // added to its dictionary (/Extends 9 0 R); with `flate` its data is
  // Flate-compressed.
  PdfBuilder& ObjectStream(std::int64_t number,
                           std::vector<std::pair<std::int64_t, std::string>> objects,
                           std::string entries = "", bool flate = false);

  // Settings of the current revision's cross-reference section.
  PdfBuilder& Form(XrefForm form);
  // Entries written first in the trailer or stream dictionary, right after "<<".
  PdfBuilder& LeadingEntries(std::string entries);
  // Entries written after /Root (for example "/Info 7 0 R/ID[<01><02>]").
  PdfBuilder& TrailerEntries(std::string entries);
  // The /Root value, "1 0 R" unless set; an empty text leaves /Root out.
  PdfBuilder& Root(std::string reference);
  // /Size as written, instead of the highest object number so far + 1.
  PdfBuilder& Size(std::int64_t size);
  // Number of the cross-reference stream object, instead of the highest
  // object number so far + 1.
  PdfBuilder& StreamNumber(std::int64_t number);
  // The layout of the current revision's cross-reference stream (the
  // stream form, and a hybrid's /XRefStm stream).
  PdfBuilder& StreamLayout(XrefStreamLayout layout);

  // Ends the current revision and starts an incremental update: its section
  // lists only its own objects and has /Prev pointing at the previous one.
  // The new revision starts with the previous one's form, root and entries.
  PdfBuilder& Update();

  // Bytes after the last "%%EOF\n".
  PdfBuilder& Trailing(std::string bytes);

  std::string Build() const;

 private:
  struct ObjectPiece {
    std::int64_t number;
    std::int64_t generation;
    std::string body;
  };
  struct FreePiece {
    std::int64_t number;
    std::int64_t generation;
  };
  struct ObjectStreamPiece {
    std::int64_t number;
    std::vector<std::pair<std::int64_t, std::string>> objects;
    std::string entries;
    bool flate;
  };
  using Piece = std::variant<ObjectPiece, std::string, FreePiece, ObjectStreamPiece>;
  struct Revision {
    std::vector<Piece> pieces;
    XrefForm form = XrefForm::kTable;
    XrefStreamLayout layout;
    std::string leading_entries;
    std::string trailer_entries;
    std::string root = "1 0 R";
    std::optional<std::int64_t> size;
    std::optional<std::int64_t> stream_number;
  };

  Revision& Current() { return revisions_.back(); }

  std::string prefix_;
  std::string header_ = "%PDF-1.4\n";
  std::vector<Revision> revisions_;
  std::string trailing_;
};

// A one-page document with one 1x1 image (object 4), cross-reference table
// form; `padding` bytes of comment make it as large as a case needs, and
// `trailerEntries` are added to its trailer.
std::string OneImagePdf(std::size_t padding = 0, const std::string& trailerEntries = "");

}  // namespace quillane::test

#endif  // QUILLANE_TESTS_SUPPORT_PDF_BUILDER_H_
