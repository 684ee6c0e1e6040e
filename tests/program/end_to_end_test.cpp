// End-to-end tests: the real quillane executable runs on small PDFs in a
// scratch folder, with its registry file and log file there too. Outputs are
// compared byte for byte with hand-written updates (CR LF visible); the input
// must be unchanged after every run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/usage.h"
#include "support/pdf_builder.h"
#include "support/test_util.h"

namespace quillane::test {
namespace {

namespace fs = std::filesystem;

// The shipped templates, as they must read.
const std::string kGrayBox =
    "<</Subtype/Image/Width 1/Height 1/ColorSpace/DeviceGray/BitsPerComponent 8/Decode[0 2.]"
    "/Length 1>>\nstream\nh\nendstream\n";
const std::string kTranslucentBoxTemplate =
    "<</Subtype/Image/Width 1/Height 1/ColorSpace/DeviceGray/BitsPerComponent 8/Decode[0 2.]"
    "/SMask ${EXTRAOBJNR} R/Length 1>>\nstream\nh\nendstream\n";
const std::string kMaskTemplate =
    "${EXTRAOBJNR} obj\n"
    "<</Type/XObject/Subtype/Image/Width 1/Height 1/ColorSpace/DeviceGray/BitsPerComponent 8"
    "/Length 1>>\nstream\nf\nendstream\nendobj\n";

// The translucent box body and the mask object for the extra object "9999 1".
const std::string kTranslucentBox9999 =
    "<</Subtype/Image/Width 1/Height 1/ColorSpace/DeviceGray/BitsPerComponent 8/Decode[0 2.]"
    "/SMask 9999 1 R/Length 1>>\nstream\nh\nendstream\n";
const std::string kMask9999 =
    "9999 1 obj\n"
    "<</Type/XObject/Subtype/Image/Width 1/Height 1/ColorSpace/DeviceGray/BitsPerComponent 8"
    "/Length 1>>\nstream\nf\nendstream\nendobj\n";

const std::string kEncryptedMessage =
    "Quillane: Quillane cannot handle this file, because the file is secured/encrypted.\n";
const std::string kExistsMessage = "Quillane: Target output file already exists\n";

// ---------------------------------------------------------------------------
// Expected updates, written out by hand: these only frame the literal parts
// every update shares (CR LF line ends in the section, LF in the objects).

// `body` as object `id` ("4 0") once for each id, in that order.
std::string Objects(const std::vector<std::string>& ids, const std::string& body) {
  std::string objects;
  for (const std::string& id : ids) objects += id + " obj\n" + body + "endobj\n";
  return objects;
}

// A closing cross-reference table with its subsections and trailer entries.
std::string TableSection(const std::string& subsections, const std::string& trailer,
                         const std::string& startxref) {
  return "xref\r\n" + subsections + "trailer\r\n<<\r\n" + trailer + ">>\r\nstartxref\r\n" +
         startxref + "\r\n%%EOF\r\n";
}

// A closing cross-reference stream, object `id` ("9 0"), with the dictionary
// entries after /W and its binary entries.
std::string StreamSection(const std::string& id, const std::string& entries,
                          const std::string& data, const std::string& startxref) {
  return id + " obj\r\n<<\r\n/Type/XRef\r\n/W[1 4 2]\r\n" + entries + ">>\r\nstream\r\n" + data +
         "endstream\r\nendobj\r\nstartxref\r\n" + startxref + "\r\n%%EOF\r\n";
}

// The update of the translucent mode (and of the outline mode given the same
// templates) for TwoImages(): both images, then the mask as object 9999 1.
std::string TranslucentTableUpdate() {
  return Objects({"4 0", "5 0"}, kTranslucentBox9999) + kMask9999 +
         TableSection(
             "4 1\r\n"
             "0000000876 00000 n\r\n"
             "5 1\r\n"
             "0000001024 00000 n\r\n"
             "9999 1\r\n"
             "0000001172 00001 n\r\n",
             "/Prev 645\r\n"
             "/Root 1 0 R\r\n"
             "/Size 10000\r\n"
             "/Info 7 0 R\r\n",
             "1308");
}

std::string TranslucentStreamUpdate() {
  return Objects({"4 0", "5 0"}, kTranslucentBox9999) + kMask9999 +
         StreamSection("9 0",
                       "/Root 1 0 R\r\n"
                       "/Prev 645\r\n"
                       "/Length 28\r\n"
                       "/Size 10000\r\n"
                       "/Index [4 1 5 1 9999 1 9 1]\r\n"
                       "/Info 7 0 R\r\n",
                       std::string("\x01\x00\x00\x03"
                                   "C\x00\x00"
                                   "\x01\x00\x00\x03\xD7\x00\x00"
                                   "\x01\x00\x00\x04k\x00\x01"
                                   "\x01\x00\x00\x04\xF3\x00\x00",
                                   28),
                       "1267");
}

// ---------------------------------------------------------------------------
// Documents

const std::string kCatalog = "<</Type/Catalog/Pages 2 0 R>>\n";
const std::string kPages = "<</Type/Pages/Kids[3 0 R]/Count 1>>\n";

std::string Page(const std::string& xobjects) {
  return "<</Type/Page/Parent 2 0 R/MediaBox[0 0 200 100]/Resources<</XObject<<" + xobjects +
         ">>>>/Contents 6 0 R>>\n";
}

std::string ContentStream(const std::string& data) {
  return "<</Length " + std::to_string(data.size()) + ">>\nstream\n" + data + "\nendstream\n";
}

const std::string kTwoImagesContent =
    "q 80 0 0 80 10 10 cm /Im1 Do Q q 80 0 0 80 110 10 cm /Im2 Do Q";

// Two pixels, red and blue; "/Subtype/Image" without a blank.
const std::string kRgbImage =
    "<</Type/XObject/Subtype/Image/Width 2/Height 1/ColorSpace/DeviceRGB/BitsPerComponent 1"
    "/Length 1>>\nstream\n\x84\nendstream\n";
// One grey pixel; "/Subtype /Image" with a blank.
const std::string kGreyImage =
    "<</Type/XObject/Subtype /Image/Width 1/Height 1/ColorSpace/DeviceGray/BitsPerComponent 8"
    "/Length 1>>\nstream\n\x80\nendstream\n";

// One page showing image objects 4 and 5, document information in object 7.
PdfBuilder TwoImages(XrefForm form) {
  PdfBuilder pdf;
  pdf.Object(1, 0, kCatalog)
      .Object(2, 0, kPages)
      .Object(3, 0, Page("/Im1 4 0 R/Im2 5 0 R"))
      .Object(4, 0, kRgbImage)
      .Object(5, 0, kGreyImage)
      .Object(6, 0, ContentStream(kTwoImagesContent))
      .Object(7, 0, "<</Title(Two images)>>\n")
      .Form(form)
      .TrailerEntries("/Info 7 0 R");
  return pdf;
}

// The log of a default run over TwoImages: the section lookups given, then
// both images found and replaced, then the output's path.
std::vector<std::string> TwoImagesLog(std::vector<std::string> lookups, const std::string& out) {
  lookups.insert(lookups.end(), {"Found image @ 268", "obj@235", "Number: 4#0", "object: 400000",
                                 "Found image @ 401", "obj@367", "Number: 5#0", "object: 500000",
                                 "output: " + out});
  return lookups;
}

// A page without any image.
PdfBuilder NoImages(XrefForm form) {
  PdfBuilder pdf;
  pdf.Object(1, 0, kCatalog)
      .Object(2, 0, kPages)
      .Object(3, 0, Page(""))
      .Object(6, 0, ContentStream("0 0 1 rg 10 10 50 50 re f"))
      .Form(form);
  return pdf;
}

// ---------------------------------------------------------------------------
// Fixture

class EndToEndTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const auto& [path, bytes] : inputs_) {
      EXPECT_TRUE(BytesEqual(bytes, ReadFileBytes(path))) << "input changed: " << path;
    }
  }

  // Writes an input file into the scratch folder and remembers its bytes, so
  // that TearDown can check that no run touched it.
  std::string Input(const std::string& name, const std::string& bytes) {
    const std::string path = dir_.File(name);
    fs::create_directories(fs::path(path).parent_path());
    WriteFileBytes(path, bytes);
    inputs_.emplace_back(path, bytes);
    return path;
  }

  // Stores "ReplaceObject" in the registry file the runs use.
  void SetReplaceObject(const std::string& value) {
    WriteFileBytes(registry_, RegistryWithReplaceObject(value));
  }

  // Runs `exe` (the built executable unless given) with the scratch registry,
  // log file and temporary folder. A sanitizer report fails the test.
  ProcessResult Quillane(const std::vector<std::string>& args,
                         const std::string& exe = QUILLANE_EXE, const fs::path& cwd = {}) {
    fs::remove(log_);
    std::vector<std::string> argv{exe};
    argv.insert(argv.end(), args.begin(), args.end());
    ProcessOptions options;
    options.env["QUILLANE_REGISTRY"] = registry_;
    options.env["QUILLANE_LOG"] = log_;
    options.env["TMPDIR"] = dir_.Path().string();
    options.cwd = cwd;
    ProcessResult result = RunProcess(argv, options);
    EXPECT_EQ(result.signal, 0) << result.err;
    EXPECT_EQ(result.err.find("Sanitizer"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("runtime error"), std::string::npos) << result.err;
    return result;
  }

  // Runs quillane and expects a clean exit without any message.
  void ExpectRunSucceeds(const std::vector<std::string>& args) {
    const ProcessResult result = Quillane(args);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, "");
  }

  // Writes `input` as name.pdf, runs quillane on it with `flags` before "/in",
  // expects a clean run, and returns the output's path, name_Vexlo.pdf.
  std::string RunOn(const std::string& name, const std::string& input,
                    std::vector<std::string> flags = {}) {
    flags.insert(flags.end(), {"/in", Input(name + ".pdf", input)});
    ExpectRunSucceeds(flags);
    return dir_.File(name + "_Vexlo.pdf");
  }

  // The names in the scratch folder, sorted, without the log file.
  std::vector<std::string> FolderContent() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_.Path())) {
      if (entry.path() != log_) names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    if (!fs::exists(log_)) return lines;
    const std::string text = ReadFileBytes(log_);
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
      lines.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(start, text.size()) << "log does not end with a line end";
    return lines;
  }

  // A copy of the executable in its own folder with the given templates
  // (name, content); returns the copy's path.
  std::string ExecutableWithTemplates(
      const std::vector<std::pair<std::string, std::string>>& templates) {
    const fs::path bin = dir_.Path() / "bin";
    fs::create_directories(bin);
    const fs::path exe = bin / "quillane";
    fs::copy_file(QUILLANE_EXE, exe);
    for (const auto& [name, content] : templates) WriteFileBytes(bin / name, content);
    return exe.string();
  }

  // qpdf --check must report no error and no warning (skipped without qpdf).
  void ExpectQpdfClean(const std::string& path) {
    if (!ProgramAvailable("qpdf")) {
      std::fprintf(stderr, "qpdf not installed; check of %s skipped\n", path.c_str());
      return;
    }
    const ProcessResult check = RunProcess({"qpdf", "--check", path});
    EXPECT_EQ(check.exit_status, 0) << path << "\n" << check.out << check.err;
    EXPECT_EQ(check.err, "") << path;
  }

  ScratchDir dir_;
  std::string registry_ = dir_.File("registry.reg");
  std::string log_ = dir_.File("quillane.log");
  std::vector<std::pair<std::string, std::string>> inputs_;
};

