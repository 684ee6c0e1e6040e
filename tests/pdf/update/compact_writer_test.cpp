#include "pdf/update/compact_writer.h"

#include <gtest/gtest.h>

#include <map>

#include "support/memory_file_access.h"
#include "support/pdf_builder.h"

namespace quillane {
namespace {

using test::MemoryFileAccess;
using test::PdfBuilder;
using test::XrefForm;

// The compact file of an input built by PdfBuilder, read back through the
// object layer, so that every object of it can be set beside the input's.
class CompactWriterTest : public ::testing::Test {
 protected:
  void Compact(const std::string& pdf, ReplaceMode mode = ReplaceDefault,
               const std::vector<RewrittenObject>& rewritten = {}) {
    input_ = std::make_unique<MemoryFileAccess>(pdf);
    CrossReferenceReading reading = CrossReference::Read(*input_);
    ASSERT_TRUE(reading.Xref) << reading.Reason;
    document_ = std::make_unique<Document>(*input_, std::move(*reading.Xref));
    PlaceholderTemplates templates;
    templates.Mode = mode;
    templates.body = "<</Subtype/Image/Width 1/Height 1/Length 0>>stream\nendstream\n";
    if (HasExtraObject(mode)) {
      templates.body = "<</Subtype/Image/SMask ${EXTRAOBJNR} R/Length 0>>stream\nendstream\n";
      templates.extra = "${EXTRAOBJNR} obj\n<</Length 0>>stream\nendstream\nendobj\n";
    }
    kept_ = FindKeptObjects(*document_, rewritten);
    MemoryFileAccess output("");
    written_ = WriteCompactFile(*document_, kept_, kept_.Images, templates, rewritten, output);
    bytes_ = output.Substring(0, output.Size());
    compact_ = std::make_unique<MemoryFileAccess>(bytes_);
    CrossReferenceReading back = CrossReference::Read(*compact_);
    ASSERT_TRUE(back.Xref) << back.Reason << "\n" << bytes_;
    read_ = std::make_unique<Document>(*compact_, std::move(*back.Xref));
  }

  // The bytes of object `number` 0 in the input and in the compact file,
  // from its header to "endobj"; "-" where the object is not there.
  static std::string BytesOf(const Document& document, std::int64_t number) {
    const std::optional<ObjectLocation> where = document.Location(MakeObjectKey(number, 0));
    if (!where) return "-";
    if (where->Compressed) return "in " + std::to_string(where->StreamNumber);
    return document.Source().Substring(where->Start, where->End);
  }
  std::string Input(std::int64_t number) const { return BytesOf(*document_, number); }
  std::string Output(std::int64_t number) const { return BytesOf(*read_, number); }

