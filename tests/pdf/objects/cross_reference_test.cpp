#include "pdf/objects/cross_reference.h"

#include <gtest/gtest.h>

#include "pdf/objects/key_marks.h"
#include "support/memory_file_access.h"
#include "support/pdf_builder.h"
#include "support/test_util.h"

namespace quillane {
namespace {

using test::MemoryFileAccess;
using test::PdfBuilder;
using test::XrefForm;
using test::XrefStreamLayout;

// The live entries compactly, each checked against the bytes: "3" for an
// entry whose offset names the header "3 0 obj", "3.1" for generation 1,
// "7@12#0" for object 7 at index 0 of object stream 12, "5@?" for an
// offset where no such header stands.
std::string Live(const CrossReference& xref, const std::string& bytes) {
  std::string text;
  xref.ForEachLiveEntry([&](const XrefEntry& entry) {
    if (!text.empty()) text += ' ';
    text += std::to_string(entry.Number);
    if (entry.Generation != 0) text += "." + std::to_string(entry.Generation);
    if (entry.Type == XrefEntryType::kCompressed) {
      text += "@" + std::to_string(entry.StreamNumber) + "#" + std::to_string(entry.StreamIndex);
      return;
    }
    const std::string header =
        std::to_string(entry.Number) + " " + std::to_string(entry.Generation) + " obj";
    if (bytes.compare(static_cast<std::size_t>(entry.Offset), header.size(), header) != 0) {
      text += "@?";
    }
  });
  return text;
}

struct Read {
  std::string live;  // Live(), or "refused: <reason>"
  std::optional<CrossReference> xref;
};

Read ReadXref(const std::string& bytes) {
  MemoryFileAccess source(bytes);
  CrossReferenceReading reading = CrossReference::Read(source);
  if (!reading.Xref) return {"refused: " + reading.Reason, std::nullopt};
  Read read{Live(*reading.Xref, bytes), std::move(reading.Xref)};
  return read;
}

std::string TrailerBytes(const CrossReference& xref, const char* key) {
  const TrailerValue* value = xref.Trailer(key);
  return value != nullptr ? value->Bytes : "-";
}

const char* kCatalog = "<</Type/Catalog/Pages 2 0 R>>\n";

TEST(CrossReference, ReadsEachSectionForm) {
  const XrefStreamLayout wide{{2, 8, 1}, false, false};
  const XrefStreamLayout flate{{1, 4, 2}, true, false};
  const XrefStreamLayout png{{1, 3, 1}, true, true};
  const struct {
    const char* what;
    std::string file;
    const char* live;
    SectionForm form;
  } cases[] = {
      {"table", PdfBuilder().Object(1, 0, kCatalog).Object(2, 0, "<<>>\n").Build(), "1 2",
       SectionForm::kTable},
      {"table, subsections",
       PdfBuilder().Object(1, 0, kCatalog).Object(4, 0, "4\n").Object(9, 2, "[]\n").Build(),
       "1 4 9.2", SectionForm::kTable},
      {"stream /W[1 4 2]", PdfBuilder().Form(XrefForm::kStream).Object(1, 0, kCatalog).Build(),
       "1 2", SectionForm::kStream},
      {"stream /W[2 8 1]",
       PdfBuilder().Form(XrefForm::kStream).StreamLayout(wide).Object(1, 0, kCatalog).Build(),
       "1 2", SectionForm::kStream},
      {"stream, Flate",
       PdfBuilder().Form(XrefForm::kStream).StreamLayout(flate).Object(1, 0, kCatalog).Build(),
       "1 2", SectionForm::kStream},
      {"stream, Flate with the PNG predictor, /Index with gaps",
       PdfBuilder()
           .Form(XrefForm::kStream)
           .StreamLayout(png)
           .Object(1, 0, kCatalog)
           .Object(7, 0, "7\n")
           .Build(),
       "1 7 8", SectionForm::kStream},
      {"object streams",
       PdfBuilder()
           .Form(XrefForm::kStream)
           .ObjectStream(5, {{1, kCatalog}, {2, "<</Type/Pages/Kids[]/Count 0>>"}}, "", true)
           .Build(),
       "1@5#0 2@5#1 5 6", SectionForm::kStream},
      {"hybrid: /XRefStm lists the compressed objects",
       PdfBuilder()
           .Form(XrefForm::kHybrid)
           .ObjectStream(5, {{1, kCatalog}, {2, "<<>>"}})
           .Object(3, 0, "3\n")
           .Build(),
       "1@5#0 2@5#1 3 5 6", SectionForm::kTable},
  };
  for (const auto& c : cases) {
    const Read read = ReadXref(c.file);
    EXPECT_EQ(read.live, c.live) << c.what;
    if (!read.xref) continue;
    EXPECT_EQ(read.xref->NewestForm(), c.form) << c.what;
    EXPECT_EQ(TrailerBytes(*read.xref, "Root"), "1 0 R") << c.what;
    EXPECT_EQ(read.xref->RootKey(), MakeObjectKey(1, 0)) << c.what;
  }
}

TEST(CrossReference, EntriesOf19And21BytesAndCommentsBeforeTheSection) {
  // Offsets written by hand: object 1 at 9.
  const std::string body = "%PDF-1.4\n1 0 obj\n<</Type/Catalog>>\nendobj\n";
  const std::string offset = std::to_string(body.size());
  for (const std::string& eol : {std::string("\n"), std::string(" \r\n"), std::string("\r")}) {
    const std::string file = body + "xref\n0 2\n0000000000 65535 f" + eol + "0000000009 00000 n" +
                             eol + "trailer\n<</Size 2/Root 1 0 R>>\nstartxref\n" + offset +
                             "\n%%EOF\n";
    EXPECT_EQ(ReadXref(file).live, "1") << test::EscapeBytes(eol);
  }
  // startxref may name white space before the keyword, and a comment may
  // follow the number.
  const std::string file = body +
                           "\nxref\n0 2\n0000000000 65535 f \n0000000009 00000 n \n"
                           "trailer<</Size 2/Root 1 0 R>>\nstartxref % the offset\n" +
                           offset + "\n%%EOF\n";
  EXPECT_EQ(ReadXref(file).live, "1");
  const std::string none = body + "startxref\n%%EOF\n";
  EXPECT_EQ(ReadXref(none).live, "refused: no offset after startxref at offset " +
                                     std::to_string(none.find("startxref")));
}

TEST(CrossReference, NewestSectionWinsAndFreeEntriesHideOlderObjects) {
  // Revision 1 has 3 and 4; the update gives 3 a new body, frees 4 (a page
  // whose old content stream is dropped) and reuses 5 with generation 1.
  const std::string file = PdfBuilder()
                               .Object(1, 0, kCatalog)
                               .Object(3, 0, "(old)\n")
                               .Object(4, 0, "<</Length 0>>stream\n\nendstream\n")
                               .Object(5, 0, "(five)\n")
                               .TrailerEntries("/Info 3 0 R/ID[<01><02>]")
                               .Update()
                               .Object(3, 0, "(new)\n")
                               .Free(4, 1)
                               .Free(5, 1)
                               .TrailerEntries("/Info 9 0 R")
                               .Update()
                               .Object(5, 1, "(five again)\n")
                               .TrailerEntries("")
                               .Build();
  const Read read = ReadXref(file);
  ASSERT_TRUE(read.xref) << read.live;
  EXPECT_EQ(read.live, "1 3 5.1");
  const CrossReference& xref = *read.xref;
  EXPECT_EQ(xref.Find(3)->Offset, static_cast<Position>(file.find("3 0 obj\n(new)")));
  EXPECT_EQ(xref.Find(4)->Type, XrefEntryType::kFree);
  EXPECT_EQ(xref.Find(4)->Generation, 1);
  EXPECT_EQ(xref.SectionCount(), 3u);
  // Each trailer key as the newest section that has it gives it.
  EXPECT_EQ(TrailerBytes(xref, "Info"), "9 0 R");
  EXPECT_EQ(TrailerBytes(xref, "ID"), "[<01><02>]");
  EXPECT_EQ(TrailerBytes(xref, "Encrypt"), "-");
  EXPECT_EQ(xref.NewestSectionOffset(), static_cast<Position>(file.rfind("\nxref\n") + 1));
}

TEST(CrossReference, OrphanDefinitionsAreNotListed) {
  // A second definition of 3 that no section lists: the entry names the
  // first.
  const std::string file = PdfBuilder()
                               .Object(1, 0, kCatalog)
                               .Object(3, 0, "(listed)\n")
                               .Raw("3 0 obj\n(orphan)\nendobj\n")
                               .Build();
  const Read read = ReadXref(file);
  ASSERT_TRUE(read.xref);
  EXPECT_EQ(read.xref->Find(3)->Offset, static_cast<Position>(file.find("3 0 obj\n(listed)")));
}

TEST(CrossReference, HybridTableFreeEntriesDoNotHideTheStreamsEntries) {
  // The builder's hybrid table lists the compressed objects as free, as
  // writers of such files do, in the same section as its /XRefStm: the
  // stream's entries win over those free entries.
  const std::string file =
      PdfBuilder().Form(XrefForm::kHybrid).ObjectStream(5, {{1, kCatalog}, {2, "<<>>"}}).Build();
  const std::size_t table = file.rfind("\nxref\n");
  EXPECT_NE(file.find("0000000000 00000 f\r\n0000000000 00000 f\r\n", table), std::string::npos);
  EXPECT_EQ(ReadXref(file).live, "1@5#0 2@5#1 5 6");
}

TEST(CrossReference, JunkBeforeTheHeaderShiftsEveryOffset) {
  const std::string file =
      PdfBuilder().Prefix("junk junk\n").Object(1, 0, kCatalog).Object(2, 0, "2\n").Build();
  const Read read = ReadXref(file);
  EXPECT_EQ(read.live, "1 2");
}

// Object streams do not nest: stream 6, which a later stream redefines,
// gives none of its objects, and the earlier definition of its object 2
// stands again.
TEST(CrossReference, ReconstructionPassesOverAStreamWhoseNumberALaterStreamTakes) {
  const std::string file = PdfBuilder()
                               .Object(1, 0, kCatalog)
                               .Object(2, 0, "(first)\n")
                               .ObjectStream(6, {{2, "(in 6)"}, {3, "(in 6 too)"}})
                               .ObjectStream(4, {{6, "(6 redefined)"}})
                               .Build();
  MemoryFileAccess source(file);
  const CrossReference xref = CrossReference::Reconstruct(source);
  EXPECT_EQ(Live(xref, file), "1 2 4 6@4#0");
  EXPECT_EQ(xref.Find(2)->Offset, static_cast<Position>(file.find("2 0 obj\n(first)")));
}

TEST(CrossReference, SparseNumbersAndGapsLookUp) {
  const std::string file = PdfBuilder()
                               .Object(1, 0, kCatalog)
                               .Object(40, 0, "40\n")
                               .Object(70000, 0, "70000\n")
                               .Object(2000000, 3, "[]\n")
                               .Build();
  const Read read = ReadXref(file);
  ASSERT_TRUE(read.xref);
  EXPECT_EQ(read.live, "1 40 70000 2000000.3");
  const CrossReference& xref = *read.xref;
  EXPECT_EQ(xref.Find(2000000)->Generation, 3);
  EXPECT_FALSE(xref.Find(2));
  EXPECT_FALSE(xref.Find(1999999));
  EXPECT_FALSE(xref.Find(kMaxObjectNumber + 1));
  EXPECT_FALSE(xref.Find(-1));
  // A few gaps are filled, so the index is dense and a slot is the number.
  const Read dense = ReadXref(PdfBuilder().Object(1, 0, kCatalog).Object(9, 0, "9\n").Build());
  ASSERT_TRUE(dense.xref);
  EXPECT_EQ(dense.xref->EntryCount(), 10u);
  EXPECT_EQ(dense.xref->SlotOf(9), 9u);
  EXPECT_FALSE(dense.xref->EntryAt(5));
  EXPECT_FALSE(dense.xref->Find(5));
  EXPECT_EQ(dense.xref->LiveCount(), 2u);
}

TEST(CrossReference, EntriesOutsideTheFileReadAsFree) {
  const std::string body = "%PDF-1.4\n1 0 obj\n<</Type/Catalog>>\nendobj\n";
  const std::string file = body +
                           "xref\n0 3\n0000000000 65535 f\r\n0000000009 00000 n\r\n"
                           "9999999999 00000 n\r\ntrailer\n<</Size 3/Root 1 0 R>>\nstartxref\n" +
                           std::to_string(body.size()) + "\n%%EOF\n";
  const Read read = ReadXref(file);
  ASSERT_TRUE(read.xref);
  EXPECT_EQ(read.live, "1");
  EXPECT_EQ(read.xref->DroppedEntries(), 1);
  EXPECT_EQ(read.xref->Find(2)->Type, XrefEntryType::kFree);
}

// A file whose last section is `section` at its own offset, with `prev`
// written into its dictionary where "PREV" stands.
std::string WithSection(const std::string& section) {
  const std::string body = "%PDF-1.4\n1 0 obj\n<</Type/Catalog>>\nendobj\n";
  return body + section + "startxref\n" + std::to_string(body.size()) + "\n%%EOF\n";
}

// An uncompressed cross-reference stream object 9 with `dictionary` entries
// and `data`.
std::string XrefStream(const std::string& dictionary, const std::string& data) {
  return "9 0 obj\n<</Type/XRef" + dictionary + "/Length " + std::to_string(data.size()) +
         ">>stream\n" + data + "\nendstream\nendobj\n";
}

TEST(CrossReference, DamageIsRefusedWithItsReason) {
  const std::string table = "xref\n0 2\n0000000000 65535 f\r\n0000000009 00000 n\r\n";
  const std::string rows = std::string("\x00\x00\x00\x00", 4) + std::string("\x01\x00\x09\x00", 4);
  const struct {
    const char* what;
    std::string file;
    const char* reason;
  } cases[] = {
      {"empty file", "", "no startxref at the end of the file"},
      {"text", "hello world", "no startxref at the end of the file"},
      {"offset beyond the end", "%PDF-1.4\nstartxref\n999\n%%EOF\n",
       "startxref names offset 999, beyond the end of the file"},
      {"nothing at the offset", "%PDF-1.4\n(x)\nstartxref\n9\n%%EOF\n",
       "no cross-reference section at offset 9"},
      {"object of another type", WithSection("5 0 obj\n<</Type/Page>>stream\n\nendstream\n"),
       "no cross-reference section at offset 42 (an object of another /Type)"},
      {"entry cut short", WithSection(table.substr(0, table.size() - 8)),
       "cross-reference table at offset 42: entry for object 1 unreadable at offset 83"},
      {"huge count without the entries",
       WithSection("xref\n0 40000000\n0000000000 65535 f\r\ntrailer<<>>\n"),
       "cross-reference table at offset 42: entry for object 1 unreadable at offset 78"},
      {"count beyond the numbers", WithSection("xref\n0 4000000000\n"),
       "cross-reference table at offset 42: object numbers beyond 2147483647"},
      {"numbers beyond the limit", WithSection("xref\n2147483647 2\n"),
       "cross-reference table at offset 42: object numbers beyond 2147483647"},
      {"no trailer", WithSection(table + "trailor<<>>\n"),
       "cross-reference table at offset 42: no trailer at offset 91"},
      {"/Prev outside the file", WithSection(table + "trailer<</Size 2/Prev 99999>>\n"),
       "/Prev of the section at offset 42 is no offset in the file"},
      {"/Prev loop", WithSection(table + "trailer<</Size 2/Prev 42>>\n"),
       "the /Prev chain returns to offset 42"},
      {"/W missing", WithSection(XrefStream("/Size 2", rows)),
       "cross-reference stream at offset 42: no /W of three widths"},
      {"/W too wide", WithSection(XrefStream("/Size 2/W[1 9 1]", rows)),
       "cross-reference stream at offset 42: /W widths must be 0 to 8 bytes"},
      {"huge /Size", WithSection(XrefStream("/Size 100000000/W[1 2 1]", rows)),
       "more than 8388608 cross-reference entries"},
      {"huge /Index", WithSection(XrefStream("/Size 2/W[1 2 1]/Index[0 5000000 9 5000000]", rows)),
       "more than 8388608 cross-reference entries"},
      {"rows missing", WithSection(XrefStream("/Size 3/W[1 2 1]", rows)),
       "cross-reference stream at offset 42: data for 2 of 3 entries"},
      {"filter not supported", WithSection(XrefStream("/Size 2/W[1 2 1]/Filter/DCTDecode", rows)),
       "cross-reference stream at offset 42: filter DCTDecode"},
      {"data damaged", WithSection(XrefStream("/Size 2/W[1 2 1]/Filter/FlateDecode", rows)),
       "cross-reference stream at offset 42: Flate data damaged"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReadXref(c.file).live, std::string("refused: ") + c.reason) << c.what;
  }
  // The sound versions of the same sections read.
  EXPECT_EQ(ReadXref(WithSection(table + "trailer<</Size 2/Root 1 0 R>>\n")).live, "1");
  EXPECT_EQ(ReadXref(WithSection(XrefStream("/Size 2/W[1 2 1]", rows))).live, "1");
}

TEST(CrossReference, HostileCountsCostNoMemoryBeforeTheData) {
  // An /Index of eight million entries over 8 bytes of data: refused
  // without allocating for the declared count.
  const std::string rows(8, '\0');
  const std::string file = WithSection(XrefStream("/Size 8388600/W[1 2 1]", rows));
  MemoryFileAccess source(file);
  const CrossReferenceReading reading = CrossReference::Read(source);
  EXPECT_FALSE(reading.Xref);
  EXPECT_EQ(reading.Reason, "cross-reference stream at offset 42: data for 2 of 8388600 entries");
  EXPECT_LT(source.BytesRead(), 4 * static_cast<Position>(file.size()) + 4096);
}

TEST(KeyMarks, LiveKeysAndOthersAreMarkedApart) {
  // 3 is live in generation 0, 4 is freed, 5 lives in generation 1 and 9 is
  // not listed: a key the table does not name live must never share the
  // mark of the live key with its number.
  const std::string file = PdfBuilder()
                               .Object(1, 0, kCatalog)
                               .Object(3, 0, "(three)\n")
                               .Object(4, 0, "(four)\n")
                               .Update()
                               .Free(4, 1)
                               .Object(5, 1, "(five)\n")
                               .Build();
  const Read read = ReadXref(file);
  ASSERT_TRUE(read.xref) << read.live;
  const CrossReference& xref = *read.xref;
  KeyMarks marks(xref, {MakeObjectKey(3, 0), MakeObjectKey(5, 0), MakeObjectKey(9, 0)});
  const struct {
    ObjectKey key;
    bool contained;
  } cases[] = {
      {MakeObjectKey(3, 0), true},  {MakeObjectKey(3, 1), false}, {MakeObjectKey(4, 0), false},
      {MakeObjectKey(5, 0), true},  {MakeObjectKey(5, 1), false}, {MakeObjectKey(9, 0), true},
      {MakeObjectKey(1, 0), false}, {kNoObject, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(marks.Contains(c.key), c.contained) << ObjectKeyToText(c.key);
  }
  // Marking answers whether the key was new, each key on its own.
  EXPECT_FALSE(marks.Mark(MakeObjectKey(3, 0)));
  EXPECT_TRUE(marks.Mark(MakeObjectKey(5, 1)));
  EXPECT_FALSE(marks.Mark(MakeObjectKey(5, 1)));
  EXPECT_TRUE(marks.Mark(MakeObjectKey(4, 0)));
  EXPECT_TRUE(marks.Mark(kNoObject));
  EXPECT_FALSE(marks.Contains(MakeObjectKey(4, 1)));
}

}  // namespace
}  // namespace quillane
