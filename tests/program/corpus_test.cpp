// Conformance over the shared corpus of real-world PDFs (MANIFEST.tsv lists
// them with byte-level facts about each): every file runs through the real
// executable in each mode. The run must end cleanly (a saved output, the
// encryption refusal, or one clear error line), the output must keep the
// input's bytes, and what the run reports must agree with the manifest. With
// qpdf installed, an input qpdf accepts must give an output it accepts too.
// Without the corpus the tests skip.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_util.h"

namespace quillane::test {
namespace {

namespace fs = std::filesystem;

const std::string kEncryptedMessage =
    "Quillane: Quillane cannot handle this file, because the file is secured/encrypted.\n";

using ManifestRow = std::map<std::string, std::string>;

std::vector<ManifestRow> ReadManifest(const fs::path& path) {
  std::ifstream in(path);
  std::vector<std::string> columns;
  std::vector<ManifestRow> rows;
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields;
    std::stringstream cells(line);
    for (std::string cell; std::getline(cells, cell, '\t');) fields.push_back(cell);
    if (columns.empty()) {
      columns = fields;
      continue;
    }
    ManifestRow row;
    for (std::size_t i = 0; i < columns.size(); ++i) {
      row[columns[i]] = i < fields.size() ? fields[i] : "";
    }
    rows.push_back(row);
  }
  return rows;
}

int CountLinesStartingWith(const std::string& text, const std::string& prefix) {
  int count = 0;
  std::stringstream lines(text);
  for (std::string line; std::getline(lines, line);) count += line.rfind(prefix, 0) == 0 ? 1 : 0;
  return count;
}

// qpdf --check's verdict: 0 clean, 3 warnings, 2 errors.
int QpdfCheck(const std::string& path) { return RunProcess({"qpdf", "--check", path}).exit_status; }

// The verdicts on the corpus files, shared by the modes' tests.
int QpdfCheckInput(const std::string& path) {
  static std::map<std::string, int> verdicts;
  const auto known = verdicts.find(path);
  if (known != verdicts.end()) return known->second;
  return verdicts[path] = QpdfCheck(path);
}

struct Mode {
  const char* name;
  std::vector<std::string> flags;
  const char* replace_object;  // registry value, empty for none
};

// Test names and failure messages show the mode by its name.
void PrintTo(const Mode& mode, std::ostream* out) { *out << mode.name; }

class CorpusTest : public ::testing::TestWithParam<Mode> {
 protected:
  void SetUp() override {
    corpus_ = QUILLANE_CORPUS_DIR;
    if (!fs::exists(corpus_ / "MANIFEST.tsv")) {
      GTEST_SKIP() << "corpus not found at " << corpus_.string()
                   << "; the conformance tests over it are skipped";
    }
  }

