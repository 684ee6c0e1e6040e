#include "pdf/raw/trailer.h"

#include <gtest/gtest.h>

#include "base/error.h"
#include "support/memory_pdf.h"
#include "support/test_util.h"

namespace quillane {
namespace {

using test::MemoryPdf;

const std::string kBody = "%PDF-1.4\n1 0 obj\n<</Type/Catalog>>\nendobj\n";

// kBody, then `section` at its own offset, then the end block naming it.
std::string WithSection(const std::string& section, const std::string& tail = "%%EOF\n") {
  return kBody + section + "startxref\n" + std::to_string(kBody.size()) + "\n" + tail;
}

TEST(ReadTrailer, ClassicTable) {
  const std::string section =
      "xref\n0 2\n0000000000 65535 f\r\n0000000009 00000 n\r\n"
      "trailer\n<</Size 8/Root 1 0 R/Info 2 0 R>>\n";
  MemoryPdf file(WithSection(section));
  const TrailerValues values = ReadTrailer(file.source, file.log);
  EXPECT_EQ(values.PreviousSectionOffset, 42);
  EXPECT_FALSE(values.LastSectionIsStream);
  EXPECT_EQ(values.TrailerSize, 8);
  EXPECT_EQ(values.RootReference, "1 0 R");
  EXPECT_EQ(values.InfoReference, "2 0 R");
  EXPECT_FALSE(values.Encrypted);
  const auto end = std::to_string(42 + section.size() - 3);
  EXPECT_EQ(file.Lines(), "(startxre)f @ " + std::to_string(42 + section.size() + 8) +
                              " | xref header: 'xref' | reached dict end @ " + end);
}

TEST(ReadTrailer, CrossReferenceStreamWithNestedDecodeParms) {
  const std::string section =
      "7 0 obj\n<</DecodeParms<</Columns 5/Predictor 12>>/Type/XRef/W[1 2 2]"
      "/Size 8/Root 1 0 R/Info 3 0 R/Length 0>>stream\n\nendstream\nendobj\n";
  MemoryPdf file(WithSection(section));
  const TrailerValues values = ReadTrailer(file.source, file.log);
  EXPECT_TRUE(values.LastSectionIsStream);
  EXPECT_EQ(values.TrailerSize, 8);
  EXPECT_EQ(values.RootReference, "1 0 R");
  EXPECT_EQ(values.InfoReference, "3 0 R");
  EXPECT_NE(file.Lines().find("xref header: '7'"), std::string::npos) << file.Lines();
}

TEST(ReadTrailer, KeywordsAreFoundAcrossViewEnds) {
  // Shifted byte by byte against views of the shortest length allowed, the
  // searched words "/XRef" and "stream" meet every view end.
  for (Position shift = 0; shift < 2 * kMinimumLoadedView; ++shift) {
    const std::string section = "%PDF-1.5\n" + std::string(static_cast<std::size_t>(shift), ' ') +
                                "7 0 obj\n<</Type /XRef/Size 8/Root 1 0 R>>stream\nendstream\n";
    MemoryPdf file(section + "startxref\n" + std::to_string(9 + shift) + "\n%%EOF\n",
                   kMinimumLoadedView);
    EXPECT_TRUE(ReadTrailer(file.source, file.log).LastSectionIsStream) << shift;
  }
}

TEST(ReadTrailer, EncryptEntryRefusesWhateverItsValue) {
  for (const char* encrypt : {"/Encrypt 5 0 R", "/Encrypt<</Filter/Standard/V 2>>"}) {
    const std::string section = std::string("xref\n0 1\n0000000000 65535 f\r\ntrailer\n<</Size 8") +
                                encrypt + "/Root 1 0 R>>\n";
    MemoryPdf file(WithSection(section));
    const TrailerValues values = ReadTrailer(file.source, file.log);
    EXPECT_TRUE(values.Encrypted) << encrypt;
    EXPECT_EQ(file.lines.back(), std::string("Encrypt obj: ") + (encrypt[9] == '5' ? "5" : "2"))
        << encrypt;
  }
}

TEST(ReadTrailer, EncryptedCrossReferenceStreamBehindDecodeParms) {
  const std::string section =
      "9 0 obj\n<</DecodeParms<</Columns 4>>/Encrypt 12 0 R/Type/XRef/Size 10/Root 1 0 R>>"
      "stream\nendstream\nendobj\n";
  MemoryPdf file(WithSection(section));
  EXPECT_TRUE(ReadTrailer(file.source, file.log).Encrypted);
}

TEST(ReadTrailer, InfoIsKeptOnlyAsAReference) {
  const std::string section =
      "xref\n0 1\n0000000000 65535 f\r\ntrailer\n<</Size 8/Info<</Title(x 5)>>/Root 1 0 R>>\n";
  MemoryPdf file(WithSection(section));
  const TrailerValues values = ReadTrailer(file.source, file.log);
  EXPECT_EQ(values.InfoReference, "");
  EXPECT_EQ(values.RootReference, "1 0 R");
}

TEST(ReadTrailer, CommentsAtTheOffsetAreSkipped) {
  MemoryPdf file(
      WithSection("% a comment\r\n%another\nxref\n0 1\n0000000000 65535 f\r\ntrailer\n<</Size "
                  "3/Root 1 0 R>>\n"));
  const TrailerValues values = ReadTrailer(file.source, file.log);
  EXPECT_FALSE(values.LastSectionIsStream);
  EXPECT_EQ(values.TrailerSize, 3);
  EXPECT_NE(file.Lines().find("xref header: 'xref'"), std::string::npos) << file.Lines();
}

TEST(ReadTrailer, AnOffsetThatNamesNoSectionIsAnError) {
  const struct {
    std::string bytes;
    const char* header;
  } cases[] = {
      // An object that is not a cross-reference stream.
      {WithSection("5 0 obj\n<</Type/Page>>\nendobj\n"), "5"},
      // /XRef only behind the stream keyword does not count.
      {WithSection("5 0 obj\n<</Length 5>>stream\n/XRef\nendstream\nendobj\n"), "5"},
      // Neither "xref" nor an object number.
      {WithSection("trailer\n<</Size 3/Root 1 0 R>>\n"), "trailer"},
      {WithSection("XREF\n0 1\n"), "XREF"},
  };
  for (const auto& c : cases) {
    MemoryPdf file(c.bytes);
    EXPECT_THROW_MSG(ReadTrailer(file.source, file.log), Error,
                     "No cross-reference section found at offset 42; the file may be "
                     "damaged.");
    EXPECT_EQ(file.lines.back(), std::string("xref header: '") + c.header + "'");
  }
}

TEST(ReadTrailer, OffsetBeyondTheDataIsAnError) {
  MemoryPdf file(kBody + "startxref\n99999\n%%EOF\n");
  EXPECT_THROW_MSG(ReadTrailer(file.source, file.log), Error,
                   "No cross-reference section found at offset 99999; the file may be "
                   "damaged.");
}

TEST(ReadTrailer, EndMarkerMoreThan99BytesFromTheEndIsNotFound) {
  // Trailing bytes push the "f" of startxref out of reach; the offset is then
  // read from the first number after Size - 100.
  const std::string section = "xref\n0 1\n0000000000 65535 f\r\ntrailer\n<</Size 3/Root 1 0 R>>\n";
  MemoryPdf file(WithSection(section, "%%EOF\n" + std::string(120, ' ') + "42"));
  const TrailerValues values = ReadTrailer(file.source, file.log);
  EXPECT_EQ(values.PreviousSectionOffset, 42);
  EXPECT_EQ(file.lines.front(), "(startxre)f @ " + std::to_string(file.source.Size() - 100));
}

// The log lines without the positions they end with, joined by " | ".
std::string LogShape(const std::vector<Text>& lines) {
  std::string shape;
  for (Text line : lines) {
    while (!line.empty() && ((line.back() >= '0' && line.back() <= '9') || line.back() == '-')) {
      line.pop_back();
    }
    shape += (shape.empty() ? "" : " | ") + line;
  }
  return shape;
}

// Input that cannot take an update ends with a message naming what is missing,
// after the lines that the reading logged up to that step.
TEST(ReadTrailer, InputWithoutTheNeededEntriesIsAnError) {
  const std::string noOffset =
      "No startxref offset found at the end of the file; it is not a PDF file or it is damaged.";
  const std::string noSize = "The trailer has no /Size entry; the file may be damaged.";
  const std::string noRoot = "The trailer has no /Root reference; the file may be damaged.";
  const std::string table = "xref\n0 1\n0000000000 65535 f\r\ntrailer\n";
  const std::string untilDictionary = "(startxre)f @  | xref header: 'xref' | reached dict end @ ";
  const struct {
    const char* name;
    std::string bytes;
    std::string message;
    std::string log;
  } cases[] = {
      {"empty file", "", noOffset, "(startxre)f @ "},
      {"text file", "A plain text file, a few words of it.\n", noOffset, "(startxre)f @ "},
      {"startxref without a number", kBody + "startxref\n%%EOF\n", noOffset, "(startxre)f @ "},
      {"offset of more than 32 bits", kBody + "startxref\n2147483648\n%%EOF\n", noOffset,
       "(startxre)f @ "},
      // The largest offset that fits passes this step.
      {"largest offset", kBody + "startxref\n002147483647\n%%EOF\n",
       "No cross-reference section found at offset 2147483647; the file may be damaged.",
       "(startxre)f @  | xref header: ''"},
      {"no /Size", WithSection(table + "<</Root 1 0 R>>\n"), noSize, untilDictionary},
      // /Size is looked up before the encryption test.
      {"no /Size, encrypted", WithSection(table + "<</Encrypt 5 0 R/Root 1 0 R>>\n"), noSize,
       untilDictionary},
      {"no /Root", WithSection(table + "<</Size 3/Info 2 0 R>>\n"), noRoot,
       untilDictionary + " | reached dict end @ "},
      {"/Root not a reference", WithSection(table + "<</Size 3/Root 1 0 Q>>\n"), noRoot,
       untilDictionary},
      {"/Root without generation and R", WithSection(table + "<</Size 3/Root 1>>\n"), noRoot,
       untilDictionary},
      {"/Root of a cross-reference stream without R",
       WithSection("7 0 obj\n<</Type/XRef/Size 8/Root 1 0>>stream\nendstream\nendobj\n"), noRoot,
       "(startxre)f @  | xref header: '7' | reached dict end @ "},
  };
  for (const auto& c : cases) {
    MemoryPdf file(c.bytes);
    SCOPED_TRACE(c.name);
    EXPECT_THROW_MSG(ReadTrailer(file.source, file.log), Error, c.message);
    EXPECT_EQ(LogShape(file.lines), c.log) << file.Lines();
  }
}

TEST(ReadTrailer, OnlyTheLastRevisionIsRead) {
  const std::string first = "xref\n0 1\n0000000000 65535 f\r\ntrailer\n<</Size 3/Root 1 0 R>>\n";
  std::string bytes = WithSection(first);
  const auto second = std::to_string(bytes.size());
  bytes +=
      "xref\n0 1\n0000000000 65535 f\r\ntrailer\n<</Size 5/Root 4 0 R/Prev 42>>\n"
      "startxref\n" +
      second + "\n%%EOF\n";
  MemoryPdf file(bytes);
  const TrailerValues values = ReadTrailer(file.source, file.log);
  EXPECT_EQ(values.PreviousSectionOffset, std::stoi(second));
  EXPECT_EQ(values.TrailerSize, 5);
  EXPECT_EQ(values.RootReference, "4 0 R");
}

}  // namespace
}  // namespace quillane
