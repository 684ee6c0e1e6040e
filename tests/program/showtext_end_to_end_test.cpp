// "/showtext" end to end: the real executable on OCR-layer documents made by
// the test builder, its output checked by qpdf, pdftotext and pdffonts, the
// text font read from beside the executable only when a glyphless font needs
// it. A checker that is not installed skips its checks.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "support/ocr_layer.h"
#include "support/test_util.h"

namespace quillane::test {
namespace {

namespace fs = std::filesystem;

class ShowTextEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { WriteFileBytes(registry_, RegistryWithReplaceObject("")); }

  ProcessResult Quillane(const std::vector<std::string>& args,
                         const std::string& exe = QUILLANE_EXE) {
    fs::remove(log_);
    std::vector<std::string> argv{exe};
    argv.insert(argv.end(), args.begin(), args.end());
    ProcessOptions options;
    options.env["QUILLANE_REGISTRY"] = registry_;
    options.env["QUILLANE_LOG"] = log_;
    options.env["TMPDIR"] = dir_.Path().string();
    ProcessResult result = RunProcess(argv, options);
    EXPECT_EQ(result.signal, 0) << result.err;
    return result;
  }

  std::string Log() const { return fs::exists(log_) ? ReadFileBytes(log_) : ""; }

  ScratchDir dir_;
  const std::string registry_ = dir_.File("run.reg");
  const std::string log_ = dir_.File("run.log");
};

std::string PdfText(const std::string& path) {
  return RunProcess({"pdftotext", "-enc", "UTF-8", path, "-"}).out;
}

TEST_F(ShowTextEndToEnd, OcrLayersAreDrawnAndTheFilesStaySound) {
  struct Case {
    std::string name;
    OcrLayer layer;
    bool fontReplaced;
  };
  OcrLayer tesseract;
  tesseract.Words = {U"Hi", U"Мир"};
  OcrLayer packed = tesseract;
  packed.Xref = XrefForm::kStream;
  packed.ObjectStreams = true;
  packed.InForm = true;
  packed.TextUnderPicture = true;
  OcrLayer helvetica;
  helvetica.TextFont = OcrLayer::Font::kHelvetica;
  helvetica.InForm = true;
  helvetica.TextUnderPicture = true;
  OcrLayer hebrew;
  hebrew.RightToLeft = true;
  hebrew.Words = {U"שלום", U"עולם"};
  for (const Case& c : std::vector<Case>{{"tesseract", tesseract, true},
                                         {"right-to-left", hebrew, true},
                                         {"packed", packed, true},
                                         {"helvetica", helvetica, false}}) {
    SCOPED_TRACE(c.name);
    const std::string input = dir_.Write(c.name + ".pdf", OcrLayerDocument(c.layer));
    const std::string output = dir_.File(c.name + "-shown.pdf");
    const ProcessResult run = Quillane({"/showtext", "/in", input, "/out", output});
    ASSERT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::string log = Log();
    EXPECT_NE(log.find("Text shown: "), std::string::npos) << log;
    EXPECT_EQ(log.find("Font replaced: 500000") != std::string::npos, c.fontReplaced) << log;
    EXPECT_EQ(log.find("Glyphs missing"), std::string::npos) << log;
    if (ProgramAvailable("qpdf")) {
      const ProcessResult check = RunProcess({"qpdf", "--check", output});
      EXPECT_EQ(check.exit_status, 0) << check.out << check.err;
      EXPECT_EQ(check.err, "");
    }
    if (ProgramAvailable("pdftotext")) {
      EXPECT_EQ(PdfText(output), PdfText(input));
      EXPECT_NE(PdfText(output).find(c.layer.RightToLeft ? "עולם"
                                     : c.fontReplaced    ? "Мир"
                                                         : "World"),
                std::string::npos)
          << PdfText(output);
    }
    if (c.fontReplaced && ProgramAvailable("pdffonts")) {
      // The new descendant: an embedded subset of the text font.
      const std::string fonts = RunProcess({"pdffonts", output}).out;
      EXPECT_NE(fonts.find("+DejaVuSans"), std::string::npos) << fonts;
      EXPECT_NE(fonts.find("CID TrueType"), std::string::npos) << fonts;
    }
  }
}

// The text is drawn the same way in a compact file and in the update that
// repairs a damaged file (its last section not found: the startxref offset
// points into the middle of the file): the new font objects are numbered past
// every object the table lists, and qpdf reads the output without warnings.
TEST_F(ShowTextEndToEnd, CompactAndRepairedFilesShowTheText) {
  OcrLayer layer;
  layer.Words = {U"Hi", U"Мир"};
  OcrLayer packed = layer;
  packed.Xref = XrefForm::kStream;
  packed.ObjectStreams = true;
  for (const auto& [name, document] :
       std::vector<std::pair<std::string, OcrLayer>>{{"table", layer}, {"packed", packed}}) {
    const std::string sound = OcrLayerDocument(document);
    std::string damaged = sound;
    const std::size_t at = damaged.rfind("startxref");
    ASSERT_NE(at, std::string::npos);
    damaged.replace(at, std::string::npos, "startxref\n7\n%%EOF\n");
    const std::string input = dir_.Write(name + ".pdf", sound);
    const std::string broken = dir_.Write(name + "-damaged.pdf", damaged);
    struct Run {
      std::string label;
      std::vector<std::string> args;
      std::string logLine;
    };
    for (const Run& run : std::vector<Run>{
             {"compact", {"/compact", "/showtext", "/inline", "/in", input}, "Compact: "},
             {"repaired", {"/showtext", "/in", broken}, "Cross-reference rebuilt: "},
             {"repaired compact", {"/compact", "/showtext", "/in", broken}, "Compact: "}}) {
      SCOPED_TRACE(name + " " + run.label);
      const std::string output = dir_.File("out.pdf");
      std::vector<std::string> args = run.args;
      args.insert(args.end(), {"/out", output, "/overwrite"});
      const ProcessResult result = Quillane(args);
      ASSERT_EQ(result.exit_status, 0) << result.err;
      const std::string log = Log();
      EXPECT_NE(log.find(run.logLine), std::string::npos) << log;
      EXPECT_NE(log.find("Text shown: "), std::string::npos) << log;
      EXPECT_NE(log.find("Font replaced: "), std::string::npos) << log;
      if (ProgramAvailable("qpdf")) {
        const ProcessResult check = RunProcess({"qpdf", "--check", output});
        EXPECT_EQ(check.exit_status, 0) << check.out << check.err;
        EXPECT_EQ(check.err, "");
      }
      if (ProgramAvailable("pdftotext")) {
        EXPECT_EQ(PdfText(output), PdfText(input));
      }
      if (ProgramAvailable("pdffonts")) {
        const std::string fonts = RunProcess({"pdffonts", output}).out;
        EXPECT_NE(fonts.find("+DejaVuSans"), std::string::npos) << fonts;
      }
    }
  }
}

TEST_F(ShowTextEndToEnd, WithoutInvisibleTextTheOutputIsTheSame) {
  OcrLayer visible;
  visible.RenderMode = 0;
  visible.ExtraContents = "q BI /W 2 /H 1 /CS /G /BPC 8 ID \x01\x02 EI Q\n";
  const std::string input = dir_.Write("visible.pdf", OcrLayerDocument(visible));
  for (const std::vector<std::string>& flags :
       std::vector<std::vector<std::string>>{{}, {"/inline"}}) {
    std::vector<std::string> plain = flags;
    plain.insert(plain.end(), {"/in", input, "/out", dir_.File("plain.pdf"), "/overwrite"});
    std::vector<std::string> shown = flags;
    shown.insert(shown.end(),
                 {"/showtext", "/in", input, "/out", dir_.File("shown.pdf"), "/overwrite"});
    ASSERT_EQ(Quillane(plain).exit_status, 0);
    ASSERT_EQ(Quillane(shown).exit_status, 0);
    EXPECT_TRUE(
        BytesEqual(ReadFileBytes(dir_.File("plain.pdf")), ReadFileBytes(dir_.File("shown.pdf"))));
  }
}

TEST_F(ShowTextEndToEnd, MissingGlyphsAreCountedAndTheLightModeAppendsNothing) {
  OcrLayer layer;
  layer.Words = {U"Hi", U"中文"};  // DejaVu Sans has no CJK glyphs
  const std::string input = dir_.Write("cjk.pdf", OcrLayerDocument(layer));
  ASSERT_EQ(Quillane({"/showtext", "/in", input, "/out", dir_.File("cjk-shown.pdf")}).exit_status,
            0);
  EXPECT_NE(Log().find("Glyphs missing: 2\n"), std::string::npos) << Log();

  ASSERT_EQ(Quillane({"/noother", "/showtext", "/in", input, "/out", dir_.File("light-shown.pdf")})
                .exit_status,
            0);
  EXPECT_NE(Log().find("Text left: the light mode appends nothing\n"), std::string::npos);
  ASSERT_EQ(Quillane({"/noother", "/in", input, "/out", dir_.File("light.pdf")}).exit_status, 0);
  EXPECT_TRUE(BytesEqual(ReadFileBytes(dir_.File("light.pdf")),
                         ReadFileBytes(dir_.File("light-shown.pdf"))));
}

// The corpus through the real executable with and without the option: where
// the log shows no text drawn, the outputs are the same bytes; where it does,
// qpdf accepts the output when it accepts the input, and pdftotext gives the
// same text. Without the corpus the test skips.
TEST_F(ShowTextEndToEnd, CorpusFilesWithoutInvisibleTextAreTheSame) {
  const fs::path corpus = QUILLANE_CORPUS_DIR;
  if (!fs::exists(corpus / "MANIFEST.tsv")) GTEST_SKIP() << "corpus not found at " << corpus;
  const bool checkers = ProgramAvailable("qpdf") && ProgramAvailable("pdftotext");
  std::ifstream manifest(corpus / "MANIFEST.tsv");
  std::string line;
  std::getline(manifest, line);  // the column names
  int files = 0;
  int shown = 0;
  const std::string plain = dir_.File("plain.pdf");
  const std::string withText = dir_.File("shown.pdf");
  while (std::getline(manifest, line)) {
    const std::string input = (corpus / line.substr(0, line.find('\t'))).string();
    SCOPED_TRACE(input);
    fs::remove(plain);
    fs::remove(withText);
    const ProcessResult before = Quillane({"/in", input, "/out", plain});
    const ProcessResult after = Quillane({"/showtext", "/in", input, "/out", withText});
    EXPECT_EQ(after.exit_status, before.exit_status);
    EXPECT_EQ(after.err, before.err);
    ++files;
    if (!fs::exists(plain)) continue;
    if (Log().find("Text shown: ") == std::string::npos) {
      EXPECT_TRUE(BytesEqual(ReadFileBytes(plain), ReadFileBytes(withText)));
      continue;
    }
    ++shown;
    if (!checkers) continue;
    if (RunProcess({"qpdf", "--check", input}).exit_status == 0) {
      EXPECT_EQ(RunProcess({"qpdf", "--check", withText}).exit_status, 0);
    }
    EXPECT_EQ(PdfText(withText), PdfText(input));
  }
  std::fprintf(stderr, "%d files, %d with text shown\n", files, shown);
}

TEST_F(ShowTextEndToEnd, TheTextFontIsReadOnlyWhenAGlyphlessFontIsReplaced) {
  // The executable beside the templates, without the text font.
  const fs::path bin = dir_.Path() / "bin";
  fs::create_directories(bin);
  const fs::path exe = bin / "quillane";
  fs::copy_file(QUILLANE_EXE, exe);
  const fs::path built = fs::path(QUILLANE_EXE).parent_path();
  for (const char* name : {"otherimg.dat", "othertimg.dat", "othertmsk.dat"}) {
    fs::copy_file(built / name, bin / name);
  }
  OcrLayer helvetica;
  helvetica.TextFont = OcrLayer::Font::kHelvetica;
  const std::string plain = dir_.Write("helvetica.pdf", OcrLayerDocument(helvetica));
  EXPECT_EQ(Quillane({"/showtext", "/in", plain}, exe.string()).exit_status, 0);
  EXPECT_TRUE(fs::exists(dir_.File("helvetica_Vexlo.pdf")));

  const std::string glyphless = dir_.Write("glyphless.pdf", OcrLayerDocument(OcrLayer{}));
  const ProcessResult run = Quillane({"/showtext", "/in", glyphless}, exe.string());
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.err, "Quillane: Cannot open file \"" + fs::canonical(bin).string() +
                         "/othertext.ttf\". No such file or directory.\n");
  EXPECT_FALSE(fs::exists(dir_.File("glyphless_Vexlo.pdf")));
}

}  // namespace
}  // namespace quillane::test