  fs::path corpus_;
};

TEST_P(CorpusTest, EveryFileEndsCleanlyAndKeepsItsBytes) {
  const Mode& mode = GetParam();
  const bool light = std::string(mode.name) == "none";
  const bool qpdf = ProgramAvailable("qpdf");
  if (!qpdf) std::fprintf(stderr, "qpdf not installed: output checks by qpdf skipped\n");

  ScratchDir dir;
  const std::string registry = dir.File("registry.reg");
  const std::string log = dir.File("run.log");
  const std::string out = dir.File("out.pdf");
  WriteFileBytes(registry, RegistryWithReplaceObject(mode.replace_object));

  int saved = 0, refused = 0, failed = 0;
  for (const ManifestRow& row : ReadManifest(corpus_ / "MANIFEST.tsv")) {
    const std::string file = row.at("file");
    SCOPED_TRACE(file);
    const std::string input = ReadFileBytes(corpus_ / file);
    fs::remove(out);
    fs::remove(log);

    std::vector<std::string> argv{QUILLANE_EXE};
    argv.insert(argv.end(), mode.flags.begin(), mode.flags.end());
    argv.insert(argv.end(), {"/in", (corpus_ / file).string(), "/out", out});
    ProcessOptions options;
    options.env["QUILLANE_REGISTRY"] = registry;
    options.env["QUILLANE_LOG"] = log;
    const ProcessResult result = RunProcess(argv, options);
    const std::string lines = fs::exists(log) ? ReadFileBytes(log) : "";

    // A clean end: no signal, no sanitizer report, and one of three outcomes.
    ASSERT_EQ(result.signal, 0) << result.err;
    ASSERT_EQ(result.err.find("Sanitizer"), std::string::npos) << result.err;
    ASSERT_EQ(result.err.find("runtime error"), std::string::npos) << result.err;
    EXPECT_TRUE(BytesEqual(input, ReadFileBytes(corpus_ / file))) << "input changed";
    const bool has_output = fs::exists(out);
    if (result.exit_status == 0 && result.err.empty()) {
      ++saved;
      ASSERT_TRUE(has_output);
    } else if (result.exit_status == 3 && result.err == kEncryptedMessage && !light) {
      ++refused;
      EXPECT_FALSE(has_output);
      EXPECT_EQ(CountLinesStartingWith(lines, "Encrypt obj: "), 1);
      continue;
    } else {
      ++failed;
      EXPECT_EQ(result.exit_status, 1);
      EXPECT_EQ(result.err.rfind("Quillane: ", 0), 0u) << result.err;
      EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
      EXPECT_FALSE(has_output);
    }

    // Where the end of the file is what the manifest reads there, the run
    // finds the section and refuses exactly the encrypted files.
    const bool sound_end = row.at("tool_offset") == row.at("startxref") &&
                           row.at("tool_section") == row.at("last_xref");
    if (!light && sound_end) {
      EXPECT_EQ(result.err == kEncryptedMessage, row.at("encrypted") == "yes") << result.err;
      EXPECT_EQ(result.err.find("No cross-reference section"), std::string::npos);
    }
    if (!has_output) continue;

    // The walk sees what the manifest counts: every hit, and no more
    // recorded objects than hits with a header.
    const std::string output = ReadFileBytes(out);
    EXPECT_EQ(CountLinesStartingWith(lines, "Found image @ "), std::stoi(row.at("walk_hits")));
    if (light) {
      EXPECT_EQ(result.exit_status, 0);
      EXPECT_EQ(CountRenamedImageNames(input, output), std::stoi(row.at("walk_hits")));
    } else {
      EXPECT_LE(CountLinesStartingWith(lines, "object: "), std::stoi(row.at("images_recordable")));
      EXPECT_TRUE(output.starts_with(input)) << "output does not start with the input";
      EXPECT_TRUE(output.ends_with("%%EOF\r\n"));
    }

    // An input qpdf accepts gives an output it accepts, without new warnings
    // where the input had none. (The light mode's outputs are left to the
    // conformance script, to keep this run short.)
    if (qpdf && !light) {
      const int before = QpdfCheckInput((corpus_ / file).string());
      if (before == 0 || before == 3) {
        const int after = QpdfCheck(out);
        EXPECT_TRUE(after == 0 || after == 3) << "qpdf --check exit " << after;
        if (before == 0) {
          EXPECT_EQ(after, 0) << "qpdf --check warns on the output only";
        }
      }
    }
  }
  std::printf("[ corpus   ] mode %s: %d saved, %d refused as encrypted, %d failed with an error\n",
              mode.name, saved, refused, failed);
}

INSTANTIATE_TEST_SUITE_P(Modes, CorpusTest,
                         ::testing::Values(Mode{"default", {}, ""}, Mode{"none", {"/noother"}, ""},
                                           Mode{"tgraybox", {}, "tgraybox"},
                                           Mode{"outline", {"/outline"}, ""}),
                         [](const ::testing::TestParamInfo<Mode>& param_info) {
                           return std::string(param_info.param.name);
                         });

}  // namespace
}  // namespace quillane::test