  std::unique_ptr<MemoryFileAccess> input_;
  std::unique_ptr<Document> document_;
  KeptObjects kept_;
  CompactFile written_;
  std::string bytes_;
  std::unique_ptr<MemoryFileAccess> compact_;
  std::unique_ptr<Document> read_;
};

// A document with an update: the catalog, pages, a page whose content was
// replaced by the update, an image with a soft mask and an indirect length,
// an info dictionary, a signature, an orphan.
std::string SignedDocumentWithAnUpdate() {
  return PdfBuilder()
      .Object(1, 0, "<</Type/Catalog/Pages 2 0 R/AcroForm<</Fields[10 0 R]>>>>\n")
      .Object(2, 0, "<</Type/Pages/Kids[3 0 R]/Count 1>>\n")
      .Object(3, 0,
              "<</Type/Page/Parent 2 0 R/MediaBox[0 0 10 10]/Contents 4 0 R"
              "/Resources<</XObject<</Im 5 0 R>>>>>>\n")
      .Object(4, 0, "<</Length 5>>stream\nold q\nendstream\n")
      .Object(5, 0,
              "<</Type/XObject/Subtype/Image/Width 2/Height 2/ColorSpace/DeviceGray"
              "/BitsPerComponent 8/SMask 6 0 R/Length 8 0 R>>stream\nABCD\nendstream\n")
      .Object(6, 0, "<</Subtype/Image/Width 1/Height 1/Length 1>>stream\nZ\nendstream\n")
      .Object(7, 0, "<</Producer(x)>>\n")
      .Object(8, 0, "4\n")
      .Object(9, 0, "(orphan)\n")
      .Object(10, 0, "<</FT/Sig/V 11 0 R>>\n")
      .Object(11, 0, "<</Type/Sig/ByteRange[0 1 2 3]/Contents<00>>>\n")
      .TrailerEntries("/Info 7 0 R/ID[<0102><0304>]")
      .Update()
      .Object(4, 0, "<</Length 12>>stream\nq /Im Do Q\n\nendstream\n")
      .Build();
}

// Every object kept is the input's newest version, byte for byte; the
// image is its placeholder; what only the image used (its soft mask, its
// /Length object), the orphan and the old version of 4 are gone.
TEST_F(CompactWriterTest, KeptObjectsAreTheInputsBytesObjectByObject) {
  ASSERT_NO_FATAL_FAILURE(Compact(SignedDocumentWithAnUpdate()));
  for (const std::int64_t number : {1, 2, 3, 4, 7, 10, 11}) {
    EXPECT_EQ(Output(number), Input(number)) << "object " << number;
  }
  EXPECT_EQ(Output(4), "4 0 obj\n<</Length 12>>stream\nq /Im Do Q\n\nendstream\nendobj");
  EXPECT_EQ(Output(5),
            "5 0 obj\n<</Subtype/Image/Width 1/Height 1/Length 0>>stream\nendstream\nendobj");
  for (const std::int64_t number : {6, 8, 9}) EXPECT_EQ(Output(number), "-") << number;
  EXPECT_EQ(bytes_.find("old q"), std::string::npos);
  EXPECT_EQ(kept_.Images, std::vector<ObjectKey>{MakeObjectKey(5, 0)});
  EXPECT_EQ(kept_.Signatures, 1);
  EXPECT_EQ(written_.Copied, 7);
  EXPECT_EQ(written_.Placeholders, 1);
  EXPECT_EQ(bytes_.substr(0, 9), "%PDF-1.4\n");
  EXPECT_NE(bytes_.find("/Size 12\r\n/Root 1 0 R\r\n/Info 7 0 R\r\n/ID [<0102><"),
            std::string::npos)
      << bytes_;
  EXPECT_EQ(bytes_.find("<0304>"), std::string::npos);
  EXPECT_EQ(read_->Xref().NewestForm(), SectionForm::kTable);
}

// An object stream that holds a kept object is kept whole, byte for byte,
// with an unused object in it, which the section lists too (a reader that
// decodes the stream meets it); the section is then a stream. A new object may name an object
// nothing else uses; the extra object takes its usual number.
TEST_F(CompactWriterTest, ObjectStreamsAreKeptWholeAndNewObjectsAreFollowed) {
  const std::string pdf =
      PdfBuilder()
          .Form(XrefForm::kStream)
          .ObjectStream(20, {{1, "<</Type/Catalog/Pages 2 0 R/Extra 30 0 R>>"},
                             {2, "<</Type/Pages/Kids[]/Count 0>>"},
                             {12, "(unused)"}})
          .Object(5, 0, "<</Subtype/Image/Width 9/Height 9/Length 3>>stream\nabc\nendstream\n")
          .Object(9, 0, "(only the new object names it)\n")
          .Object(13, 0, "<</Length 14 0 R>>stream\nxy\nendstream\n")
          .Object(14, 0, "2\n")
          .Build();
  RewrittenObject added;
  added.Key = MakeObjectKey(30, 0);
  added.Bytes = "30 0 obj\n<</A 9 0 R/B 5 0 R>>\nendobj\n";
  ASSERT_NO_FATAL_FAILURE(Compact(pdf, ReplaceTGrayBox, {added}));
  EXPECT_EQ(Output(20), Input(20));
  EXPECT_EQ(Output(1), "in 20");
  EXPECT_EQ(Output(2), "in 20");
  EXPECT_EQ(Output(12), "in 20");
  EXPECT_EQ(Output(9), Input(9));
  EXPECT_EQ(Output(13), "-");
  EXPECT_EQ(Output(30), "30 0 obj\n<</A 9 0 R/B 5 0 R>>\nendobj");
  EXPECT_EQ(Output(5),
            "5 0 obj\n<</Subtype/Image/SMask 9999 1 R/Length 0>>stream\nendstream\nendobj");
  EXPECT_NE(read_->Object(MakeObjectKey(9999, 1)), nullptr);
  EXPECT_EQ(read_->Xref().NewestForm(), SectionForm::kStream);
  // The stream is not compressed: the unused object's bytes show in it.
  EXPECT_NE(bytes_.find("(unused)"), std::string::npos);
}

}  // namespace
}  // namespace quillane
