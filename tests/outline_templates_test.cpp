// The outline mode's templates as shipped in data/: the body is a 1 x 1
// DeviceGray image whose soft mask is the extra object, and that mask is a
// 256 x 256 DeviceGray image, opaque on a one-sample frame and on both
// diagonals and transparent everywhere else. qpdf decodes the Flate streams,
// so the samples checked are the ones a PDF reader gets.
#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "base/text.h"
#include "support/pdf_builder.h"
#include "support/test_util.h"

namespace quillane {
namespace {

namespace fs = std::filesystem;
using test::ProcessResult;
using test::RunProcess;

constexpr char kPlaceholder[] = "${EXTRAOBJNR}";
constexpr std::string_view kExtraHeader = "${EXTRAOBJNR} obj\n";
constexpr std::string_view kExtraEnd = "endobj\n";
constexpr std::string_view kBitsKey = "/BitsPerComponent ";
constexpr std::size_t kMaskSize = 256;

std::string SourceTemplate(const std::string& name) {
  return test::ReadFileBytes(fs::path(QUILLANE_SOURCE_DIR) / "data" / name);
}

std::size_t Count(const std::string& text, const std::string& pattern) {
  std::size_t count = 0;
  for (auto at = text.find(pattern); at != std::string::npos; at = text.find(pattern, at + 1)) {
    ++count;
  }
  return count;
}

// A one-page document that draws the body (object 4) over the page, with the
// extra object as object 5, in the form the update gives them.
class OutlineTemplatesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(body_.find(kPlaceholder) != std::string::npos);
    ASSERT_GE(mask_.size(), kExtraHeader.size() + kExtraEnd.size());
    ASSERT_TRUE(mask_.starts_with(kExtraHeader)) << "the extra object starts with its header";
    ASSERT_TRUE(mask_.ends_with(kExtraEnd));
    if (!test::ProgramAvailable("qpdf")) GTEST_SKIP() << "qpdf not installed";

    const std::string maskBody =
        mask_.substr(kExtraHeader.size(), mask_.size() - kExtraHeader.size() - kExtraEnd.size());
    const std::string content = "q 612 0 0 792 0 0 cm /Im0 Do Q";
    test::WriteFileBytes(
        path_, test::PdfBuilder()
                   .Object(1, 0, "<</Type/Catalog/Pages 2 0 R>>\n")
                   .Object(2, 0, "<</Type/Pages/Kids[3 0 R]/Count 1>>\n")
                   .Object(3, 0,
                           "<</Type/Page/Parent 2 0 R/MediaBox[0 0 612 792]"
                           "/Resources<</XObject<</Im0 4 0 R>>>>/Contents 6 0 R>>\n")
                   .Object(4, 0, ReplaceAll(body_, kPlaceholder, "5 0"))
                   .Object(5, 0, maskBody)
                   .Object(6, 0,
                           "<</Length " + std::to_string(content.size()) + ">>\nstream\n" +
                               content + "\nendstream\n")
                   .Build());
  }

  // qpdf's dictionary of object `number` (keys sorted, one blank apart).
  std::string Dictionary(int number) const {
    const ProcessResult shown =
        RunProcess({"qpdf", "--show-object=" + std::to_string(number), path_});
    EXPECT_EQ(shown.exit_status, 0) << shown.err;
    return shown.out + shown.err;
  }

  // The decoded stream data of object `number`.
  std::string Samples(int number) const {
    const ProcessResult shown = RunProcess(
        {"qpdf", "--show-object=" + std::to_string(number), "--filtered-stream-data", path_});
    EXPECT_EQ(shown.exit_status, 0) << shown.err;
    return shown.out;
  }

  std::string body_ = SourceTemplate("otheroimg.dat");
  std::string mask_ = SourceTemplate("otheromsk.dat");
  test::ScratchDir dir_;
  std::string path_ = dir_.File("outline.pdf");
};

