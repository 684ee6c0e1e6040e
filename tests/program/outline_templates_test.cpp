// The outline mode's templates as shipped in data/: the body is a 1 x 1
// DeviceGray image whose soft mask is the extra object, and that mask is a
// 256 x 256 DeviceGray image, opaque on a one-sample frame and on both
// diagonals and transparent everywhere else. qpdf decodes the Flate streams,
// so the samples checked are the ones a PDF reader gets.
#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

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

// What a reader shows of a page whose only content is one full-page picture,
// rendered by pdftoppm at 72 dpi: in the outline mode almost the whole page
// stays white and the frame runs along every edge of the picture; the default
// mode's gray box covers it all.
TEST(OutlineRender, AFullPagePictureBecomesAThinFrame) {
  if (!test::ProgramAvailable("pdftoppm")) GTEST_SKIP() << "pdftoppm not installed";
  test::ScratchDir dir;
  const std::string content = "q 612 0 0 792 0 0 cm /Im0 Do Q";
  const std::string input =
      dir.Write("page.pdf", test::PdfBuilder()
                                .Object(1, 0, "<</Type/Catalog/Pages 2 0 R>>\n")
                                .Object(2, 0, "<</Type/Pages/Kids[3 0 R]/Count 1>>\n")
                                .Object(3, 0,
                                        "<</Type/Page/Parent 2 0 R/MediaBox[0 0 612 792]"
                                        "/Resources<</XObject<</Im0 4 0 R>>>>/Contents 5 0 R>>\n")
                                .Object(4, 0,
                                        "<</Type/XObject/Subtype/Image/Width 2/Height 2"
                                        "/ColorSpace/DeviceGray/BitsPerComponent 8/Length 4>>\n"
                                        "stream\n\x10\x20\x30\x40\nendstream\n")
                                .Object(5, 0,
                                        "<</Length " + std::to_string(content.size()) +
                                            ">>\nstream\n" + content + "\nendstream\n")
                                .Build());
  const struct {
    const char* mode;
    std::vector<std::string> flags;
    double maxDark;
    double minDark;
  } modes[] = {{"outline", {"/outline"}, 0.05, 0.0}, {"default", {}, 1.0, 0.99}};
  for (const auto& m : modes) {
    SCOPED_TRACE(m.mode);
    const std::string out = dir.File(std::string(m.mode) + ".pdf");
    std::vector<std::string> argv = {QUILLANE_EXE};
    argv.insert(argv.end(), m.flags.begin(), m.flags.end());
    argv.insert(argv.end(), {"/in", input, "/out", out});
    test::ProcessOptions options;
    options.env["QUILLANE_REGISTRY"] = dir.File("registry.reg");
    ASSERT_EQ(RunProcess(argv, options).exit_status, 0);
    const std::string prefix = dir.File(m.mode);
    ASSERT_EQ(RunProcess({"pdftoppm", "-r", "72", "-gray", "-singlefile", out, prefix}).exit_status,
              0);
    // A binary PGM: "P5", width, height, maximum, one byte a pixel.
    const std::string pgm = test::ReadFileBytes(prefix + ".pgm");
    std::istringstream header(pgm);
    std::string magic;
    std::size_t width = 0, height = 0, maximum = 0;
    header >> magic >> width >> height >> maximum;
    ASSERT_EQ(magic, "P5");
    const std::string pixels = pgm.substr(pgm.size() - width * height);
    auto dark = [&](std::size_t x, std::size_t y) {
      return static_cast<unsigned char>(pixels[y * width + x]) < 255;
    };
    std::size_t darkPixels = 0;
    for (std::size_t y = 0; y < height; ++y) {
      for (std::size_t x = 0; x < width; ++x) darkPixels += dark(x, y) ? 1U : 0U;
    }
    const double share = static_cast<double>(darkPixels) / static_cast<double>(width * height);
    EXPECT_LE(share, m.maxDark);
    EXPECT_GE(share, m.minDark);
    // The frame: every row has a dark pixel within two pixels of the left and
    // of the right edge, every column near the top and the bottom.
    auto nearEdge = [&](std::size_t x, std::size_t y, bool horizontal) {
      for (std::size_t d = 0; d < 3; ++d) {
        if (horizontal ? dark(d, y) && dark(width - 1 - d, y)
                       : dark(x, d) && dark(x, height - 1 - d)) {
          return true;
        }
      }
      return false;
    };
    std::size_t framedRows = 0, framedColumns = 0;
    for (std::size_t y = 0; y < height; ++y) framedRows += nearEdge(0, y, true) ? 1U : 0U;
    for (std::size_t x = 0; x < width; ++x) framedColumns += nearEdge(x, 0, false) ? 1U : 0U;
    EXPECT_GE(framedRows, height * 99 / 100);
    EXPECT_GE(framedColumns, width * 99 / 100);
  }
}

}  // namespace
}  // namespace quillane