// ---------------------------------------------------------------------------
// The inputs: what the builder makes is sound PDF, so that the checks of the
// outputs below test the update alone.

TEST_F(EndToEndTest, BuilderMakesDocumentsQpdfAccepts) {
  if (!ProgramAvailable("qpdf")) GTEST_SKIP() << "qpdf not installed";
  for (const XrefForm form : {XrefForm::kTable, XrefForm::kStream}) {
    const bool table = form == XrefForm::kTable;
    SCOPED_TRACE(table ? "table" : "stream");
    const std::string prefix = table ? "table-" : "stream-";
    ExpectQpdfClean(Input(prefix + "two.pdf", TwoImages(form).Build()));
    ExpectQpdfClean(Input(prefix + "none.pdf", NoImages(form).Build()));
    // Sparse numbers (several subsections) and an incremental update.
    ExpectQpdfClean(Input(prefix + "update.pdf", TwoImages(form)
                                                     .Object(30000, 0, "<</Unused true>>\n")
                                                     .Update()
                                                     .Object(4, 0, kGreyImage)
                                                     .Object(8, 0, "<</Added true>>\n")
                                                     .Build()));
  }
}

// ---------------------------------------------------------------------------
// The main job, both cross-reference forms

TEST_F(EndToEndTest, TemplatesShipBesideTheExecutable) {
  const fs::path bin = fs::path(QUILLANE_EXE).parent_path();
  EXPECT_TRUE(BytesEqual(kGrayBox, ReadFileBytes(bin / "otherimg.dat")));
  EXPECT_TRUE(BytesEqual(kTranslucentBoxTemplate, ReadFileBytes(bin / "othertimg.dat")));
  EXPECT_TRUE(BytesEqual(kMaskTemplate, ReadFileBytes(bin / "othertmsk.dat")));
  const fs::path data = fs::path(QUILLANE_SOURCE_DIR) / "data";
  EXPECT_TRUE(BytesEqual(kGrayBox, ReadFileBytes(data / "otherimg.dat")));
  EXPECT_TRUE(BytesEqual(kTranslucentBoxTemplate, ReadFileBytes(data / "othertimg.dat")));
  EXPECT_TRUE(BytesEqual(kMaskTemplate, ReadFileBytes(data / "othertmsk.dat")));
}

TEST_F(EndToEndTest, DefaultModeTableFormReplacesEachImageAndKeepsInfo) {
  const std::string input = TwoImages(XrefForm::kTable).Build();
  ASSERT_EQ(input.size(), 876u);

  const std::string out = RunOn("two", input);

  const std::string expected = input + Objects({"4 0", "5 0"}, kGrayBox) +
                               TableSection(
                                   "4 1\r\n"
                                   "0000000876 00000 n\r\n"
                                   "5 1\r\n"
                                   "0000001009 00000 n\r\n",
                                   "/Prev 645\r\n"
                                   "/Root 1 0 R\r\n"
                                   "/Size 8\r\n"
                                   "/Info 7 0 R\r\n",
                                   "1142");
  EXPECT_TRUE(BytesEqual(expected, ReadFileBytes(out)));
  EXPECT_EQ(
      LogLines(),
      TwoImagesLog({"(startxre)f @ 864", "xref header: 'xref'", "reached dict end @ 853"}, out));
  ExpectQpdfClean(out);
}

TEST_F(EndToEndTest, DefaultModeStreamFormReplacesEachImageAndKeepsInfo) {
  const std::string input = TwoImages(XrefForm::kStream).Build();
  ASSERT_EQ(input.size(), 835u);

  const std::string out = RunOn("two", input);

  const std::string expected = input + Objects({"4 0", "5 0"}, kGrayBox) +
                               StreamSection("9 0",
                                             "/Root 1 0 R\r\n"
                                             "/Prev 645\r\n"
                                             "/Length 21\r\n"
                                             "/Size 10\r\n"
                                             "/Index [4 1 5 1 9 1]\r\n"
                                             "/Info 7 0 R\r\n",
                                             std::string("\x01\x00\x00\x03"
                                                         "C\x00\x00"
                                                         "\x01\x00\x00\x03\xC8\x00\x00"
                                                         "\x01\x00\x00\x04M\x00\x00",
                                                         21),
                                             "1101");
  EXPECT_TRUE(BytesEqual(expected, ReadFileBytes(out)));
  EXPECT_EQ(LogLines(),
            TwoImagesLog({"(startxre)f @ 823", "xref header: '8'", "reached dict end @ 724"}, out));
  ExpectQpdfClean(out);
}

