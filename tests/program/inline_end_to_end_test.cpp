// "/inline" end to end over the shared corpus: the real executable runs every
// file with and without the option. Where the run rewrites no content stream
// the two outputs must be byte for byte the same; where it does, pdfimages
// must show only 1x1 inline images, as many as the input has, qpdf must
// accept the output when it accepts the input, and pdftotext must give the
// same text. A checker that is not installed skips its checks, unless CI=true
// is set, in which case that fails the test. Without the corpus the test
// skips.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/pdf_builder.h"
#include "support/test_util.h"

namespace quillane::test {
namespace {

namespace fs = std::filesystem;

// The "file" column of the corpus manifest.
std::vector<std::string> CorpusFiles(const fs::path& manifest) {
  std::ifstream in(manifest);
  std::vector<std::string> files;
  std::string line;
  std::getline(in, line);  // the column names
  while (std::getline(in, line)) files.push_back(line.substr(0, line.find('\t')));
  return files;
}

// True when `tool` can be run; otherwise notes the skip, or fails under CI.
bool Checker(const std::string& tool) {
  if (ProgramAvailable(tool)) return true;
  const char* ci = std::getenv("CI");
  if (ci != nullptr && std::string(ci) == "true") {
    ADD_FAILURE() << tool << " is not installed, and CI=true requires every checker";
  } else {
    std::fprintf(stderr, "%s not installed: its checks are skipped\n", tool.c_str());
  }
  return false;
}

struct InlineImages {
  int count = 0;
  int larger = 0;  // larger than 1x1
};

// The inline images pdfimages -list reports (object column "[inline]").
InlineImages ListInlineImages(const std::string& pdf) {
  InlineImages images;
  std::istringstream lines(RunProcess({"pdfimages", "-list", pdf}).out);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("[inline]") == std::string::npos) continue;
    std::istringstream fields(line);
    std::string page, number, type;
    long width = 0, height = 0;
    fields >> page >> number >> type >> width >> height;
    ++images.count;
    if (width * height > 1) ++images.larger;
  }
  return images;
}

int QpdfCheck(const std::string& pdf) { return RunProcess({"qpdf", "--check", pdf}).exit_status; }

std::string Text(const std::string& pdf) { return RunProcess({"pdftotext", pdf, "-"}).out; }

TEST(InlineEndToEnd, CorpusRewritesEveryInlineImageAndNothingElse) {
  const fs::path corpus = QUILLANE_CORPUS_DIR;
  if (!fs::exists(corpus / "MANIFEST.tsv")) GTEST_SKIP() << "corpus not found at " << corpus;
  const bool pdfimages = Checker("pdfimages");
  const bool qpdf = Checker("qpdf");
  const bool pdftotext = Checker("pdftotext");

  ScratchDir dir;
  const std::string plainOut = dir.File("plain.pdf");
  const std::string inlineOut = dir.File("inline.pdf");
  const std::string log = dir.File("run.log");
  WriteFileBytes(dir.File("default.reg"), RegistryWithReplaceObject(""));
  WriteFileBytes(dir.File("tgraybox.reg"), RegistryWithReplaceObject("tgraybox"));
  const auto run = [&](const std::string& input, const std::string& output, bool withInline,
                       const std::string& registry) {
    fs::remove(output);
    fs::remove(log);
    std::vector<std::string> argv{QUILLANE_EXE};
    if (withInline) argv.emplace_back("/inline");
    argv.insert(argv.end(), {"/in", input, "/out", output});
    ProcessOptions options;
    options.env["QUILLANE_REGISTRY"] = dir.File(registry);
    options.env["QUILLANE_LOG"] = log;
    return RunProcess(argv, options);
  };

  int files = 0, rewrittenFiles = 0, images = 0;
  for (const std::string& file : CorpusFiles(corpus / "MANIFEST.tsv")) {
    SCOPED_TRACE(file);
    const std::string input = (corpus / file).string();
    const InlineImages before = pdfimages ? ListInlineImages(input) : InlineImages{};
    images += before.count;
    for (const char* mode : {"default", "tgraybox"}) {
      SCOPED_TRACE(mode);
      const std::string registry = std::string(mode) + ".reg";
      const ProcessResult plain = run(input, plainOut, false, registry);
      const ProcessResult withInline = run(input, inlineOut, true, registry);
      const std::string lines = fs::exists(log) ? ReadFileBytes(log) : "";
      ASSERT_EQ(withInline.signal, 0) << withInline.err;
      EXPECT_EQ(withInline.exit_status, plain.exit_status);
      EXPECT_EQ(withInline.err, plain.err);
      ASSERT_EQ(fs::exists(inlineOut), fs::exists(plainOut));
      if (!fs::exists(inlineOut)) break;

      const bool rewritten = lines.find("\nInline images: ") != std::string::npos ||
                             lines.starts_with("Inline images: ");
      if (!rewritten) {
        EXPECT_TRUE(BytesEqual(ReadFileBytes(plainOut), ReadFileBytes(inlineOut)));
      } else {
        EXPECT_TRUE(ReadFileBytes(inlineOut).starts_with(ReadFileBytes(input)));
      }
      if (pdfimages) {
        const InlineImages after = ListInlineImages(inlineOut);
        EXPECT_EQ(after.count, before.count);
        EXPECT_EQ(after.larger, 0) << "inline images larger than 1x1 remain";
      }
      if (!rewritten) continue;
      if (mode == std::string("default")) ++rewrittenFiles;
      if (qpdf) {
        // 0: clean, 3: warnings, 2: errors.
        const int verdict = QpdfCheck(input);
        const int after = QpdfCheck(inlineOut);
        if (verdict == 0 || verdict == 3) {
          EXPECT_TRUE(after == 0 || after == 3) << after;
        }
        if (verdict == 0) {
          EXPECT_EQ(after, 0);
        }
      }
      if (pdftotext) {
        EXPECT_EQ(Text(inlineOut), Text(input));
      }
    }
    ++files;
  }
  std::printf("[ inline   ] %d files, %d with rewritten streams, %d inline images in all\n", files,
              rewrittenFiles, images);
}

