#include "pdf/update/repairing_update.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "support/memory_pdf.h"

namespace quillane {
namespace {

using namespace std::string_literals;

// An input of 5000 bytes; Update() returns what the writer appended and
// `listed_` the count it returned.
class RepairingUpdateTest : public ::testing::Test {
 protected:
  std::string Update(const FoundObjects& found, const std::vector<ObjectKey>& keys,
                     ReplaceMode mode = ReplaceDefault,
                     const std::vector<RewrittenObject>& rewritten = {}) {
    test::MemoryPdf file(std::string(5000, 'x'));
    PlaceholderTemplates templates;
    templates.Mode = mode;
    templates.body = "B\n";
    if (HasExtraObject(mode)) {
      templates.body = "<</SMask ${EXTRAOBJNR} R>>\n";
      templates.extra = "${EXTRAOBJNR} obj\nM\nendobj\n";
    }
    listed_ = WriteRepairingUpdate(file.source, found, keys, templates, rewritten);
    EXPECT_EQ(file.source.Substring(0, 5000), std::string(5000, 'x'));
    return file.source.Substring(5000, file.source.Size());
  }

  static FoundObjects Found(std::vector<XrefRow> rows, Position base = 0) {
    FoundObjects found;
    found.Rows = std::move(rows);
    found.Trailer = {"1 0 R", "7 0 R", "[<01><02>]"};
    found.OffsetBase = base;
    return found;
  }

  std::int64_t listed_ = 0;
};

// The image's old version gives way to its placeholder, a rewritten stream
// to its new version; offsets count from the header (10 bytes of junk before
// it), the end block's too.
TEST_F(RepairingUpdateTest, TableListsEveryObjectWithTheNewVersionsInPlace) {
  RewrittenObject content;
  content.Key = MakeObjectKey(3, 0);
  content.Bytes = "3 0 obj\nC\nendobj\n";
  EXPECT_EQ(Update(Found({{1, 0, false, 25, 0, 0},
                          {2, 0, false, 70, 0, 0},
                          {3, 0, false, 90, 0, 0},
                          {4, 2, false, 130, 0, 0}},
                         10),
                   {MakeObjectKey(4, 2)}, ReplaceDefault, {content}),
            "4 2 obj\nB\nendobj\n"
            "3 0 obj\nC\nendobj\n"
            "xref\r\n0 5\r\n0000000000 65535 f\r\n"
            "0000000015 00000 n\r\n0000000060 00000 n\r\n"
            "0000005007 00000 n\r\n0000004990 00002 n\r\n"
            "trailer\r\n<<\r\n/Size 5\r\n/Root 1 0 R\r\n/Info 7 0 R\r\n/ID [<01><02>]\r\n>>\r\n"
            "startxref\r\n5024\r\n%%EOF\r\n");
  EXPECT_EQ(listed_, 4);
}

// /Size stays within 32 bits for readers: a number beyond the highest a
// repair lists is left out, and the extra object takes the next number.
TEST_F(RepairingUpdateTest, NumbersBeyondThe32BitSizeAreLeftOut) {
  const std::string update = Update(Found({{1, 0, false, 20, 0, 0},
                                           {kHighestRepairedNumber, 0, false, 30, 0, 0},
                                           {kHighestRepairedNumber + 1, 0, false, 40, 0, 0}}),
                                    {MakeObjectKey(kHighestRepairedNumber + 3, 0)}, ReplaceOutline);
  EXPECT_EQ(update.substr(0, 19), "2147483645 1 obj\nM\n");
  EXPECT_NE(update.find("/Size 2147483646\r\n"), std::string::npos) << update;
  EXPECT_EQ(listed_, 3);
}

// An object in an object stream needs the stream form, whatever the input's
// last section was; the extra object takes the first number above the
// file's, and the stream the one after it.
TEST_F(RepairingUpdateTest, ObjectStreamRowsMakeAStreamAndTheExtraObjectStaysAbove) {
  const std::string update = Update(
      Found({{1, 0, false, 20, 0, 0}, {2, 0, true, 0, 12000, 0}, {12000, 0, false, 40, 0, 0}}), {},
      ReplaceOutline);
  const std::string extra = "12001 1 obj\nM\nendobj\n";
  ASSERT_EQ(update.substr(0, extra.size()), extra);
  const std::string header =
      "12002 0 obj\r\n<<\r\n/Type/XRef\r\n/Size 12003\r\n/Index [0 3 12000 3]\r\n"
      "/W[1 2 2]\r\n/Root 1 0 R\r\n/Info 7 0 R\r\n/ID [<01><02>]\r\n/Filter/FlateDecode\r\n"
      "/Length ";
  ASSERT_EQ(update.substr(extra.size(), header.size()), header);
  EXPECT_EQ(listed_, 5);

  const std::size_t data = update.find("stream\r\n", extra.size()) + 8;
  const std::size_t end = update.find("\r\nendstream", data);
  std::string rows(6 * 5, '\0');
  auto size = static_cast<uLongf>(rows.size());
  ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(rows.data()), &size,
                       reinterpret_cast<const Bytef*>(update.data() + data),
                       static_cast<uLong>(end - data)),
            Z_OK);
  rows.resize(size);
  // Free head; 1 at 20; 2 in stream 12000 (0x2EE0), index 0; 12000 at 40;
  // the extra object at 5000 (0x1388), generation 1; the stream at 5021.
  EXPECT_EQ(rows,
            "\x00\x00\x00\xFF\xFF"
            "\x01\x00\x14\x00\x00"
            "\x02\x2E\xE0\x00\x00"
            "\x01\x00\x28\x00\x00"
            "\x01\x13\x88\x00\x01"
            "\x01\x13\x9D\x00\x00"s);
  EXPECT_EQ(update.substr(update.size() - 24), "startxref\r\n5021\r\n%%EOF\r\n");
}

}  // namespace
}  // namespace quillane