// The writer's worked example: a 5000-byte input whose last trailer gives
// /Size 40 and /Root 1 0 R, whose startxref gives 4000, with images 12 and 15
// and a 100-byte body template.
class WorkedExampleTest : public EndToEndTest {
 protected:
  static std::string Input5000(XrefForm form) {
    auto build = [form](std::size_t comment, std::size_t blanks) {
      PdfBuilder pdf;
      pdf.Object(1, 0, kCatalog)
          .Object(2, 0, "<</Type/Pages/Kids[3 0 R]/Count 1>>\n")
          .Object(3, 0, Page("/A 12 0 R/B 15 0 R"))
          .Object(12, 0, kRgbImage)
          .Object(15, 0, kGreyImage)
          .Raw("%" + std::string(comment, '-') + "\n")
          .Form(form)
          .Size(40)
          .StreamNumber(39)
          .LeadingEntries(std::string(blanks, ' '));
      return pdf.Build();
    };
    // Pads the comment so that the section starts at 4000 and the blanks in
    // the dictionary so that the file ends at 5000.
    const std::string probe = build(0, 0);
    const std::size_t comment = 4000 - probe.find(form == XrefForm::kTable ? "xref" : "39 0 obj");
    return build(comment, 5000 - build(comment, 0).size());
  }

  // A one-pixel stencil mask, padded with blanks to 100 bytes.
  static std::string Template100() {
    std::string body =
        "<</Type/XObject/Subtype/Image/Width 1/Height 1/ImageMask true/Length 1>>\n"
        "stream\n\x80\nendstream\n";
    body.insert(body.find("/Length"), 100 - body.size(), ' ');
    return body;
  }
  // Runs a copy of the executable whose box template is Template100() on
  // `input` (example.pdf) and returns the output's bytes.
  std::string RunExample(const std::string& input) {
    const std::string exe = ExecutableWithTemplates({{"otherimg.dat", Template100()}});
    const ProcessResult result = Quillane({"/in", Input("example.pdf", input)}, exe);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.err, "");
    return ReadFileBytes(dir_.File("example_Vexlo.pdf"));
  }
};

TEST_F(WorkedExampleTest, TableForm) {
  const std::string input = Input5000(XrefForm::kTable);
  ASSERT_EQ(input.size(), 5000u);
  ASSERT_EQ(input.substr(4000, 4), "xref");
  ASSERT_EQ(Template100().size(), 100u);

  const std::string expected = input + Objects({"12 0", "15 0"}, Template100()) +
                               TableSection(
                                   "12 1\r\n"
                                   "0000005000 00000 n\r\n"
                                   "15 1\r\n"
                                   "0000005116 00000 n\r\n",
                                   "/Prev 4000\r\n"
                                   "/Root 1 0 R\r\n"
                                   "/Size 40\r\n",
                                   "5232");
  EXPECT_TRUE(BytesEqual(expected, RunExample(input)));
}

TEST_F(WorkedExampleTest, StreamForm) {
  const std::string input = Input5000(XrefForm::kStream);
  ASSERT_EQ(input.size(), 5000u);
  ASSERT_EQ(input.substr(4000, 8), "39 0 obj");

  const std::string expected = input + Objects({"12 0", "15 0"}, Template100()) +
                               StreamSection("40 0",
                                             "/Root 1 0 R\r\n"
                                             "/Prev 4000\r\n"
                                             "/Length 21\r\n"
                                             "/Size 41\r\n"
                                             "/Index [12 1 15 1 40 1]\r\n",
                                             std::string("\x01\x00\x00\x13\x88\x00\x00"
                                                         "\x01\x00\x00\x13\xFC\x00\x00"
                                                         "\x01\x00\x00\x14\x70\x00\x00",
                                                         21),
                                             "5232");
  EXPECT_TRUE(BytesEqual(expected, RunExample(input)));
}

// ---------------------------------------------------------------------------
// The translucent box ("tgraybox") and the light mode ("none", "/noother")

TEST_F(EndToEndTest, TranslucentBoxTableFormWinsOverNoOther) {
  SetReplaceObject("tgraybox");
  const std::string input = TwoImages(XrefForm::kTable).Build();

  const std::string out = RunOn("two", input, {"/noother"});

  const std::string expected = input + TranslucentTableUpdate();
  EXPECT_TRUE(BytesEqual(expected, ReadFileBytes(out)));
  ExpectQpdfClean(out);
}

TEST_F(EndToEndTest, TranslucentBoxStreamForm) {
  SetReplaceObject("tgraybox");
  const std::string input = TwoImages(XrefForm::kStream).Build();

  const std::string out = RunOn("two", input);

  const std::string expected = input + TranslucentStreamUpdate();
  EXPECT_TRUE(BytesEqual(expected, ReadFileBytes(out)));
  ExpectQpdfClean(out);
}

// The outline mode, chosen by "/outline" or by "ReplaceObject" = "outline",
// writes what the translucent mode writes, from its own two files: given the
// translucent templates under the outline names, its updates are the
// translucent ones byte for byte, in both forms.
TEST_F(EndToEndTest, OutlineModeByOptionOrSettingInBothForms) {
  const std::string exe = ExecutableWithTemplates(
      {{"otheroimg.dat", kTranslucentBoxTemplate}, {"otheromsk.dat", kMaskTemplate}});
  const std::string table = TwoImages(XrefForm::kTable).Build();
  const std::string stream = TwoImages(XrefForm::kStream).Build();
  const struct {
    const char* name;
    const char* stored;
    std::vector<std::string> flags;
  } selections[] = {
      {"option", "", {"/outline"}},
      {"setting", "outline", {}},
      // The stored mode wins over "/noother", as it does for the translucent mode.
      {"setting-over-noother", "outline", {"/noother"}},
  };
  for (const auto& selection : selections) {
    SetReplaceObject(selection.stored);
    for (const bool isTable : {true, false}) {
      SCOPED_TRACE(std::string(selection.name) + (isTable ? " table" : " stream"));
      const std::string& input = isTable ? table : stream;
      const std::string out = dir_.File(std::string(selection.name) + (isTable ? "-t" : "-s"));
      std::vector<std::string> args = selection.flags;
      args.insert(args.end(),
                  {"/in", Input(isTable ? "table.pdf" : "stream.pdf", input), "/out", out});
      const ProcessResult result = Quillane(args, exe);
      EXPECT_EQ(result.exit_status, 0) << result.err;
      EXPECT_TRUE(
          BytesEqual(input + (isTable ? TranslucentTableUpdate() : TranslucentStreamUpdate()),
                     ReadFileBytes(out)));
    }
  }
}

TEST_F(EndToEndTest, ReplaceObjectValuesCompareCaseSensitively) {
  SetReplaceObject("None");
  const std::string input = TwoImages(XrefForm::kTable).Build();

  const std::string out = RunOn("two", input);

  // Not the light mode: the default update follows the input.
  EXPECT_TRUE(ReadFileBytes(out).starts_with(input + "4 0 obj\n"));
}

// The light mode needs no template and does not read the end of the file, so
// an encrypted document is renamed like any other, and hits inside stream
// data are renamed too.
TEST_F(EndToEndTest, LightModeRenamesEveryImageSubtypeInPlace) {
  const std::string exe = ExecutableWithTemplates({});
  struct Case {
    std::string name;
    std::vector<std::string> flags;
    std::string registry;
  };
  for (const Case& c : {Case{"noother", {"/noother"}, ""}, Case{"registry", {}, "none"}}) {
    SCOPED_TRACE(c.name);
    if (!c.registry.empty()) SetReplaceObject(c.registry);
    const std::string input =
        TwoImages(XrefForm::kTable).TrailerEntries("/Info 7 0 R/Encrypt 9 0 R").Build();
    const std::string in = Input(c.name + ".pdf", input);
    std::vector<std::string> args = c.flags;
    args.insert(args.end(), {"/in", in});

    const ProcessResult result = Quillane(args, exe);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.err, "");

    std::string expected = input;
    for (const std::size_t image_name : {263u, 396u}) {
      ASSERT_EQ(expected.substr(image_name, 5), "Image");
      expected.replace(image_name, 5, "Vexlo");
    }
    const std::string out = dir_.File(c.name + "_Vexlo.pdf");
    EXPECT_TRUE(BytesEqual(expected, ReadFileBytes(out)));
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"Found image @ 268", "Found image @ 401",
                                                    "output: " + out}));
  }
}