// The option on a small document of our own, so that it is covered without
// the corpus: the default mode rewrites the page contents, the light mode
// appends nothing and renames as it always does.
TEST(InlineEndToEnd, OptionWorksInTheDefaultModeAndNotInTheLightMode) {
  const std::string content = "q 10 0 0 10 0 0 cm BI /W 2 /H 2 /CS /G /BPC 8 ID abcd EI Q";
  const std::string input =
      PdfBuilder()
          .Object(1, 0, "<</Type/Catalog/Pages 2 0 R>>\n")
          .Object(2, 0, "<</Type/Pages/Kids[3 0 R]/Count 1>>\n")
          .Object(3, 0, "<</Type/Page/Parent 2 0 R/MediaBox[0 0 20 20]/Contents 4 0 R>>\n")
          .Object(4, 0,
                  "<</Length " + std::to_string(content.size()) + ">>\nstream\n" + content +
                      "\nendstream\n")
          .Build();
  ScratchDir dir;
  WriteFileBytes(dir.File("in.pdf"), input);
  WriteFileBytes(dir.File("registry.reg"), RegistryWithReplaceObject(""));
  const auto run = [&](const std::vector<std::string>& flags, const std::string& out) {
    std::vector<std::string> argv{QUILLANE_EXE};
    argv.insert(argv.end(), flags.begin(), flags.end());
    argv.insert(argv.end(), {"/in", dir.File("in.pdf"), "/out", dir.File(out)});
    ProcessOptions options;
    options.env["QUILLANE_REGISTRY"] = dir.File("registry.reg");
    options.env["QUILLANE_LOG"] = dir.File(out + ".log");
    const ProcessResult result = RunProcess(argv, options);
    EXPECT_EQ(result.exit_status, 0) << result.err;
    // The lines of the inline-image walk.
    std::istringstream lines(ReadFileBytes(dir.File(out + ".log")));
    std::string walk;
    for (std::string line; std::getline(lines, line);) {
      if (line.starts_with("Inline images") || line.starts_with("Stream left: ")) {
        walk += line + "\n";
      }
    }
    return walk;
  };
  EXPECT_EQ(run({"/inline"}, "default.pdf"), "Inline images: 400000#1\n");
  const std::string output = ReadFileBytes(dir.File("default.pdf"));
  EXPECT_TRUE(output.starts_with(input));
  EXPECT_NE(output.find("4 0 obj\n<</Length "), std::string::npos);

  EXPECT_EQ(run({"/noother", "/inline"}, "light-inline.pdf"),
            "Inline images left: the light mode appends nothing\n");
  run({"/noother"}, "light.pdf");
  EXPECT_TRUE(BytesEqual(ReadFileBytes(dir.File("light.pdf")),
                         ReadFileBytes(dir.File("light-inline.pdf"))));

  // The setting "ReplaceInline" turns the rewrite on as the option does; zero
  // leaves it off; a value that is not a DWORD is the registry's error.
  const auto setting = [&](const std::string& value) {
    WriteFileBytes(dir.File("registry.reg"),
                   "Windows Registry Editor Version 5.00\n\n"
                   "[HKEY_CURRENT_USER\\Software\\Bramblecote Software\\quillane]\n"
                   "\"ReplaceInline\"=" +
                       value + "\n");
  };
  setting("dword:00000001");
  EXPECT_EQ(run({}, "setting.pdf"), "Inline images: 400000#1\n");
  EXPECT_TRUE(BytesEqual(output, ReadFileBytes(dir.File("setting.pdf"))));
  setting("dword:00000000");
  EXPECT_EQ(run({}, "setting-off.pdf"), "");
  setting("\"1\"");
  std::vector<std::string> argv{QUILLANE_EXE, "/in", dir.File("in.pdf"), "/out", dir.File("x.pdf")};
  ProcessOptions options;
  options.env["QUILLANE_REGISTRY"] = dir.File("registry.reg");
  const ProcessResult wrongType = RunProcess(argv, options);
  EXPECT_EQ(wrongType.exit_status, 1);
  EXPECT_EQ(wrongType.err, "Quillane: Invalid data type for 'ReplaceInline'\n");
}

