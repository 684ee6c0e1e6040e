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
#include <variant>
#include <vector>

namespace quillane::test {

enum class XrefForm {
  kTable,   // "xref", 20-byte entries, "trailer" and its dictionary
  kStream,  // an uncompressed cross-reference stream object, /W[1 4 2]
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
  using Piece = std::variant<ObjectPiece, std::string>;
  struct Revision {
    std::vector<Piece> pieces;
    XrefForm form = XrefForm::kTable;
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