// ---------------------------------------------------------------------------
// Reading the last section: keys after nested dictionaries and after names,
// and sections that are not where startxref says

// Cross-reference stream dictionaries often open with /DecodeParms<<...>>;
// the keys after the nested dictionary must still be found.
TEST_F(EndToEndTest, XrefStreamDictionaryOpeningWithDecodeParms) {
  const std::string input =
      TwoImages(XrefForm::kStream).LeadingEntries("/DecodeParms<</Columns 7/Predictor 1>>").Build();

  const std::string out = RunOn("decodeparms", input);

  const std::string expected = input + Objects({"4 0", "5 0"}, kGrayBox) +
                               StreamSection("9 0",
                                             "/Root 1 0 R\r\n"
                                             "/Prev 645\r\n"
                                             "/Length 21\r\n"
                                             "/Size 10\r\n"
                                             "/Index [4 1 5 1 9 1]\r\n"
                                             "/Info 7 0 R\r\n",
                                             std::string("\x01\x00\x00\x03i\x00\x00"
                                                         "\x01\x00\x00\x03\xEE\x00\x00"
                                                         "\x01\x00\x00\x04s\x00\x00",
                                                         21),
                                             "1139");
  EXPECT_TRUE(BytesEqual(expected, ReadFileBytes(out)));
  ExpectQpdfClean(out);
}

// A key written right after a name value ("/Plain/Size") is read as a key.
TEST_F(EndToEndTest, KeyDirectlyAfterANameValueIsFound) {
  const std::string input = TwoImages(XrefForm::kTable).LeadingEntries("/Kind /Plain").Build();

  const std::string output = ReadFileBytes(RunOn("names", input));

  EXPECT_NE(output.find("/Size 8\r\n", input.size()), std::string::npos)
      << EscapeBytes(output.substr(input.size()));
}

TEST_F(EndToEndTest, EncryptedInputIsRefused) {
  struct Case {
    std::string name;
    PdfBuilder pdf;
  };
  for (Case& c : std::vector<Case>{
           {"table", TwoImages(XrefForm::kTable).TrailerEntries("/Encrypt 9 0 R/ID[<01><01>]")},
           {"stream", TwoImages(XrefForm::kStream).TrailerEntries("/Encrypt 9 0 R/ID[<01><01>]")},
           {"decodeparms", TwoImages(XrefForm::kStream)
                               .LeadingEntries("/DecodeParms<</Columns 7/Predictor 1>>")
                               .TrailerEntries("/Encrypt 9 0 R/ID[<01><01>]")},
       }) {
    SCOPED_TRACE(c.name);
    const std::string in = Input(c.name + ".pdf", c.pdf.Build());

    const ProcessResult result = Quillane({"/in", in});
    EXPECT_EQ(result.exit_status, 3);  // refused
    EXPECT_EQ(result.err, kEncryptedMessage);
    EXPECT_FALSE(fs::exists(dir_.File(c.name + "_Vexlo.pdf")));
    const std::vector<std::string> log = LogLines();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "Encrypt obj: 9");
  }
}

// ---------------------------------------------------------------------------
// "/compact": a new, complete file

// Every object the document uses, byte for byte from the input, the images
// as placeholders, one section in the input's form; in each mode, and with
// the repair of a file whose section is lost.
TEST_F(EndToEndTest, CompactFileKeepsEveryUsedObjectByteForByte) {
  struct Case {
    std::string name;
    std::string pdf;
    std::vector<std::string> flags;
    std::string mode;  // the stored "ReplaceObject"
    const char* sectionStart;
  };
  const std::string table = TwoImages(XrefForm::kTable).Build();
  for (const Case& c : std::vector<Case>{
           {"table", table, {}, "", "xref\r\n0 8\r\n"},
           {"stream", TwoImages(XrefForm::kStream).Build(), {}, "", "/Type/XRef"},
           {"outline", table, {"/outline"}, "", "xref\r\n0 8\r\n"},
           {"translucent", table, {}, "tgraybox", "xref\r\n0 8\r\n"},
           {"inline", table, {"/inline"}, "", "xref\r\n0 8\r\n"},
           {"repaired",
            TwoImages(XrefForm::kTable).Prefix("JUNKJUNK").Build(),
            {},
            "",
            "xref\r\n0 8\r\n"},
       }) {
    SCOPED_TRACE(c.name);
    SetReplaceObject(c.mode);
    std::vector<std::string> flags = c.flags;
    flags.push_back("/compact");
    const std::string out = RunOn(c.name, c.pdf, flags);
    const std::string output = ReadFileBytes(out);
    EXPECT_EQ(output.substr(0, 10), "%PDF-1.4\n%");
    for (const char* header : {"1 0 obj", "2 0 obj", "3 0 obj", "6 0 obj", "7 0 obj"}) {
      const std::size_t start = c.pdf.find(header);
      const std::size_t end = c.pdf.find("endobj", start) + 6;
      EXPECT_NE(output.find(c.pdf.substr(start, end - start)), std::string::npos) << header;
    }
    EXPECT_EQ(output.find(kRgbImage), std::string::npos);
    EXPECT_EQ(output.find(kGreyImage), std::string::npos);
    EXPECT_NE(output.find(c.sectionStart), std::string::npos);
    EXPECT_NE(output.find("/Info 7 0 R"), std::string::npos);
    EXPECT_EQ(output.find("/Prev"), std::string::npos);
    EXPECT_EQ(output.find("JUNK"), std::string::npos);
    const std::vector<std::string> log = LogLines();
    EXPECT_NE(std::find(log.begin(), log.end(), "Compact: 5 objects copied, 2 images replaced"),
              log.end());
    ExpectQpdfClean(out);
  }
}

// A signature no longer covers the file, and the log says so; an encrypted
// file is refused as without the option.
TEST_F(EndToEndTest, CompactFileOfSignedOrEncryptedDocuments) {
  const std::string signedPdf =
      PdfBuilder()
          .Object(1, 0, "<</Type/Catalog/Pages 2 0 R/AcroForm<</Fields[8 0 R]/SigFlags 3>>>>\n")
          .Object(2, 0, kPages)
          .Object(3, 0, Page("/Im1 4 0 R"))
          .Object(4, 0, kRgbImage)
          .Object(6, 0, ContentStream("q 10 0 0 10 0 0 cm /Im1 Do Q"))
          .Object(8, 0, "<</FT/Sig/T(s)/V 9 0 R/Rect[0 0 0 0]/Subtype/Widget/P 3 0 R>>\n")
          .Object(9, 0, "<</Type/Sig/Filter/Adobe.PPKLite/ByteRange[0 1 2 3]/Contents<00>>>\n")
          .Build();
  const std::string out = RunOn("signed", signedPdf, {"/compact"});
  const std::vector<std::string> log = LogLines();
  EXPECT_NE(std::find(log.begin(), log.end(), "Signatures no longer valid: 1"), log.end());
  EXPECT_NE(ReadFileBytes(out).find("/ByteRange[0 1 2 3]"), std::string::npos);

  const std::string in =
      Input("encrypted.pdf",
            TwoImages(XrefForm::kTable).TrailerEntries("/Encrypt 9 0 R/ID[<01><01>]").Build());
  const ProcessResult result = Quillane({"/compact", "/in", in});
  EXPECT_EQ(result.exit_status, 3);
  EXPECT_EQ(result.err, kEncryptedMessage);
  EXPECT_FALSE(fs::exists(dir_.File("encrypted_Vexlo.pdf")));
}