TEST_F(OutlineTemplatesTest, EveryPlaceholderNamesTheExtraObject) {
  EXPECT_EQ(Count(body_, kPlaceholder), 1u);
  EXPECT_EQ(Count(body_, std::string("/SMask ") + kPlaceholder + " R"), 1u);
  EXPECT_EQ(Count(mask_, kPlaceholder), 1u) << "only in the header";
}

TEST_F(OutlineTemplatesTest, DocumentUsingThemIsClean) {
  const ProcessResult check = RunProcess({"qpdf", "--check", path_});
  EXPECT_EQ(check.exit_status, 0) << check.out << check.err;
  EXPECT_EQ(check.err, "");
}

TEST_F(OutlineTemplatesTest, BodyIsOneGraySampleMaskedByTheExtraObject) {
  const std::string dictionary = Dictionary(4);
  for (const char* entry : {"/Subtype /Image", "/ColorSpace /DeviceGray", "/Width 1 ", "/Height 1 ",
                            "/BitsPerComponent 8 ", "/SMask 5 0 R"}) {
    EXPECT_NE(dictionary.find(entry), std::string::npos) << entry << " in " << dictionary;
  }
  EXPECT_EQ(Samples(4).size(), 1u);
}

TEST_F(OutlineTemplatesTest, MaskIsOpaqueOnTheFrameAndBothDiagonalsOnly) {
  const std::string dictionary = Dictionary(5);
  for (const char* entry :
       {"/Subtype /Image", "/ColorSpace /DeviceGray", "/Width 256 ", "/Height 256 "}) {
    EXPECT_NE(dictionary.find(entry), std::string::npos) << entry << " in " << dictionary;
  }
  EXPECT_EQ(dictionary.find("/Decode"), std::string::npos) << "0 must mean transparent";
  const auto bitsAt = dictionary.find(kBitsKey);
  ASSERT_NE(bitsAt, std::string::npos) << dictionary;
  const auto bits =
      static_cast<std::size_t>(std::stoi(dictionary.substr(bitsAt + kBitsKey.size())));
  ASSERT_TRUE(bits == 1 || bits == 2 || bits == 4 || bits == 8) << bits;

  // Rows are whole bytes, top row first, samples most significant bit
  // first (ISO 32000-1, 8.9.3); opaque is the largest sample value.
  const std::string samples = Samples(5);
  const std::size_t rowBytes = (kMaskSize * bits + 7) / 8;
  ASSERT_EQ(samples.size(), kMaskSize * rowBytes);
  const unsigned full = (1u << bits) - 1;
  std::size_t wrong = 0;
  std::string firstWrong;
  for (std::size_t y = 0; y < kMaskSize; ++y) {
    for (std::size_t x = 0; x < kMaskSize; ++x) {
      const std::size_t bit = x * bits;
      const auto byte = static_cast<unsigned char>(samples[y * rowBytes + bit / 8]);
      const unsigned value = (byte >> (8 - bits - bit % 8)) & full;
      const std::size_t last = kMaskSize - 1;
      const bool frame = x == 0 || y == 0 || x == last || y == last;
      const bool diagonal = x == y || x + y == last;
      if (value == ((frame || diagonal) ? full : 0u)) continue;
      if (wrong == 0) {
        firstWrong = std::to_string(x) + "," + std::to_string(y) + " = " + std::to_string(value);
      }
      ++wrong;
    }
  }
  EXPECT_EQ(wrong, 0u) << "first wrong sample at " << firstWrong;
}

TEST(OutlineTemplates, ShipBesideTheExecutable) {
  const fs::path bin = fs::path(QUILLANE_EXE).parent_path();
  for (const char* name : {"otheroimg.dat", "otheromsk.dat"}) {
    EXPECT_EQ(test::ReadFileBytes(bin / name), SourceTemplate(name)) << name;
  }
}

}  // namespace
}  // namespace quillane
