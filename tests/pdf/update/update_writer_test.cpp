#include "pdf/update/update_writer.h"

#include <gtest/gtest.h>

#include "base/error.h"
#include "support/memory_pdf.h"
#include "support/test_util.h"

namespace quillane {
namespace {

using test::MemoryPdf;

using namespace std::string_literals;

// An input of `inputSize` bytes and the templates of each mode; Update()
// returns exactly the bytes the writer appended.
class UpdateWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    trailer_.TrailerSize = 40;
    trailer_.PreviousSectionOffset = 4000;
    trailer_.RootReference = "1 0 R";
  }

  std::string Update(const std::vector<ObjectKey>& keys, ReplaceMode mode = ReplaceDefault,
                     Position inputSize = 5000) {
    MemoryPdf file(std::string(static_cast<std::size_t>(inputSize), 'x'));
    WriteUpdate(file.source, keys, trailer_, Templates(mode));
    EXPECT_EQ(file.source.Substring(0, inputSize),
              std::string(static_cast<std::size_t>(inputSize), 'x'));
    return file.source.Substring(inputSize, file.source.Size());
  }

  static std::string Object(const std::string& header) {
    return header + "\n" + std::string(99, 'B') + "\nendobj\n";
  }

  PlaceholderTemplates Templates(ReplaceMode mode) const {
    PlaceholderTemplates templates;
    templates.Mode = mode;
    templates.body = defaultBody_;
    if (HasExtraObject(mode)) {
      templates.body = "<</SMask ${EXTRAOBJNR} R>>\n";
      templates.extra = "${EXTRAOBJNR} obj\nM\nendobj\n";
    }
    return templates;
  }

  // The bytes of "otherimg.dat".
  std::string defaultBody_ = std::string(99, 'B') + "\n";
  TrailerValues trailer_;
};

TEST_F(UpdateWriterTest, WorkedExampleTableForm) {
  EXPECT_EQ(Update({1200000, 1500000}),
            Object("12 0 obj") + Object("15 0 obj") +
                "xref\r\n"
                "12 1\r\n0000005000 00000 n\r\n"
                "15 1\r\n0000005116 00000 n\r\n"
                "trailer\r\n<<\r\n/Prev 4000\r\n/Root 1 0 R\r\n/Size 40\r\n>>\r\n"
                "startxref\r\n5232\r\n%%EOF\r\n");
}

TEST_F(UpdateWriterTest, WorkedExampleStreamForm) {
  trailer_.LastSectionIsStream = true;
  EXPECT_EQ(Update({1200000, 1500000}),
            Object("12 0 obj") + Object("15 0 obj") +
                "40 0 obj\r\n<<\r\n/Type/XRef\r\n/W[1 4 2]\r\n/Root 1 0 R\r\n/Prev 4000\r\n"
                "/Length 21\r\n/Size 41\r\n/Index [12 1 15 1 40 1]\r\n>>\r\nstream\r\n"
                "\x01\x00\x00\x13\x88\x00\x00"
                "\x01\x00\x00\x13\xFC\x00\x00"
                "\x01\x00\x00\x14\x70\x00\x00"
                "endstream\r\nendobj\r\n"
                "startxref\r\n5232\r\n%%EOF\r\n"s);
}

TEST_F(UpdateWriterTest, EmptyTableGetsTheFreeHeadEntry) {
  EXPECT_EQ(Update({}),
            "xref\r\n0 1\r\n0000000000 65535 f\r\n"
            "trailer\r\n<<\r\n/Prev 4000\r\n/Root 1 0 R\r\n/Size 40\r\n>>\r\n"
            "startxref\r\n5000\r\n%%EOF\r\n");
}

TEST_F(UpdateWriterTest, EmptyStreamHoldsItsOwnRow) {
  trailer_.LastSectionIsStream = true;
  EXPECT_EQ(Update({}),
            "40 0 obj\r\n<<\r\n/Type/XRef\r\n/W[1 4 2]\r\n/Root 1 0 R\r\n/Prev 4000\r\n"
            "/Length 7\r\n/Size 41\r\n/Index [40 1]\r\n>>\r\nstream\r\n"
            "\x01\x00\x00\x13\x88\x00\x00"
            "endstream\r\nendobj\r\nstartxref\r\n5000\r\n%%EOF\r\n"s);
}

TEST_F(UpdateWriterTest, InfoFollowsSizeInTheTableAndIndexInTheStream) {
  trailer_.InfoReference = "2 0 R";
  EXPECT_EQ(Update({}),
            "xref\r\n0 1\r\n0000000000 65535 f\r\n"
            "trailer\r\n<<\r\n/Prev 4000\r\n/Root 1 0 R\r\n/Size 40\r\n/Info 2 0 R\r\n>>\r\n"
            "startxref\r\n5000\r\n%%EOF\r\n");
  trailer_.LastSectionIsStream = true;
  EXPECT_EQ(Update({}),
            "40 0 obj\r\n<<\r\n/Type/XRef\r\n/W[1 4 2]\r\n/Root 1 0 R\r\n/Prev 4000\r\n"
            "/Length 7\r\n/Size 41\r\n/Index [40 1]\r\n/Info 2 0 R\r\n>>\r\nstream\r\n"
            "\x01\x00\x00\x13\x88\x00\x00"
            "endstream\r\nendobj\r\nstartxref\r\n5000\r\n%%EOF\r\n"s);
}