// Replaces the number after the last "startxref" line.
std::string WithStartxref(std::string pdf, std::size_t offset) {
  const std::size_t number = pdf.rfind("startxref\n") + 10;
  pdf.replace(number, pdf.find('\n', number) - number, std::to_string(offset));
  return pdf;
}

TEST_F(EndToEndTest, CommentAtTheSectionOffsetIsSkipped) {
  const std::string built = TwoImages(XrefForm::kTable).Raw("% cross-reference table\n").Build();
  const std::size_t comment = built.find("% cross-reference table");
  const std::string input = WithStartxref(built, comment);

  const std::string output = ReadFileBytes(RunOn("comment", input));

  EXPECT_NE(output.find("/Prev " + std::to_string(comment) + "\r\n", input.size()),
            std::string::npos);
  const std::vector<std::string> log = LogLines();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[1], "xref header: 'xref'");
}

// Where startxref does not lead to a table or a cross-reference stream, the
// run fails and writes nothing.
// A file whose last section cannot be found is repaired in the update: its
// objects found by scanning, a complete section after the placeholders, the
// rebuilt line logged before the walk's lines; readers follow it without
// reconstructing.
TEST_F(EndToEndTest, MissingSectionIsRepairedInTheUpdate) {
  const std::string table = TwoImages(XrefForm::kTable).Build();
  const std::string stream = TwoImages(XrefForm::kStream).Build();
  const std::size_t xref = table.find("xref\n");
  PdfBuilder packed = TwoImages(XrefForm::kStream);
  packed.ObjectStream(8, {{9, "<</Producer(packed)>>"}}, "", true);
  struct Case {
    std::string name;
    std::string pdf;
    std::string header;  // the "xref header" line logged
    int listed;          // objects the new section lists
  };
  for (const Case& c : std::vector<Case>{
           // Offsets counted from the header, eight bytes of junk before it.
           {"junk-before-header", TwoImages(XrefForm::kTable).Prefix("JUNKJUNK").Build(), "endobj",
            7},
           {"object-not-a-stream", WithStartxref(table, table.find("4 0 obj")), "4", 7},
           {"beyond-the-end", WithStartxref(table, 99999), "", 7},
           {"middle-of-a-word", WithStartxref(table, xref + 1), "ref", 7},
           {"cut-in-the-trailer", table.substr(0, table.find("/Root", xref)), "4", 7},
           // The stream's own object is found too, and the new stream lists
           // itself.
           {"stream-off-by-two", WithStartxref(stream, stream.rfind("8 0 obj") - 2), "j", 9},
           {"object-stream", WithStartxref(packed.Build(), 3), "F-1.4", 11},
       }) {
    SCOPED_TRACE(c.name);
    const std::string out = RunOn(c.name, c.pdf);
    const std::string output = ReadFileBytes(out);
    EXPECT_EQ(output.substr(0, c.pdf.size()), c.pdf);
    const std::vector<std::string> log = LogLines();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log[1], "xref header: '" + c.header + "'");
    EXPECT_EQ(log[2], "Cross-reference rebuilt: " + std::to_string(c.listed) + " objects");
    EXPECT_EQ(log[3].rfind("Found image @ ", 0), 0u) << log[3];
    EXPECT_EQ(output.find("/Prev", c.pdf.size()), std::string::npos);
    ExpectQpdfClean(out);
  }
}

// The new section byte for byte: every object found at its place, the two
// placeholders after the input, the trailer's /Root and /Info kept.
TEST_F(EndToEndTest, RepairedTableListsEveryObjectFound) {
  const std::string built = TwoImages(XrefForm::kTable).Build();
  const std::string input = WithStartxref(built, built.find("xref\n") + 1);
  const std::string out = RunOn("repaired", input);
  const auto entry = [](std::size_t position) {
    const std::string offset = std::to_string(position);
    return std::string(10 - offset.size(), '0') + offset + " 00000 n\r\n";
  };
  const auto at = [&input, &entry](const char* header) { return entry(input.find(header)); };
  const std::size_t first = input.size();
  const std::size_t second = first + Objects({"4 0"}, kGrayBox).size();
  const std::size_t section = second + Objects({"5 0"}, kGrayBox).size();
  const std::string expected =
      input + Objects({"4 0", "5 0"}, kGrayBox) + "xref\r\n0 8\r\n0000000000 65535 f\r\n" +
      at("1 0 obj") + at("2 0 obj") + at("3 0 obj") + entry(first) + entry(second) + at("6 0 obj") +
      at("7 0 obj") + "trailer\r\n<<\r\n/Size 8\r\n/Root 1 0 R\r\n/Info 7 0 R\r\n>>\r\n" +
      "startxref\r\n" + std::to_string(section) + "\r\n%%EOF\r\n";
  EXPECT_TRUE(BytesEqual(expected, ReadFileBytes(out)));
}

// Nothing to repair from: the error of the reading stands and nothing is
// written; an encrypted file found by the repair is refused as ever.
TEST_F(EndToEndTest, UnrecoverableOrEncryptedDamagedFilesAreNotWritten) {
  const std::string noCatalog = PdfBuilder().Object(5, 0, "<</Producer(x)>>\n").Root("").Build();
  struct Case {
    std::string name;
    std::string pdf;
    int status;
    std::string err;
  };
  for (const Case& c : std::vector<Case>{
           {"no-objects", "%PDF-x\n%no object, no number\n", 1,
            "Quillane: No startxref offset found at the end of the file; it is not a PDF file or "
            "it is damaged.\n"},
           {"no-catalog", WithStartxref(noCatalog, 3), 1,
            "Quillane: No cross-reference section found at offset 3; the file may be damaged.\n"},
           {"encrypted",
            WithStartxref(
                TwoImages(XrefForm::kTable).TrailerEntries("/Encrypt 9 0 R/ID[<01><01>]").Build(),
                3),
            3, kEncryptedMessage},
       }) {
    SCOPED_TRACE(c.name);
    const std::string in = Input(c.name + ".pdf", c.pdf);
    const ProcessResult result = Quillane({"/in", in});
    EXPECT_EQ(result.exit_status, c.status);
    EXPECT_EQ(result.err, c.err);
    EXPECT_FALSE(fs::exists(dir_.File(c.name + "_Vexlo.pdf")));
  }
}

// ---------------------------------------------------------------------------
// Writing the update: the extra object's number, empty sections, object
// numbers beyond 32-bit keys, repeated keys and generations

// The extra object never takes a number the document may use, and /Size
// covers it.
TEST_F(EndToEndTest, ExtraObjectAboveLargeTrailerSize) {
  SetReplaceObject("tgraybox");
  const std::string mask =
      "<</Type/XObject/Subtype/Image/Width 1/Height 1/ColorSpace/DeviceGray/BitsPerComponent 8"
      "/Length 1>>\nstream\nf\nendstream\n";
  for (const XrefForm form : {XrefForm::kTable, XrefForm::kStream}) {
    const bool table = form == XrefForm::kTable;
    SCOPED_TRACE(table ? "table" : "stream");
    const std::string input = TwoImages(form).Size(12000).Build();

    const std::string out = RunOn(table ? "large-table" : "large-stream", input);

    const std::string expected =
        input + (table ? Objects({"4 0", "5 0"},
                                 "<</Subtype/Image/Width 1/Height 1/ColorSpace/DeviceGray"
                                 "/BitsPerComponent 8/Decode[0 2.]/SMask 12000 1 R/Length 1>>\n"
                                 "stream\n"
                                 "h\n"
                                 "endstream\n") +
                             Objects({"12000 1"}, mask) +
                             TableSection("4 1\r\n"
                                          "0000000880 00000 n\r\n"
                                          "5 1\r\n"
                                          "0000001029 00000 n\r\n"
                                          "12000 1\r\n"
                                          "0000001178 00001 n\r\n",
                                          "/Prev 645\r\n"
                                          "/Root 1 0 R\r\n"
                                          "/Size 12001\r\n"
                                          "/Info 7 0 R\r\n",
                                          "1315")
                       : Objects({"4 0", "5 0"},
                                 "<</Subtype/Image/Width 1/Height 1/ColorSpace/DeviceGray"
                                 "/BitsPerComponent 8/Decode[0 2.]/SMask 12001 1 R/Length 1>>\n"
                                 "stream\n"
                                 "h\n"
                                 "endstream\n") +
                             Objects({"12001 1"}, mask) +
                             StreamSection("12000 0",
                                           "/Root 1 0 R\r\n"
                                           "/Prev 645\r\n"
                                           "/Length 28\r\n"
                                           "/Size 12002\r\n"
                                           "/Index [4 1 5 1 12001 1 12000 1]\r\n"
                                           "/Info 7 0 R\r\n",
                                           std::string("\x01\x00\x00\x03G\x00\x00"
                                                       "\x01\x00\x00\x03\xDC\x00\x00"
                                                       "\x01\x00\x00\x04q\x00\x01"
                                                       "\x01\x00\x00\x04\xFA\x00\x00",
                                                       28),
                                           "1274"));
    EXPECT_TRUE(BytesEqual(expected, ReadFileBytes(out)));
  }
}

