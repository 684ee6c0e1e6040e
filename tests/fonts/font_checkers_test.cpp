// The TrueType layer judged by other programs: subsets of the text font read
// by fontTools (check_subset.py) and drawn by two PDF renderers exactly as the
// whole font draws them, and every TrueType program of the shared corpus
// (its /FontFile2 streams, taken out with qpdf at test time) read and subset.
// A missing checker or corpus skips its test, and fails it under CI=true.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "base/error.h"
#include "fonts/truetype_font.h"
#include "fuzz/truetype_checks.h"
#include "support/test_util.h"

namespace quillane::test {
namespace {

namespace fs = std::filesystem;
using fonts::GlyphId;
using fonts::Hinting;
using fonts::TrueTypeFont;

bool UnderCi() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string(ci) == "true";
}

#define SKIP_OR_FAIL(why)                              \
  do {                                                 \
    if (UnderCi()) FAIL() << (why) << ", and CI=true"; \
    GTEST_SKIP() << (why);                             \
  } while (false)

std::vector<GlyphId> GlyphsOf(const TrueTypeFont& font, const std::u32string& text) {
  std::vector<GlyphId> glyphs;
  for (const char32_t c : text) glyphs.push_back(font.GlyphFor(c));
  return glyphs;
}

TEST(FontCheckersTest, FontToolsReadsSubsetsAsTheOriginal) {
  const TrueTypeFont font = TrueTypeFont::Load(ReadFileBytes(QUILLANE_TEXT_FONT), "text");
  const std::string script = std::string(QUILLANE_SOURCE_DIR) + "/tests/fonts/check_subset.py";
  ScratchDir dir;
  const std::u32string latin = U"Quillane: \u00C0 \u00E9t\u00E9, \u00DF\u00F8\u00FF \u00BD!";
  const std::u32string other = U"\u0416\u0438\u0432\u0451\u0442 \u03A9\u03BC\u03AD\u03B3\u03B1";
  for (const std::u32string& text : {latin, other}) {
    for (const Hinting hinting : {Hinting::kKeep, Hinting::kStrip}) {
      const std::vector<GlyphId> glyphs = GlyphsOf(font, text);
      const std::string subset = dir.Write("subset.ttf", font.Subset(glyphs, hinting));
      std::vector<std::string> argv = {QUILLANE_PYTHON, script, QUILLANE_TEXT_FONT, subset,
                                       hinting == Hinting::kKeep ? "keep" : "strip"};
      for (const GlyphId glyph : glyphs) argv.push_back(std::to_string(glyph));
      const ProcessResult result = RunProcess(argv);
      if (result.exit_status == 77) SKIP_OR_FAIL(result.out);
      EXPECT_EQ(result.exit_status, 0) << result.out << result.err;
      std::printf("[ fontTools] %s", result.out.c_str());
    }
  }
}

// A one-page PDF that draws `glyphs` in `font` as a CIDFontType2 with
// /CIDToGIDMap /Identity, offsets counted as it is written.
std::string PdfDrawing(const std::string& font, const std::vector<GlyphId>& glyphs) {
  std::string codes;
  for (const GlyphId glyph : glyphs) {
    char hex[5];
    std::snprintf(hex, sizeof hex, "%04X", glyph);
    codes += hex;
  }
  const std::string content = "BT /F1 36 Tf 10 20 Td <" + codes + "> Tj ET";
  const std::vector<std::string> objects = {
      "<</Type/Catalog/Pages 2 0 R>>",
      "<</Type/Pages/Kids[3 0 R]/Count 1>>",
      "<</Type/Page/Parent 2 0 R/MediaBox[0 0 400 80]/Resources<</Font<</F1 5 0 R>>>>" +
          std::string("/Contents 4 0 R>>"),
      "<</Length " + std::to_string(content.size()) + ">>stream\n" + content + "\nendstream",
      "<</Type/Font/Subtype/Type0/BaseFont/AAAAAA+Text/Encoding/Identity-H" +
          std::string("/DescendantFonts[6 0 R]>>"),
      "<</Type/Font/Subtype/CIDFontType2/BaseFont/AAAAAA+Text/CIDSystemInfo<</Registry(Adobe)" +
          std::string(
              "/Ordering(Identity)/Supplement 0>>/FontDescriptor 7 0 R/CIDToGIDMap/Identity>>"),
      "<</Type/FontDescriptor/FontName/AAAAAA+Text/Flags 4/FontBBox[-1021 -463 1793 1232]" +
          std::string(
              "/ItalicAngle 0/Ascent 760/Descent -240/CapHeight 729/StemV 80/FontFile2 8 0 R>>"),
      "<</Length " + std::to_string(font.size()) + "/Length1 " + std::to_string(font.size()) +
          ">>stream\n" + font + "\nendstream",
  };
  std::string pdf = "%PDF-1.4\n";
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const std::size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (const std::size_t offset : offsets) {
    const std::string digits = std::to_string(offset);
    pdf += std::string(10 - digits.size(), '0') + digits + " 00000 n \n";
  }
  pdf += "trailer\n<</Size " + std::to_string(objects.size() + 1) + "/Root 1 0 R>>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

// mutool (MuPDF) and pdftoppm (Poppler) draw a subset's glyphs pixel for
// pixel as they draw the whole font's: neither needs cmap, post, name or
// OS/2, and stripped instructions change nothing for them.
TEST(FontCheckersTest, RenderersDrawSubsetsAsTheWholeFont) {
  const std::string whole = ReadFileBytes(QUILLANE_TEXT_FONT);
  const TrueTypeFont font = TrueTypeFont::Load(whole, "text");
  const std::vector<GlyphId> glyphs = GlyphsOf(font, U"Ab\u00E9\u0416\u03A9 fi!");
  ScratchDir dir;
  struct Renderer {
    const char* program;
    std::vector<std::string> arguments;  // the PDF and the output's name follow
    const char* suffix;                  // what the renderer adds to the output's name
  };
  const Renderer renderers[] = {{"mutool", {"draw", "-q", "-r", "72", "-o"}, ""},
                                {"pdftoppm", {"-gray", "-r", "72"}, "-1.pgm"}};
  for (const Renderer& renderer : renderers) {
    if (!ProgramAvailable(renderer.program))
      SKIP_OR_FAIL(std::string(renderer.program) + " missing");
    const auto render = [&](const std::string& embedded, const std::string& name) {
      const std::string pdf = dir.Write(name + ".pdf", PdfDrawing(embedded, glyphs));
      std::vector<std::string> argv = {renderer.program};
      argv.insert(argv.end(), renderer.arguments.begin(), renderer.arguments.end());
      const std::string out = dir.File(name + (renderer.suffix[0] == '\0' ? ".pgm" : ""));
      if (std::string(renderer.program) == "mutool") {
        argv.insert(argv.end(), {out, pdf});
      } else {
        argv.insert(argv.end(), {pdf, out});
      }
      const ProcessResult result = RunProcess(argv);
      EXPECT_EQ(result.exit_status, 0) << renderer.program << ": " << result.err;
      EXPECT_EQ(result.err.find("font"), std::string::npos)
          << renderer.program << ": " << result.err;
      return ReadFileBytes(out + renderer.suffix);
    };
    const std::string expected = render(whole, std::string(renderer.program) + "-whole");
    for (const Hinting hinting : {Hinting::kKeep, Hinting::kStrip}) {
      const std::string name =
          std::string(renderer.program) + (hinting == Hinting::kKeep ? "-hinted" : "-stripped");
      EXPECT_TRUE(BytesEqual(expected, render(font.Subset(glyphs, hinting), name))) << name;
    }
  }
}

// The /FontFile2 streams of `pdf` as qpdf decodes them.
std::vector<std::string> TrueTypePrograms(const fs::path& pdf) {
  const ProcessResult json = RunProcess({"qpdf", "--json=2", "--json-key=qpdf", pdf.string()});
  std::set<std::string> references;
  const std::string key = "\"/FontFile2\": \"";
  for (std::size_t at = json.out.find(key); at != std::string::npos;
       at = json.out.find(key, at + 1)) {
    const std::size_t start = at + key.size();
    const std::size_t end = json.out.find(" R\"", start);
    if (end == std::string::npos) break;
    std::string reference = json.out.substr(start, end - start);  // "12 0"
    reference[reference.find(' ')] = ',';
    references.insert(reference);
  }
  std::vector<std::string> programs;
  for (const std::string& reference : references) {
    const ProcessResult data =
        RunProcess({"qpdf", "--show-object=" + reference, "--filtered-stream-data", pdf.string()});
    if (!data.out.empty()) programs.push_back(data.out);
  }
  return programs;
}

TEST(FontCheckersTest, CorpusTrueTypeProgramsReadAndSubset) {
  const fs::path corpus = QUILLANE_CORPUS_DIR;
  if (!fs::exists(corpus / "MANIFEST.tsv")) SKIP_OR_FAIL("corpus not found at " + corpus.string());
  if (!ProgramAvailable("qpdf")) SKIP_OR_FAIL("qpdf missing");
  int files = 0;
  int programs = 0;
  int read = 0;
  int loaded = 0;
  int boxes = 0;
  for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
    if (entry.path().extension() != ".pdf") continue;
    const std::vector<std::string> found = TrueTypePrograms(entry.path());
    files += found.empty() ? 0 : 1;
    for (const std::string& program : found) {
      SCOPED_TRACE(entry.path().string() + ", program " + std::to_string(programs));
      ++programs;
      const std::optional<TrueTypeFont> font = TrueTypeFont::TryRead(program);
      if (!font) continue;
      ++read;
      EXPECT_EQ(fuzz::CheckTrueTypeFont(program), "");
      try {
        TrueTypeFont::Load(program, "corpus");
        ++loaded;
      } catch (const Error&) {
      }
      if (font->SummarizeOutlines().CommonBox) {
        ++boxes;
        std::printf("[ corpus   ] one box for every glyph: %s\n", entry.path().c_str());
      }
    }
  }
  std::printf(
      "[ corpus   ] %d TrueType programs in %d files: %d read (%d also as the text font), "
      "%d refused; %d whose outlined glyphs are one box\n",
      programs, files, read, loaded, programs - read, boxes);
  EXPECT_GT(programs, 0);
}

}  // namespace
}  // namespace quillane::test