// The translucent and the outline mode differ only in their template files: both
// share one extra object among the placeholders, in both forms.
constexpr ReplaceMode kModesWithAMask[] = {ReplaceTGrayBox, ReplaceOutline};

TEST_F(UpdateWriterTest, TranslucentTableAddsTheSharedMaskAndCoversItInSize) {
  // 12 0 obj\n (9) + 20-byte body + endobj\n (7) = 36 bytes; the mask is 20.
  for (const ReplaceMode mode : kModesWithAMask) {
    EXPECT_EQ(Update({1200000}, mode, 100),
              "12 0 obj\n<</SMask 9999 1 R>>\nendobj\n"
              "9999 1 obj\nM\nendobj\n"
              "xref\r\n"
              "12 1\r\n0000000100 00000 n\r\n"
              "9999 1\r\n0000000136 00001 n\r\n"
              "trailer\r\n<<\r\n/Prev 4000\r\n/Root 1 0 R\r\n/Size 10000\r\n>>\r\n"
              "startxref\r\n156\r\n%%EOF\r\n")
        << int{mode};
  }
}

TEST_F(UpdateWriterTest, TranslucentStreamPutsTheMaskBeforeTheStream) {
  trailer_.LastSectionIsStream = true;
  for (const ReplaceMode mode : kModesWithAMask) {
    EXPECT_EQ(Update({}, mode, 100),
              "9999 1 obj\nM\nendobj\n"
              "40 0 obj\r\n<<\r\n/Type/XRef\r\n/W[1 4 2]\r\n/Root 1 0 R\r\n/Prev 4000\r\n"
              "/Length 14\r\n/Size 10000\r\n/Index [9999 1 40 1]\r\n>>\r\nstream\r\n"
              "\x01\x00\x00\x00\x64\x00\x01"
              "\x01\x00\x00\x00\x78\x00\x00"
              "endstream\r\nendobj\r\nstartxref\r\n120\r\n%%EOF\r\n"s)
        << int{mode};
  }
}

TEST_F(UpdateWriterTest, MaskNeverTakesANumberTheDocumentUses) {
  const struct {
    std::int32_t size;
    bool stream;
    const char* maskHeader;
    const char* sizeLine;
  } cases[] = {
      {9999, false, "9999 1 obj", "/Size 10000\r\n"},
      {10000, false, "10000 1 obj", "/Size 10001\r\n"},
      {9998, true, "9999 1 obj", "/Size 10000\r\n"},
      {9999, true, "10000 1 obj", "/Size 10001\r\n"},
      {2147483647, true, "2147483648 1 obj", "/Size 2147483649\r\n"},
  };
  for (const auto& c : cases) {
    trailer_.TrailerSize = c.size;
    trailer_.LastSectionIsStream = c.stream;
    const std::string update = Update({100000}, ReplaceTGrayBox, 10);
    const std::string number =
        std::string(c.maskHeader).substr(0, std::string(c.maskHeader).find(' '));
    EXPECT_NE(update.find("<</SMask " + number + " 1 R>>"), std::string::npos) << c.size;
    EXPECT_NE(update.find(std::string("\n") + c.maskHeader + "\nM\nendobj\n"), std::string::npos)
        << c.size;
    EXPECT_NE(update.find(c.sizeLine), std::string::npos) << c.size << update;
  }
}

TEST_F(UpdateWriterTest, DefaultModeLeavesPlaceholdersInTheBodyAlone) {
  defaultBody_ = "${EXTRAOBJNR}\n";
  EXPECT_EQ(Update({300000}, ReplaceDefault, 10).substr(0, 29), "3 0 obj\n${EXTRAOBJNR}\nendobj\n");
}

TEST_F(UpdateWriterTest, GenerationsRepeatsAndOrderAreKept) {
  trailer_.LastSectionIsStream = true;
  // Object 15 before 12, object 7 twice, generation 3; positions from 16909060
  // on, whose bytes read 01 02 03 04.
  defaultBody_.clear();
  const std::string update = Update({1500000, 700003, 700003}, ReplaceDefault, 16909060);
  EXPECT_EQ(update.substr(0, 16 + 15 + 15), "15 0 obj\nendobj\n7 3 obj\nendobj\n7 3 obj\nendobj\n");
  EXPECT_NE(update.find("/Index [15 1 7 1 7 1 40 1]\r\n"), std::string::npos);
  EXPECT_NE(update.find("stream\r\n\x01\x01\x02\x03\x04\x00\x00"
                        "\x01\x01\x02\x03\x14\x00\x03"
                        "\x01\x01\x02\x03\x23\x00\x03"s),
            std::string::npos);
}

