#include "app/image_remover.h"

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace quillane {
namespace {

struct ParseCase {
  std::vector<Text> arguments;
  const char* input;
  const char* output;
  bool overwrite;
  bool tempExec;
  ReplaceMode mode;
  bool redirect;
  bool diag;
};

TEST(ParseArguments, ExactWordsValuesTakenWholeUnknownIgnored) {
  const ParseCase cases[] = {
      {{}, "", "", false, false, ReplaceDefault, false, false},
      {{"x.pdf"}, "", "", false, false, ReplaceDefault, false, false},
      {{"/in", "a.pdf", "/out", "b.pdf"},
       "a.pdf",
       "b.pdf",
       false,
       false,
       ReplaceDefault,
       false,
       false},
      {{"/in", "/overwrite", "x.pdf"},
       "/overwrite",
       "",
       false,
       false,
       ReplaceDefault,
       false,
       false},
      {{"/in", "x.pdf", "/diag", "/overwrite"},
       "x.pdf",
       "",
       false,
       false,
       ReplaceDefault,
       false,
       true},
      {{"/Overwrite", "/IN", "x.pdf"}, "", "", false, false, ReplaceDefault, false, false},
      {{"/in"}, "", "", false, false, ReplaceDefault, false, false},
      {{"/in", "a", "/in", "b"}, "b", "", false, false, ReplaceDefault, false, false},
      {{"/overwrite", "/tempexec", "/noother", "/redirect"},
       "",
       "",
       true,
       true,
       ReplaceNone,
       true,
       false},
  };
  for (const auto& c : cases) {
    TImageRemover job;
    const bool diag = job.ParseArguments(c.arguments);
    std::string shown;
    for (const auto& argument : c.arguments) shown += argument + " ";
    EXPECT_EQ(diag, c.diag) << shown;
    EXPECT_EQ(job.InputFile, c.input) << shown;
    EXPECT_EQ(job.OutputFile, c.output) << shown;
    EXPECT_EQ(job.OverwriteOutput, c.overwrite) << shown;
    EXPECT_EQ(job.TempExec, c.tempExec) << shown;
    EXPECT_EQ(job.ReplaceMode, c.mode) << shown;
    EXPECT_EQ(job.Redirect, c.redirect) << shown;
  }
}

TEST(OutputPath, SuffixBeforeTheLastExtensionOfTheFileName) {
  const char separator = platform::IsPathSeparator('\\') ? '\\' : '/';
  auto native = [separator](std::string path) {
    for (char& c : path) {
      if (c == '/') c = separator;
    }
    return path;
  };
  const struct {
    const char* input;
    const char* output;
  } cases[] = {
      {"/docs/report.pdf", "/docs/report_Vexlo.pdf"},
      {"/docs/report", "/docs/report_Vexlo"},
      {"/my.docs/report", "/my.docs/report_Vexlo"},
      {"/docs/a.b.pdf", "/docs/a.b_Vexlo.pdf"},
      {"report.PDF", "report_Vexlo.PDF"},
      {"/docs/.hidden", "/docs/_Vexlo.hidden"},
  };
  for (const auto& c : cases) {
    TImageRemover job;
    job.InputFile = native(c.input);
    bool temporary = true;
    EXPECT_EQ(job.OutputPath(temporary), native(c.output)) << c.input;
    EXPECT_FALSE(temporary);
  }
}

TEST(OutputPath, TempExecPutsTheFileNameIntoTheTemporaryDirectory) {
  TImageRemover job;
  job.InputFile = "/my.docs/report.pdf";
  job.TempExec = true;
  bool temporary = false;
  EXPECT_EQ(job.OutputPath(temporary), platform::TemporaryDirectory() + "report_Vexlo.pdf");
  EXPECT_TRUE(temporary);

  job.OutputFile = "given.pdf";
  EXPECT_EQ(job.OutputPath(temporary), "given.pdf");
  EXPECT_FALSE(temporary);
}

TEST(DirectoryOf, KeepsTheLastSeparator) {
  EXPECT_EQ(DirectoryOf("/opt/quillane/quillane"), "/opt/quillane/");
  EXPECT_EQ(DirectoryOf("quillane"), "");
}

}  // namespace
}  // namespace quillane