TEST_F(EndToEndTest, DocumentWithoutImages) {
  struct Case {
    std::string name;
    XrefForm form;
    std::string mode;
    std::string update;
  };
  for (const Case& c : std::vector<Case>{
           // A table section is never empty: it lists the free object 0.
           {"table", XrefForm::kTable, "",
            TableSection("0 1\r\n"
                         "0000000000 65535 f\r\n",
                         "/Prev 284\r\n"
                         "/Root 1 0 R\r\n"
                         "/Size 7\r\n",
                         "448")},
           {"stream", XrefForm::kStream, "",
            StreamSection("8 0",
                          "/Root 1 0 R\r\n"
                          "/Prev 284\r\n"
                          "/Length 7\r\n"
                          "/Size 9\r\n"
                          "/Index [8 1]\r\n",
                          std::string("\x01\x00\x00\x01\xBE\x00\x00", 7), "446")},
           {"table-tgraybox", XrefForm::kTable, "tgraybox",
            kMask9999 + TableSection("9999 1\r\n"
                                     "0000000448 00001 n\r\n",
                                     "/Prev 284\r\n"
                                     "/Root 1 0 R\r\n"
                                     "/Size 10000\r\n",
                                     "584")},
       }) {
    SCOPED_TRACE(c.name);
    SetReplaceObject(c.mode);
    const std::string input = NoImages(c.form).Build();

    const std::string out = RunOn(c.name, input);

    EXPECT_TRUE(BytesEqual(input + c.update, ReadFileBytes(out)));
    // Neither /Encrypt nor /Info: both lookups reach the dictionary's end.
    const std::vector<std::string> log = LogLines();
    ASSERT_EQ(log.size(), 5u);
    EXPECT_EQ(log[2].substr(0, 19), "reached dict end @ ");
    EXPECT_EQ(log[3], log[2]);
    ExpectQpdfClean(out);
  }
}

// A content stream or an uncompressed object stream that holds the bytes
// /Subtype/Image is never replaced: that would destroy the page or every
// object stored in the stream. The real image object 4 still is.
std::string StreamDataHits(XrefForm form) {
  const std::string stored = "<</Type/XObject/Subtype/Image/Width 1/Height 1>>";
  const std::string object_stream = "<</Type/ObjStm/N 1/First 5/Length " +
                                    std::to_string(5 + stored.size()) + ">>\nstream\n8 0 " +
                                    stored + "\nendstream\n";
  return PdfBuilder()
      .Object(1, 0, kCatalog)
      .Object(2, 0, kPages)
      .Object(3, 0, Page("/Im1 4 0 R"))
      .Object(4, 0, kRgbImage)
      .Object(6, 0, ContentStream("%/Subtype/Image in a comment\nq 80 0 0 80 10 10 cm /Im1 Do Q"))
      .Object(9, 0, object_stream)
      .Form(form)
      .Build();
}

TEST_F(EndToEndTest, HitsInsideStreamDataAreNotRecorded) {
  const std::string input = StreamDataHits(XrefForm::kTable);

  const std::string out = RunOn("streams", input);

  const std::string expected = input + Objects({"4 0"}, kGrayBox) +
                               TableSection(
                                   "4 1\r\n"
                                   "0000000793 00000 n\r\n",
                                   "/Prev 584\r\n"
                                   "/Root 1 0 R\r\n"
                                   "/Size 10\r\n",
                                   "926");
  EXPECT_TRUE(BytesEqual(expected, ReadFileBytes(out)));
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "(startxre)f @ 781",
                            "xref header: 'xref'",
                            "reached dict end @ 770",
                            "reached dict end @ 770",
                            "Found image @ 258",
                            "obj@225",
                            "Number: 4#0",
                            "object: 400000",
                            "Found image @ 398",
                            "obj@357",
                            "Number: 6#0",
                            "Found image @ 547",
                            "obj@464",
                            "Number: 9#0",
                            "output: " + out,
                        }));
}

TEST_F(EndToEndTest, LightModeRenamesHitsInsideStreamDataToo) {
  const std::string input = StreamDataHits(XrefForm::kStream);

  const std::string out = RunOn("streams", input, {"/noother"});

  std::string expected = input;
  for (const std::size_t image_name : {253u, 393u, 542u}) {
    ASSERT_EQ(expected.substr(image_name, 5), "Image");
    expected.replace(image_name, 5, "Vexlo");
  }
  EXPECT_TRUE(BytesEqual(expected, ReadFileBytes(out)));
}

// Object numbers above 21474 do not fit a 32-bit key; they keep their number.
TEST_F(EndToEndTest, ImageObjectNumberAbove21474) {
  const std::string input = PdfBuilder()
                                .Object(1, 0, kCatalog)
                                .Object(2, 0, kPages)
                                .Object(3, 0, Page("/Im1 30000 0 R"))
                                .Object(6, 0, ContentStream("q 80 0 0 80 10 10 cm /Im1 Do Q"))
                                .Object(30000, 0, kGreyImage)
                                .Build();
  const std::string out = RunOn("large-number", input);

  const std::string expected = input + Objects({"30000 0"}, kGrayBox) +
                               TableSection(
                                   "30000 1\r\n"
                                   "0000000637 00000 n\r\n",
                                   "/Prev 441\r\n"
                                   "/Root 1 0 R\r\n"
                                   "/Size 30001\r\n",
                                   "774");
  EXPECT_TRUE(BytesEqual(expected, ReadFileBytes(out)));
  const std::vector<std::string> log = LogLines();
  ASSERT_EQ(log.size(), 9u);
  EXPECT_EQ(log[6], "Number: 30000#0");
  EXPECT_EQ(log[7], "object: 3000000000");
  ExpectQpdfClean(out);
}

// An image updated in an incremental update of the input is listed once per
// revision, older copy first; generations are carried into every entry form.
TEST_F(EndToEndTest, RepeatedKeysAndNonZeroGeneration) {
  for (const XrefForm form : {XrefForm::kTable, XrefForm::kStream}) {
    const bool table = form == XrefForm::kTable;
    SCOPED_TRACE(table ? "table" : "stream");
    const std::string input = PdfBuilder()
                                  .Object(1, 0, kCatalog)
                                  .Object(2, 0, kPages)
                                  .Object(3, 0, Page("/Im1 4 0 R/Im2 5 3 R"))
                                  .Object(4, 0, kRgbImage)
                                  .Object(5, 3, kGreyImage)
                                  .Object(6, 0, ContentStream(kTwoImagesContent))
                                  .Form(form)
                                  .Update()
                                  .Object(4, 0, kGreyImage)
                                  .Build();
    const std::string out = RunOn(table ? "revisions-table" : "revisions-stream", input);

    const std::string expected = input + Objects({"4 0", "5 3", "4 0"}, kGrayBox) +
                                 (table ? TableSection("4 1\r\n"
                                                       "0000001030 00000 n\r\n"
                                                       "5 1\r\n"
                                                       "0000001163 00003 n\r\n"
                                                       "4 1\r\n"
                                                       "0000001296 00000 n\r\n",
                                                       "/Prev 941\r\n"
                                                       "/Root 1 0 R\r\n"
                                                       "/Size 7\r\n",
                                                       "1429")
                                        : StreamSection("9 0",
                                                        "/Root 1 0 R\r\n"
                                                        "/Prev 913\r\n"
                                                        "/Length 28\r\n"
                                                        "/Size 10\r\n"
                                                        "/Index [4 1 5 1 4 1 9 1]\r\n",
                                                        std::string("\x01\x00\x00\x04 \x00\x00"
                                                                    "\x01\x00\x00\x04\xA5\x00\x03"
                                                                    "\x01\x00\x00\x05*\x00\x00"
                                                                    "\x01\x00\x00\x05\xAF\x00\x00",
                                                                    28),
                                                        "1455"));
    EXPECT_TRUE(BytesEqual(expected, ReadFileBytes(out)));
  }
}