TEST_F(UpdateWriterTest, TableEntriesForGenerationsAndRepeats) {
  defaultBody_.clear();
  EXPECT_EQ(Update({700003, 700003}, ReplaceDefault, 10),
            "7 3 obj\nendobj\n7 3 obj\nendobj\n"
            "xref\r\n7 1\r\n0000000010 00003 n\r\n7 1\r\n0000000025 00003 n\r\n"
            "trailer\r\n<<\r\n/Prev 4000\r\n/Root 1 0 R\r\n/Size 40\r\n>>\r\n"
            "startxref\r\n40\r\n%%EOF\r\n");
}

// ---------------------------------------------------------------------------
// Outputs beyond 4 GiB and 10 GB

// A file of `size` bytes that holds none of them: the writer only asks for
// the size and appends.
class FarFileAccess final : public FileAccess {
  struct TextSpill final : Spill {
    void Write(std::string_view data) override { bytes.append(data); }
    Position Size() const override { return static_cast<Position>(bytes.size()); }
    Text bytes;
  };

 public:
  explicit FarFileAccess(Position size) : size_(size) {}
  void Load(const Text&) override {}
  void Save(const Text&) override {}
  bool SaveAsNew(const Text&) override { return true; }
  std::uint8_t ByteAt(Position) const override { return 0; }
  Text Substring(Position, Position) const override { return {}; }
  std::uint8_t RawByteAt(Position) const override { return 0; }
  Position Size() const override { return size_ + static_cast<Position>(appended.size()); }
  void Overwrite(Position, const Text&) override {}
  void Append(const Text& text) override { appended += text; }
  std::unique_ptr<Spill> NewSpill() const override { return std::make_unique<TextSpill>(); }
  void AppendSpill(std::shared_ptr<Spill> spill) override {
    appended += dynamic_cast<const TextSpill&>(*spill).bytes;
  }
  std::string_view LoadedBytesFrom(Position) const override { return {}; }
  Text appended;

 private:
  Position size_;
};

TEST_F(UpdateWriterTest, StreamRowsWidenOnlyForAnOffsetBeyond32Bits) {
  trailer_.LastSectionIsStream = true;
  trailer_.PreviousSectionOffset = 4294967000;
  const std::vector<ObjectKey> keys = {1200000, 1500000};
  // The stream's own row ends at 0xFFFFFFFF: four bytes still hold it.
  FarFileAccess below(4294967295 - 232);
  WriteUpdate(below, keys, trailer_, Templates(ReplaceDefault));
  EXPECT_NE(below.appended.find("/W[1 4 2]\r\n"), std::string::npos);
  EXPECT_NE(below.appended.find("\x01\xFF\xFF\xFF\xFF\x00\x00"
                                "endstream"s),
            std::string::npos);
  // One byte further, every row takes five.
  FarFileAccess above(4294967296 - 232);
  WriteUpdate(above, keys, trailer_, Templates(ReplaceDefault));
  EXPECT_EQ(above.appended.substr(232),
            "40 0 obj\r\n<<\r\n/Type/XRef\r\n/W[1 5 2]\r\n/Root 1 0 R\r\n/Prev 4294967000\r\n"
            "/Length 24\r\n/Size 41\r\n/Index [12 1 15 1 40 1]\r\n>>\r\nstream\r\n"
            "\x01\x00\xFF\xFF\xFF\x18\x00\x00"
            "\x01\x00\xFF\xFF\xFF\x8C\x00\x00"
            "\x01\x01\x00\x00\x00\x00\x00\x00"
            "endstream\r\nendobj\r\nstartxref\r\n4294967296\r\n%%EOF\r\n"s);
}

TEST_F(UpdateWriterTest, TableStopsBeforeAnOffsetOfElevenDigits) {
  // The second object would start at 10,000,000,000.
  const std::vector<ObjectKey> keys = {1200000, 1500000};
  FarFileAccess beyond(9999999884);
  EXPECT_THROW_MSG(WriteUpdate(beyond, keys, trailer_, Templates(ReplaceDefault)), Error,
                   "The output would be too large for a cross-reference table (10 GB or more).");
  EXPECT_EQ(beyond.appended, "");
  // Ten digits still fit; "startxref" and /Prev have no such limit, and a
  // table without images holds only object 0, at offset 0.
  trailer_.PreviousSectionOffset = 99999999999;
  FarFileAccess below(9999999883);
  WriteUpdate(below, keys, trailer_, Templates(ReplaceDefault));
  EXPECT_EQ(below.appended.substr(232),
            "xref\r\n12 1\r\n9999999883 00000 n\r\n15 1\r\n9999999999 00000 n\r\n"
            "trailer\r\n<<\r\n/Prev 99999999999\r\n/Root 1 0 R\r\n/Size 40\r\n>>\r\n"
            "startxref\r\n10000000115\r\n%%EOF\r\n");
  FarFileAccess empty(20000000000);
  WriteUpdate(empty, {}, trailer_, Templates(ReplaceDefault));
  EXPECT_NE(empty.appended.find("startxref\r\n20000000000\r\n"), std::string::npos);
}

}  // namespace
}  // namespace quillane
