// Whole processing runs on documents held in memory, read through their
// Outcome: the run decides the output and its refusal once, saves without
// replacing a file unless asked to, and refuses a file that appeared while
// it worked. The templates are the shipped ones from data/.
#include "app/image_remover.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/error.h"
#include "support/memory_file_access.h"
#include "support/pdf_builder.h"
#include "support/test_util.h"

namespace quillane {
namespace {

using test::MemoryFileAccess;
using test::ReadFileBytes;
using test::ScratchDir;

// A file in memory that makes a file appear at `path` when the update is
// appended: after the run has looked for an existing output, before it saves.
class OutputAppearsDuringRun final : public MemoryFileAccess {
 public:
  OutputAppearsDuringRun(std::string_view bytes, std::string path)
      : MemoryFileAccess(bytes), path_(std::move(path)) {}
  void Append(const Text& text) override {
    test::WriteFileBytes(path_, "someone else's file");
    MemoryFileAccess::Append(text);
  }
  void AppendSpill(std::shared_ptr<Spill> spill) override {
    test::WriteFileBytes(path_, "someone else's file");
    MemoryFileAccess::AppendSpill(std::move(spill));
  }

 private:
  std::string path_;
};

class RunTest : public ::testing::Test {
 protected:
  RunTest() {
    remover_.TemplateFolder = QUILLANE_SOURCE_DIR "/data/";
    // The registry file of this test only: the run reads no other.
    environment_.Set("QUILLANE_REGISTRY", dir_.File("registry.reg"));
  }

  Options OptionsFor(const std::string& input) const {
    Options options;
    options.InputFile = dir_.File(input);
    options.OutputFile = dir_.File("out.pdf");
    return options;
  }

  ScratchDir dir_;
  test::ScopedEnvironment environment_;
  TImageRemover remover_;
};

TEST_F(RunTest, OutcomesOfTheRunAndWhatIsSaved) {
  const std::string document = test::OneImagePdf();
  const std::string encrypted = test::OneImagePdf(0, "/Encrypt 9 0 R");
  // The last "startxref" names no section: repaired, or refused as ever when
  // the trailer found says encrypted; the light mode reads no trailer.
  const auto damaged = [](std::string pdf) { return pdf.insert(pdf.rfind("startxref") + 10, "1"); };
  const struct {
    const char* name;
    std::string input;
    ReplaceMode mode;
    bool overwrite;
    const char* existing;  // the file at the output's path before the run
    Outcome outcome;
    bool extended;  // the output is the input followed by an update
  } cases[] = {
      {"default", document, ReplaceDefault, false, nullptr, Outcome::kSaved, true},
      {"light", document, ReplaceNone, false, nullptr, Outcome::kSaved, false},
      {"encrypted", encrypted, ReplaceDefault, false, nullptr, Outcome::kRefusedEncrypted, false},
      {"exists", document, ReplaceDefault, false, "old", Outcome::kRefusedOutputExists, false},
      {"overwrite", document, ReplaceDefault, true, "old", Outcome::kSaved, true},
      {"damaged", damaged(document), ReplaceOutline, false, nullptr, Outcome::kSaved, true},
      {"damaged-light", damaged(document), ReplaceNone, false, nullptr, Outcome::kSaved, false},
      {"damaged-encrypted", damaged(encrypted), ReplaceDefault, false, nullptr,
       Outcome::kRefusedEncrypted, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(dir_.File("out.pdf"));
    if (c.existing != nullptr) dir_.Write("out.pdf", c.existing);
    MemoryFileAccess source(c.input);
    Options options = OptionsFor("in.pdf");
    options.ReplaceMode = c.mode;
    options.OverwriteOutput = c.overwrite;
    EXPECT_EQ(remover_.Run(options, source), c.outcome);
    EXPECT_EQ(source.LoadedPath(), dir_.File("in.pdf"));
    const bool exists = std::filesystem::exists(dir_.File("out.pdf"));
    if (c.outcome != Outcome::kSaved) {
      EXPECT_EQ(exists ? ReadFileBytes(dir_.File("out.pdf")) : "", c.existing ? c.existing : "");
      continue;
    }
    const std::string output = ReadFileBytes(dir_.File("out.pdf"));
    EXPECT_EQ(output.size() > c.input.size(), c.extended);
    if (c.extended) {
      EXPECT_TRUE(output.starts_with(c.input));
    } else {
      EXPECT_EQ(test::CountRenamedImageNames(c.input, output), 1);
    }
  }
}

TEST_F(RunTest, NothingToDoWithoutAnInputAndErrorsSaveNothing) {
  MemoryFileAccess unused("");
  EXPECT_EQ(remover_.Run(Options{}, unused), Outcome::kNothingToDo);
  EXPECT_TRUE(unused.LoadedPath().empty());

  MemoryFileAccess damaged("no trailer here\n");
  EXPECT_THROW_MSG(remover_.Run(OptionsFor("in.pdf"), damaged), Error,
                   "No startxref offset found at the end of the file; it is not a PDF file or it "
                   "is damaged.");
  EXPECT_FALSE(std::filesystem::exists(dir_.File("out.pdf")));
}

// Without "/overwrite" a file that appears while the run works is refused
// like one that was there before, and stays as it is; with "/overwrite" it is
// replaced.
TEST_F(RunTest, AnOutputThatAppearsDuringTheRunIsNotReplaced) {
  const std::string document = test::OneImagePdf();
  OutputAppearsDuringRun source(document, dir_.File("out.pdf"));
  EXPECT_EQ(remover_.Run(OptionsFor("in.pdf"), source), Outcome::kRefusedOutputExists);
  EXPECT_EQ(ReadFileBytes(dir_.File("out.pdf")), "someone else's file");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()), {}), 1)
      << "a temporary file was left";

  std::filesystem::remove(dir_.File("out.pdf"));
  OutputAppearsDuringRun again(document, dir_.File("out.pdf"));
  Options options = OptionsFor("in.pdf");
  options.OverwriteOutput = true;
  EXPECT_EQ(remover_.Run(options, again), Outcome::kSaved);
  EXPECT_TRUE(ReadFileBytes(dir_.File("out.pdf")).starts_with(document));
}

}  // namespace
}  // namespace quillane