// A page set in a Type 3 font whose glyphs are inline image masks, as TeX's
// bitmap fonts come out of dvips: the letters stay letters. Optionally the
// page content holds a picture of its own as an inline image too.
std::string Type3Document(XrefForm form, bool pictureInPage) {
  const std::string glyph =
      "1000 0 0 0 750 750 d1\nq 750 0 0 750 0 0 cm\n"
      "BI /IM true /W 8 /H 2 /BPC 1 /D [1 0] ID \xF0\x0F EI\nQ\n";
  const std::string page =
      "BT /T1 12 Tf 10 10 Td (ab) Tj ET" +
      std::string(pictureInPage ? " q 10 0 0 10 0 0 cm BI /W 1 /H 2 /CS /G /BPC 8 "
                                  "ID ab EI Q"
                                : "");
  const auto stream = [](const std::string& data) {
    return "<</Length " + std::to_string(data.size()) + ">>\nstream\n" + data + "\nendstream\n";
  };
  return PdfBuilder()
      .Form(form)
      .Object(1, 0, "<</Type/Catalog/Pages 2 0 R>>\n")
      .Object(2, 0, "<</Type/Pages/Kids[3 0 R]/Count 1>>\n")
      .Object(3, 0,
              "<</Type/Page/Parent 2 0 R/MediaBox[0 0 50 30]/Contents 4 0 R"
              "/Resources<</Font<</T1 5 0 R>>>>>>\n")
      .Object(4, 0, stream(page))
      .Object(5, 0,
              "<</Type/Font/Subtype/Type3/FontBBox[0 0 1000 750]"
              "/FontMatrix[0.001 0 0 0.001 0 0]/CharProcs 6 0 R/Encoding 9 0 R"
              "/FirstChar 97/LastChar 98/Widths[1000 1000]>>\n")
      .Object(6, 0, "<</a 7 0 R/b 8 0 R>>\n")
      .Object(7, 0, stream(glyph))
      .Object(8, 0, stream(glyph))
      .Object(9, 0, "<</Type/Encoding/Differences[97/a/b]>>\n")
      .Build();
}

TEST(InlineEndToEnd, Type3GlyphsStayAsTheyAre) {
  ScratchDir dir;
  WriteFileBytes(dir.File("registry.reg"), RegistryWithReplaceObject(""));
  const auto run = [&](const std::string& input, bool withInline, const std::string& out) {
    std::vector<std::string> argv{QUILLANE_EXE};
    if (withInline) argv.emplace_back("/inline");
    argv.insert(argv.end(), {"/in", input, "/out", dir.File(out)});
    ProcessOptions options;
    options.env["QUILLANE_REGISTRY"] = dir.File("registry.reg");
    options.env["QUILLANE_LOG"] = dir.File(out + ".log");
    const ProcessResult result = RunProcess(argv, options);
    EXPECT_EQ(result.exit_status, 0) << result.err;
    std::istringstream lines(ReadFileBytes(dir.File(out + ".log")));
    std::string walk;
    for (std::string line; std::getline(lines, line);) {
      if (line.starts_with("Inline images") || line.starts_with("Stream left: ")) {
        walk += line + "\n";
      }
    }
    return walk;
  };
  for (const XrefForm form : {XrefForm::kTable, XrefForm::kStream}) {
    const std::string name = form == XrefForm::kTable ? "table" : "stream";
    SCOPED_TRACE(name);
    // Glyphs only: exactly the output of the run without the option.
    const std::string glyphsOnly = dir.File(name + "-glyphs.pdf");
    WriteFileBytes(glyphsOnly, Type3Document(form, false));
    EXPECT_EQ(run(glyphsOnly, true, name + "-glyphs-inline.pdf"),
              "Stream left: 700000 Type 3 glyph\nStream left: 800000 Type 3 glyph\n");
    run(glyphsOnly, false, name + "-glyphs-plain.pdf");
    EXPECT_TRUE(BytesEqual(ReadFileBytes(dir.File(name + "-glyphs-plain.pdf")),
                           ReadFileBytes(dir.File(name + "-glyphs-inline.pdf"))));
    // A picture in the page content beside them is still replaced.
    const std::string mixed = dir.File(name + "-mixed.pdf");
    WriteFileBytes(mixed, Type3Document(form, true));
    EXPECT_EQ(run(mixed, true, name + "-mixed-inline.pdf"),
              "Inline images: 400000#1\nStream left: 700000 Type 3 glyph\n"
              "Stream left: 800000 Type 3 glyph\n");
  }
}

}  // namespace
}  // namespace quillane::test