// ---------------------------------------------------------------------------
// The run: output naming, the existing-output rule, errors

TEST_F(EndToEndTest, OutputNameIsDerivedFromTheInput) {
  const std::string input = TwoImages(XrefForm::kTable).Build();
  struct Case {
    std::string input;
    std::string output;
  };
  for (const Case& c : std::vector<Case>{
           {"report.pdf", "report_Vexlo.pdf"},
           {"report", "report_Vexlo"},
           {"a.b.pdf", "a.b_Vexlo.pdf"},
           {"my.docs/report", "my.docs/report_Vexlo"},
           {"my.docs/report.PDF", "my.docs/report_Vexlo.PDF"},
           {".pdf", "_Vexlo.pdf"},
       }) {
    SCOPED_TRACE(c.input);
    Input(c.input, input);

    const ProcessResult result = Quillane({"/in", c.input}, QUILLANE_EXE, dir_.Path());
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(fs::is_regular_file(dir_.Path() / c.output));
    const std::vector<std::string> log = LogLines();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "output: " + c.output);
  }
}

TEST_F(EndToEndTest, OutOptionIsUsedAsGiven) {
  const std::string input = TwoImages(XrefForm::kTable).Build();
  const std::string in = Input("two.pdf", input);
  const std::string out = dir_.File("chosen name");

  ExpectRunSucceeds({"/in", in, "/out", out});

  const std::string output = ReadFileBytes(out);
  EXPECT_TRUE(output.starts_with(input));
  EXPECT_GT(output.size(), input.size());
  EXPECT_FALSE(fs::exists(dir_.File("two_Vexlo.pdf")));
}

TEST_F(EndToEndTest, ExistingOutputIsRefusedUnlessOverwrite) {
  const std::string input = TwoImages(XrefForm::kTable).Build();
  const std::string in = Input("two.pdf", input);
  const std::string out = dir_.File("two_Vexlo.pdf");
  WriteFileBytes(out, "older output");

  const ProcessResult refused = Quillane({"/in", in});
  EXPECT_EQ(refused.exit_status, 3);
  EXPECT_EQ(refused.err, kExistsMessage);
  EXPECT_EQ(ReadFileBytes(out), "older output");
  EXPECT_EQ(LogLines().back(), "output: " + out);

  const ProcessResult light_refused = Quillane({"/noother", "/in", in});
  EXPECT_EQ(light_refused.err, kExistsMessage);
  EXPECT_EQ(ReadFileBytes(out), "older output");

  ExpectRunSucceeds({"/in", in, "/overwrite"});
  const std::string output = ReadFileBytes(out);
  EXPECT_TRUE(output.starts_with(input));
  EXPECT_GT(output.size(), input.size());
  // No temporary file is left behind.
  EXPECT_EQ(FolderContent(), (std::vector<std::string>{"two.pdf", "two_Vexlo.pdf"}));
}

TEST_F(EndToEndTest, MissingTemplateFailsTheRunBeforeAnythingIsWritten) {
  const std::string input = TwoImages(XrefForm::kTable).Build();
  struct Case {
    std::string name;
    std::string mode;
    std::vector<std::string> present;
    std::string missing;
  };
  for (const Case& c : std::vector<Case>{
           {"default", "", {"othertimg.dat", "othertmsk.dat"}, "otherimg.dat"},
           // All three are read in the translucent mode, the unused one too.
           {"tgraybox-img", "tgraybox", {"othertimg.dat", "othertmsk.dat"}, "otherimg.dat"},
           {"tgraybox-timg", "tgraybox", {"otherimg.dat", "othertmsk.dat"}, "othertimg.dat"},
           {"tgraybox-tmsk", "tgraybox", {"otherimg.dat", "othertimg.dat"}, "othertmsk.dat"},
           // The outline mode needs only its own two files.
           {"outline-oimg", "outline", {"otheromsk.dat", "otherimg.dat"}, "otheroimg.dat"},
           {"outline-omsk", "outline", {"otheroimg.dat"}, "otheromsk.dat"},
       }) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir_.Path() / "bin");
    std::vector<std::pair<std::string, std::string>> templates;
    for (const std::string& name : c.present) templates.emplace_back(name, kGrayBox);
    const std::string exe = ExecutableWithTemplates(templates);
    SetReplaceObject(c.mode);
    const std::string in = Input(c.name + ".pdf", input);

    const ProcessResult result = Quillane({"/in", in}, exe);
    EXPECT_EQ(result.exit_status, 1);
    const std::string folder = fs::canonical(dir_.Path() / "bin").string();
    EXPECT_EQ(result.err, "Quillane: Cannot open file \"" + folder + "/" + c.missing +
                              "\". No such file or directory.\n");
    EXPECT_FALSE(fs::exists(dir_.File(c.name + "_Vexlo.pdf")));
  }
}

TEST_F(EndToEndTest, FileErrors) {
  const std::string input = TwoImages(XrefForm::kTable).Build();
  const std::string in = Input("two.pdf", input);
  const std::string missing = dir_.File("missing.pdf");
  const std::string unwritable = dir_.File("no-such-folder/out.pdf");
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  for (const Case& c : std::vector<Case>{
           {{"/in", missing},
            "Quillane: Cannot open file \"" + missing + "\". No such file or directory.\n"},
           {{"/noother", "/in", missing},
            "Quillane: Cannot open file \"" + missing + "\". No such file or directory.\n"},
           {{"/in", in, "/out", unwritable},
            "Quillane: Cannot create file \"" + unwritable + "\". No such file or directory.\n"},
       }) {
    SCOPED_TRACE(c.args.back());
    const ProcessResult result = Quillane(c.args);
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err, c.err);
  }
  EXPECT_FALSE(fs::exists(dir_.File("missing_Vexlo.pdf")));
}

// An input of 2 GiB or more is read like any other (the file is sparse, so
// this costs no disk space; tests/large checks whole documents beyond 4 GiB):
// the light mode renames its image and keeps its size.
TEST_F(EndToEndTest, InputOf2GiBIsProcessed) {
  const std::string in = dir_.File("huge.pdf");
  WriteFileBytes(in, "%PDF-1.4\n");
  fs::resize_file(in, std::uintmax_t{1} << 31);
  std::ofstream(in, std::ios::binary | std::ios::app) << "<</Subtype/Image>>";
  const ProcessResult result = Quillane({"/noother", "/in", in});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "");
  const std::string out = dir_.File("huge_Vexlo.pdf");
  ASSERT_EQ(fs::file_size(out), (std::uintmax_t{1} << 31) + 18);
  std::ifstream output(out, std::ios::binary);
  output.seekg(std::streamoff{1} << 31);
  std::string tail(18, '\0');
  output.read(tail.data(), 18);
  EXPECT_EQ(tail, "<</Subtype/Vexlo>>");
}

