#include "pdf/rewrite/inline_images.h"

#include <gtest/gtest.h>

#include <chrono>

#include "pdf/content/content_stream.h"
#include "pdf/filters/stream_filters.h"
#include "support/memory_file_access.h"
#include "support/pdf_builder.h"
#include "support/zlib_data.h"

namespace quillane {
namespace {

using test::MemoryFileAccess;
using test::PdfBuilder;
using namespace std::string_literals;

const std::string kImage = "BI /W 2 /H 1 /CS /G /BPC 8 ID \x01\x02 EI";
const std::string kPlaceholder = "BI /W 1 /H 1 /CS /G /BPC 8 ID \x7F EI";

std::string Zlib(const std::string& data) { return test::ZlibCompress(data); }

std::string Inflate(const std::string& data) {
  return DecodeStreamData(data, {{"FlateDecode"}}).Data.value_or("(does not inflate)");
}

// A stream object body: `dictionary` (without /Length, which is added
// last unless given), "stream", the data.
std::string Stream(const std::string& dictionary, const std::string& data) {
  std::string entries = dictionary;
  if (entries.find("/Length") == std::string::npos) {
    entries += "/Length " + std::to_string(data.size());
  }
  return "<<" + entries + ">>\nstream\n" + data + "\nendstream\n";
}

struct WalkResult {
  std::vector<RewrittenObject> objects;
  std::string log;         // the lines joined by " | "
  Position bytesRead = 0;  // read from the file by position
};

WalkResult Walk(const std::string& file, const std::vector<ObjectKey>& imageKeys = {}) {
  MemoryFileAccess source(file);
  WalkResult result;
  const LogHook log = [&result](const Text& line) {
    result.log += (result.log.empty() ? "" : " | ") + line;
  };
  result.objects = RewriteInlineImageStreams(source, 0x7F, imageKeys, log);
  result.bytesRead = source.BytesRead();
  return result;
}

// A rewritten object taken apart: its text up to "stream", and its data
// inflated; checks that /Length is the data's length.
struct Parts {
  std::string head;
  std::string content;
};

Parts Split(const RewrittenObject& object) {
  const std::string& text = object.Bytes;
  const std::size_t stream = text.find(">>\nstream\n");
  const std::size_t length = text.rfind("/Length ", stream);
  EXPECT_NE(stream, std::string::npos);
  EXPECT_TRUE(text.ends_with("\nendstream\nendobj\n")) << text;
  const std::size_t dataStart = stream + 10;
  const std::size_t dataSize = text.size() - 18 - dataStart;
  EXPECT_EQ(text.substr(length, stream - length),
            "/Length " + std::to_string(dataSize) + "/Filter/FlateDecode");
  return {text.substr(0, length), Inflate(text.substr(dataStart, dataSize))};
}

std::string Document(const std::string& contentBody) {
  return PdfBuilder()
      .Object(1, 0, "<</Type/Catalog/Pages 2 0 R>>\n")
      .Object(2, 0, "<</Type/Pages/Kids[3 0 R]/Count 1>>\n")
      .Object(3, 0, "<</Type/Page/Parent 2 0 R/Contents 5 0 R>>\n")
      .Object(5, 0, contentBody)
      .Build();
}

TEST(InlineImageWalk, RewritesPageContentsKeepingEveryOtherByte) {
  const std::string content = "q 10 0 0 10 0 0 cm\n" + kImage + "\nQ\n(BI) Tj " + kImage;
  const WalkResult result = Walk(Document(Stream("/Filter/FlateDecode", Zlib(content))));
  ASSERT_EQ(result.objects.size(), 1u);
  EXPECT_EQ(result.objects[0].Key, MakeObjectKey(5, 0));
  const Parts parts = Split(result.objects[0]);
  EXPECT_EQ(parts.head, "5 0 obj\n<<");
  EXPECT_EQ(parts.content, "q 10 0 0 10 0 0 cm\n" + kPlaceholder + "\nQ\n(BI) Tj " + kPlaceholder);
  EXPECT_EQ(result.log, "Inline images: 500000#2");
}

TEST(InlineImageWalk, FormKeepsItsDictionaryAndLengthReferenceIsResolved) {
  // Hexadecimal data with a parameter array, /DL and a /Length reference to
  // an object after the stream; every other entry stays byte for byte.
  std::string hex;
  for (const char c : kImage + " Q") {
    hex += "0123456789ABCDEF"[(static_cast<unsigned char>(c) >> 4) & 15];
    hex += "0123456789ABCDEF"[static_cast<unsigned char>(c) & 15];
  }
  hex += ">";
  const std::string file =
      PdfBuilder()
          .Object(1, 0, "<</Type/Catalog/Pages 2 0 R>>\n")
          .Object(2, 0, "<</Type/Pages/Kids[3 0 R]/Count 1>>\n")
          .Object(3, 0,
                  "<</Type/Page/Parent 2 0 R/Resources<</XObject<</Fm 4 0 R>>>>/Contents 5 0 R>>\n")
          .Object(4, 0,
                  "<</Type/XObject /Subtype /Form/BBox[0 0 10 10]/Length 9 0 R "
                  "/Filter[/ASCIIHexDecode]/DecodeParms[null]/DL 40\r\n"
                  "/Resources<</Font<</F1 7 0 R>>/Length 3>>/Matrix[1 0 0 1 0 0]>>\nstream\n" +
                      hex + "\nendstream\n")
          .Object(5, 0, Stream("", "/Fm Do"))
          .Object(9, 0, std::to_string(hex.size()) + "\n")
          .Build();
  const WalkResult result = Walk(file);
  ASSERT_EQ(result.objects.size(), 1u);
  const Parts parts = Split(result.objects[0]);
  EXPECT_EQ(parts.head,
            "4 0 obj\n<</Type/XObject /Subtype /Form/BBox[0 0 10 10] \r\n"
            "/Resources<</Font<</F1 7 0 R>>/Length 3>>/Matrix[1 0 0 1 0 0]");
  EXPECT_EQ(parts.content, kPlaceholder + " Q");
}

TEST(InlineImageWalk, LeavesWhatIsNoContentStreamWithImages) {
  const struct {
    std::string body;
    const char* log;
  } cases[] = {
      {Stream("", "q 1 0 0 1 0 0 cm Q"), ""},
      {Stream("/Type/XObject/Subtype/Image/Width 2/Height 1", kImage), ""},
      {Stream("/Type/Metadata", kImage), ""},
      {Stream("/Length1 9/Length2 3/Length3 0", kImage), ""},
      {Stream("/F(file.txt)", kImage), ""},
      {Stream("/Filter/DCTDecode", kImage), "Stream left: 500000 filter DCTDecode"},
      {Stream("/Filter/FlateDecode", kImage), "Stream left: 500000 Flate data damaged"},
      {Stream("", "q " + kImage + " lineto"), "Stream left: 500000 content syntax at 38"},
      {Stream("", "BI /W 9 /H 9 /CS /G /BPC 8 ID x EI"), "Stream left: 500000 content syntax at 0"},
      // Type 3 glyphs draw letters, often through image masks.
      {Stream("", "1000 0 0 0 750 750 d1 q 750 0 0 750 0 0 cm " + kImage + " Q"),
       "Stream left: 500000 Type 3 glyph"},
      {Stream("/Filter/FlateDecode", Zlib("500 0 d0 " + kImage)),
       "Stream left: 500000 Type 3 glyph"},
      {Stream("", "500 0 d0 " + kImage + " ]"), "Stream left: 500000 Type 3 glyph"},
      {Stream("", "500 0 d0 (BI) Tj"), ""},
      // No "endstream" at all: the data cannot be bounded.
      {"<</Length 5>>\nstream\n" + kImage + "\n", ""},
  };
  for (const auto& c : cases) {
    const WalkResult result = Walk(Document(c.body));
    EXPECT_TRUE(result.objects.empty()) << c.body;
    EXPECT_EQ(result.log, c.log) << c.body;
  }
  // An object the update replaces as an image is not written twice.
  const WalkResult image = Walk(Document(Stream("", kImage)), {MakeObjectKey(5, 0)});
  EXPECT_TRUE(image.objects.empty());
  EXPECT_EQ(image.log, "Stream left: 500000 replaced as an image");
}

// What the cross-reference names is what is read: the newest version, never
// a freed one or an orphan that no section lists.
TEST(InlineImageWalk, TheCrossReferenceSaysWhichVersionIsRead) {
  const std::string withImage = Stream("", "q " + kImage + " Q");
  const std::string without = Stream("", "q Q");
  const auto page = [](PdfBuilder& builder, int contents) -> PdfBuilder& {
    return builder.Object(1, 0, "<</Type/Catalog/Pages 2 0 R>>\n")
        .Object(2, 0, "<</Type/Pages/Kids[3 0 R]/Count 1>>\n")
        .Object(3, 0,
                "<</Type/Page/Parent 2 0 R/Contents " + std::to_string(contents) + " 0 R>>\n");
  };
  PdfBuilder older;
  PdfBuilder newer;
  PdfBuilder orphan;
  PdfBuilder freed;
  const struct {
    const char* what;
    std::string file;
    ObjectKey rewritten;  // kNoObject: none
  } cases[] = {
      {"newer without images",
       page(older, 5).Object(5, 0, withImage).Update().Object(5, 0, without).Build(), kNoObject},
      {"newer with images",
       page(newer, 5).Object(5, 0, without).Update().Object(5, 0, withImage).Build(),
       MakeObjectKey(5, 0)},
      // A second definition that no section lists is no newer version.
      {"orphan after the listed one",
       page(orphan, 5).Object(5, 0, without).Raw("5 0 obj\n" + withImage + "endobj\n").Build(),
       kNoObject},
      // An update gives the page new contents and frees the old ones.
      {"freed old contents",
       page(freed, 5)
           .Object(5, 0, withImage)
           .Update()
           .Object(3, 0, "<</Type/Page/Parent 2 0 R/Contents 6 0 R>>\n")
           .Object(6, 0, withImage)
           .Free(5, 1)
           .Build(),
       MakeObjectKey(6, 0)},
  };
  for (const auto& c : cases) {
    const WalkResult result = Walk(c.file);
    if (c.rewritten == kNoObject) {
      EXPECT_TRUE(result.objects.empty()) << c.what;
      continue;
    }
    ASSERT_EQ(result.objects.size(), 1u) << c.what;
    EXPECT_EQ(result.objects[0].Key, c.rewritten) << c.what;
    EXPECT_EQ(Split(result.objects[0]).content, "q " + kPlaceholder + " Q") << c.what;
  }
}

// A page's /Contents may name an array of streams; each stream it lists is
// drawn, once however often it is named.
TEST(InlineImageWalk, ContentsGivenAsAnIndirectArrayAreEachRewritten) {
  const std::string withImage = Stream("", "q " + kImage + " Q");
  const std::string file = PdfBuilder()
                               .Object(1, 0, "<</Type/Catalog/Pages 2 0 R>>\n")
                               .Object(2, 0, "<</Type/Pages/Kids[3 0 R 4 0 R]/Count 2>>\n")
                               .Object(3, 0, "<</Type/Page/Parent 2 0 R/Contents 5 0 R>>\n")
                               .Object(4, 0, "<</Type/Page/Parent 2 0 R/Contents 7 0 R>>\n")
                               .Object(5, 0, "[6 0 R 7 0 R 6 0 R 9 0 R]\n")
                               .Object(6, 0, withImage)
                               .Object(7, 0, withImage)
                               .Build();
  const WalkResult result = Walk(file);
  ASSERT_EQ(result.objects.size(), 2u);
  EXPECT_EQ(result.objects[0].Key, MakeObjectKey(6, 0));
  EXPECT_EQ(result.objects[1].Key, MakeObjectKey(7, 0));
  for (const RewrittenObject& object : result.objects) {
    EXPECT_EQ(Split(object).content, "q " + kPlaceholder + " Q");
  }
}

TEST(InlineImageWalk, StreamDataIsBoundedByItsLength) {
  // Object 5's data holds "endstream" and an object header; its /Length
  // (direct, or a reference) bounds it.
  const std::string data = "BT (endstream\n6 0 obj) Tj ET " + kImage;
  for (const bool reference : {false, true}) {
    const WalkResult result =
        Walk(reference ? PdfBuilder()
                             .Object(1, 0, "<</Type/Catalog/Pages 2 0 R>>\n")
                             .Object(2, 0, "<</Type/Pages/Kids[3 0 R]/Count 1>>\n")
                             .Object(3, 0, "<</Type/Page/Parent 2 0 R/Contents 5 0 R>>\n")
                             .Object(5, 0, "<</Length 7 0 R>>\nstream\n" + data + "\nendstream\n")
                             .Object(7, 0, std::to_string(data.size()) + "\n")
                             .Build()
                       : Document(Stream("", data)));
    ASSERT_EQ(result.objects.size(), 1u) << reference;
    EXPECT_EQ(Split(result.objects[0]).content, "BT (endstream\n6 0 obj) Tj ET " + kPlaceholder);
  }
  // A wrong /Length: the data ends at the first "endstream".
  const WalkResult wrong = Walk(Document("<</Length 500>>\nstream\n" + kImage + "\r\nendstream\n"));
  ASSERT_EQ(wrong.objects.size(), 1u);
  EXPECT_EQ(Split(wrong.objects[0]).content, kPlaceholder);
}

TEST(InlineImageWalk, ReadsOnlyInsideTheFileWhereverItIsCut) {
  const std::string file = Document(Stream("/Filter/FlateDecode", Zlib("q " + kImage + " Q")));
  for (std::size_t size = 0; size <= file.size(); ++size) {
    // MemoryFileAccess throws on any read outside the data.
    EXPECT_NO_THROW(Walk(file.substr(0, size))) << size;
  }
}

TEST(InlineImageWalk, ReadsHostileFilesInWorkLinearInTheirSize) {
  // Every body runs to the end of the file (an unclosed string), or every
  // stream lacks its "endstream": without bounds each object would read the
  // rest of the file, 20,000 times the file's size (minutes here).
  std::string unclosed;
  std::string endless;
  for (int i = 0; i < 20000; ++i) {
    unclosed += "\n1 0 obj\n<</A(";
    endless += "\n1 0 obj\n<<>>stream\n";
  }
  // Neither has a cross-reference the object layer reads: nothing is
  // rewritten, and the log says why.
  const WalkResult stopped = Walk(unclosed);
  EXPECT_TRUE(stopped.objects.empty());
  EXPECT_EQ(stopped.log, "Inline images left: no startxref at the end of the file");
  const WalkResult passed = Walk(endless);
  EXPECT_TRUE(passed.objects.empty());
  // The body budget: 8 times the size and 16 MiB, and pieces of whole pages.
  for (const auto& [file, walk] : {std::pair{&unclosed, &stopped}, std::pair{&endless, &passed}}) {
    const auto size = static_cast<Position>(file->size());
    EXPECT_LT(walk->bytesRead, 16 * size + (Position{32} << 20)) << walk->bytesRead;
  }
}

// The update with rewritten objects: after the image placeholders, before
// the extra object, each with its own entry.
TEST(WriteUpdateWithRewrittenObjects, PlacesThemBetweenImagesAndExtraObject) {
  TrailerValues trailer;
  trailer.TrailerSize = 40;
  trailer.PreviousSectionOffset = 4000;
  trailer.RootReference = "1 0 R";
  const auto update = [&](ReplaceMode mode, bool stream) {
    trailer.LastSectionIsStream = stream;
    PlaceholderTemplates templates;
    templates.Mode = mode;
    templates.body = "B\n";
    if (mode == ReplaceTGrayBox) {
      templates.body = "T\n";
      templates.extra = "${EXTRAOBJNR} obj\nM\nendobj\n";
    }
    MemoryFileAccess source(std::string(5000, 'x'));
    WriteUpdate(source, {MakeObjectKey(12, 0)}, trailer, templates,
                {{MakeObjectKey(5, 2), "5 2 obj\nS\nendobj\n", {}, {}}});
    return source.Substring(5000, source.Size());
  };
  // 12 0 obj at 5000 (18 bytes), 5 2 obj at 5018 (17 bytes), then 5035.
  EXPECT_EQ(update(ReplaceDefault, false),
            "12 0 obj\nB\nendobj\n5 2 obj\nS\nendobj\n"
            "xref\r\n12 1\r\n0000005000 00000 n\r\n5 1\r\n0000005018 00002 n\r\n"
            "trailer\r\n<<\r\n/Prev 4000\r\n/Root 1 0 R\r\n/Size 40\r\n>>\r\n"
            "startxref\r\n5035\r\n%%EOF\r\n");
  EXPECT_EQ(update(ReplaceTGrayBox, true),
            "12 0 obj\nT\nendobj\n5 2 obj\nS\nendobj\n9999 1 obj\nM\nendobj\n"
            "40 0 obj\r\n<<\r\n/Type/XRef\r\n/W[1 4 2]\r\n/Root 1 0 R\r\n/Prev 4000\r\n"
            "/Length 28\r\n/Size 10000\r\n/Index [12 1 5 1 9999 1 40 1]\r\n>>\r\nstream\r\n"
            "\x01\x00\x00\x13\x88\x00\x00"
            "\x01\x00\x00\x13\x9A\x00\x02"
            "\x01\x00\x00\x13\xAB\x00\x01"
            "\x01\x00\x00\x13\xBF\x00\x00"
            "endstream\r\nendobj\r\n"
            "startxref\r\n5055\r\n%%EOF\r\n"s);
}

// A rewritten stream whose data is a spill: its bytes follow the object's
// head, and every later offset counts them.
TEST(WriteUpdateWithRewrittenObjects, SpilledDataCountsInTheOffsets) {
  TrailerValues trailer;
  trailer.TrailerSize = 40;
  trailer.PreviousSectionOffset = 4000;
  trailer.RootReference = "1 0 R";
  MemoryFileAccess source(std::string(5000, 'x'));
  std::shared_ptr<Spill> data = source.NewSpill();
  data->Write("0123456789");
  PlaceholderTemplates templates;
  templates.body = "B\n";
  WriteUpdate(
      source, {MakeObjectKey(12, 0)}, trailer, templates,
      {{MakeObjectKey(5, 0), "5 0 obj\n<</Length 10>>stream\n", data, "\nendstream\nendobj\n"},
       {MakeObjectKey(6, 0), "6 0 obj\nS\nendobj\n", {}, {}}});
  // 12 0 at 5000 (18 bytes), 5 0 at 5018 (29 + 10 + 18 bytes), 6 0 at 5075
  // (17 bytes), the table at 5092.
  EXPECT_EQ(source.Substring(5000, source.Size()),
            "12 0 obj\nB\nendobj\n5 0 obj\n<</Length 10>>stream\n0123456789"
            "\nendstream\nendobj\n6 0 obj\nS\nendobj\n"
            "xref\r\n12 1\r\n0000005000 00000 n\r\n5 1\r\n0000005018 00000 n\r\n"
            "6 1\r\n0000005075 00000 n\r\n"
            "trailer\r\n<<\r\n/Prev 4000\r\n/Root 1 0 R\r\n/Size 40\r\n>>\r\n"
            "startxref\r\n5092\r\n%%EOF\r\n");
}

}  // namespace
}  // namespace quillane