// An empty input: the light mode writes an empty output; the other modes find
// no startxref offset.
TEST_F(EndToEndTest, EmptyInput) {
  const std::string in = Input("empty.pdf", "");

  const ProcessResult light = Quillane({"/noother", "/in", in});
  EXPECT_EQ(light.exit_status, 0);
  EXPECT_EQ(light.err, "");
  EXPECT_EQ(ReadFileBytes(dir_.File("empty_Vexlo.pdf")), "");

  const ProcessResult full = Quillane({"/in", in, "/out", dir_.File("full.pdf")});
  EXPECT_EQ(full.exit_status, 1);
  EXPECT_EQ(full.err,
            "Quillane: No startxref offset found at the end of the file; it is not a PDF file or "
            "it is damaged.\n");
  EXPECT_FALSE(fs::exists(dir_.File("full.pdf")));
}

// The command line as a script sees it: help and version on standard output,
// usage errors on standard error with status 2, every argument that is no
// option an input, several inputs each in a run of their own, and the highest
// status of those runs as the exit status.
TEST_F(EndToEndTest, CommandLineFormsAndExitStatuses) {
  const std::string input = TwoImages(XrefForm::kTable).Build();
  const std::string a = Input("a.pdf", input);
  const std::string b = Input("b.pdf", input);
  const std::string dash = Input("-dash.pdf", input);
  const std::string encrypted =
      Input("locked.pdf", TwoImages(XrefForm::kTable).TrailerEntries("/Encrypt 9 0 R").Build());
  const std::string missing = dir_.File("missing.pdf");
  const std::string usage = UsageText(platform::CommandLineStyle::kPosix);
  // With more than one input, each message names the input it is about.
  const std::string cannotOpen = "Quillane: " + missing + ": Cannot open file \"" + missing +
                                 "\". No such file or directory.\n";
  const std::string encryptedOfMany =
      "Quillane: " + encrypted + ": " + std::string(kEncryptedMessage).substr(10);
  const struct {
    const char* name;
    std::vector<std::string> args;
    int status;
    std::string out;  // "usage" for the usage text
    std::string err;
    std::vector<std::string> outputs;  // files written beside the inputs
  } cases[] = {
      {"no argument", {}, 2, "", "usage", {}},
      {"only an option", {"/overwrite"}, 2, "", "usage", {}},
      {"/in without its value", {"/in"}, 2, "", "usage", {}},
      {"help", {"--help"}, 0, "usage", "", {}},
      {"short help", {a, "-h"}, 0, "usage", "", {}},
      {"version", {"--version"}, 0, "quillane 1.1.0\n", "", {}},
      {"short version", {"-V"}, 0, "quillane 1.1.0\n", "", {}},
      {"unknown option", {"-x", a}, 2, "", "Quillane: unknown option \"-x\"\nusage", {}},
      {"bare input", {a}, 0, "", "", {"a_Vexlo.pdf"}},
      {"two inputs", {a, "/in", b}, 0, "", "", {"a_Vexlo.pdf", "b_Vexlo.pdf"}},
      {"a name that begins with a dash", {"/in", dash}, 0, "", "", {"-dash_Vexlo.pdf"}},
      {"/compact in the light mode",
       {"/noother", "/compact", a},
       2,
       "",
       "Quillane: \"/compact\" cannot be used with the light mode\nusage",
       {}},
      {"/out with two inputs",
       {a, b, "/out", dir_.File("one.pdf")},
       2,
       "",
       "Quillane: \"/out\" cannot be used with more than one input file\nusage",
       {}},
      // Each input is a run of its own: an error ends only that run.
      {"an error between two inputs",
       {a, missing, b},
       1,
       "",
       cannotOpen,
       {"a_Vexlo.pdf", "b_Vexlo.pdf"}},
      {"a refusal", {encrypted}, 3, "", kEncryptedMessage, {}},
      // The highest status wins: a refusal (3) over an error (1).
      {"a refusal and an error",
       {missing, encrypted, a},
       3,
       "",
       cannotOpen + encryptedOfMany,
       {"a_Vexlo.pdf"}},
  };
  const auto expand = [&usage](const std::string& text) {
    const std::size_t at = text.find("usage");
    return at == std::string::npos ? text : text.substr(0, at) + usage;
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* name : {"a_Vexlo.pdf", "b_Vexlo.pdf", "-dash_Vexlo.pdf"}) {
      fs::remove(dir_.File(name));
    }
    const ProcessResult result = Quillane(c.args);
    EXPECT_EQ(result.exit_status, c.status);
    EXPECT_EQ(result.out, expand(c.out));
    EXPECT_EQ(result.err, expand(c.err));
    for (const std::string& output : c.outputs) {
      EXPECT_TRUE(fs::exists(dir_.File(output))) << output;
    }
    EXPECT_FALSE(fs::exists(dir_.File("one.pdf")));
  }
}

// Cut-off copies of a document (every length in the last 120 bytes, where
// the end of the file is read, and every 40th before): each run ends with an
// output that keeps the bytes or with one error line, never with a crash.
TEST_F(EndToEndTest, TruncatedInputsEndCleanly) {
  for (const XrefForm form : {XrefForm::kTable, XrefForm::kStream}) {
    const std::string whole = TwoImages(form).Build();
    for (std::size_t length = 0; length <= whole.size();
         length += length + 120 < whole.size() ? 40u : 1u) {
      SCOPED_TRACE(length);
      const std::string input = whole.substr(0, length);
      const std::string in = dir_.File("cut.pdf");
      WriteFileBytes(in, input);
      const std::string out = dir_.File("cut_Vexlo.pdf");
      fs::remove(out);

      const ProcessResult result = Quillane({"/in", in});
      if (result.exit_status == 0) {
        EXPECT_EQ(result.err, "");
        EXPECT_TRUE(ReadFileBytes(out).starts_with(input));
      } else {
        EXPECT_EQ(result.exit_status, 1);
        EXPECT_TRUE(result.err.starts_with("Quillane: ")) << result.err;
        EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
        EXPECT_FALSE(fs::exists(out));
      }
      EXPECT_TRUE(BytesEqual(input, ReadFileBytes(in)));
    }
  }
}

// ---------------------------------------------------------------------------
// The samples of the README, in every mode, through the PDF checkers

TEST_F(EndToEndTest, SamplesInEveryMode) {
  for (const std::string sample : {"sample.pdf", "sample-xrefstream.pdf"}) {
    const std::string input = ReadFileBytes(fs::path(QUILLANE_SOURCE_DIR) / "samples" / sample);
    for (const std::string mode : {"default", "none", "tgraybox", "outline"}) {
      SCOPED_TRACE(sample + " " + mode);
      SetReplaceObject(mode);
      const std::string in = Input(mode + "-" + sample, input);
      const std::string out = dir_.File(mode + "-" + sample + ".out");

      ExpectRunSucceeds({"/in", in, "/out", out});

      const std::string output = ReadFileBytes(out);
      if (mode == "none") {
        EXPECT_EQ(CountRenamedImageNames(input, output), 7);
      } else {
        EXPECT_TRUE(output.starts_with(input));
        EXPECT_TRUE(output.ends_with("%%EOF\r\n"));
      }
      ExpectQpdfClean(out);
      if (mode == "none" || !ProgramAvailable("pdfimages")) continue;
      // Every image the pages show is a 1 x 1 grey placeholder now.
      const ProcessResult list = RunProcess({"pdfimages", "-list", out});
      EXPECT_EQ(list.exit_status, 0) << list.err;
      int images = 0;
      std::istringstream lines(list.out);
      std::string line;
      for (int skip = 0; skip < 2 && std::getline(lines, line); ++skip) {
      }
      while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string page, num, type, width, height, color;
        fields >> page >> num >> type >> width >> height >> color;
        // The outline mask is the one larger image: 256 x 256, one bit.
        if (mode == "outline" && width == "256") {
          EXPECT_EQ(height + " " + color, "256 gray") << line;
        } else {
          EXPECT_EQ(width + "x" + height + " " + color, "1x1 gray") << line;
        }
        ++images;
      }
      EXPECT_EQ(images, mode == "tgraybox" || mode == "outline" ? 14 : 7);
    }
  }
}

}  // namespace
}  // namespace quillane::test
