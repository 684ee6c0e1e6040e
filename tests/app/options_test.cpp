#include "app/options.h"

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
    const Options options = ParseArguments(c.arguments, std::nullopt);
    std::string shown;
    for (const auto& argument : c.arguments) shown += argument + " ";
    EXPECT_EQ(options.Diagnostics, c.diag) << shown;
    EXPECT_EQ(options.InputFile, c.input) << shown;
    EXPECT_EQ(options.OutputFile, c.output) << shown;
    EXPECT_EQ(options.OverwriteOutput, c.overwrite) << shown;
    EXPECT_EQ(options.TempExec, c.tempExec) << shown;
    EXPECT_EQ(options.ReplaceMode, c.mode) << shown;
    EXPECT_EQ(options.Redirect, c.redirect) << shown;
  }
}

TEST(ParseArguments, AStoredModeWinsOverNoother) {
  const struct {
    std::vector<Text> arguments;
    std::optional<ReplaceMode> stored;
    ReplaceMode mode;
  } cases[] = {
      {{"/noother"}, ReplaceTGrayBox, ReplaceTGrayBox}, {{}, ReplaceTGrayBox, ReplaceTGrayBox},
      {{"/noother"}, ReplaceNone, ReplaceNone},         {{}, ReplaceNone, ReplaceNone},
      {{"/noother"}, std::nullopt, ReplaceNone},        {{}, std::nullopt, ReplaceDefault},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseArguments(c.arguments, c.stored).ReplaceMode, c.mode)
        << c.arguments.size() << " argument(s), stored " << (c.stored ? int{*c.stored} : -1);
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
    Options options;
    options.InputFile = native(c.input);
    const OutputTarget target = OutputTargetFor(options);
    EXPECT_EQ(target.Path, native(c.output)) << c.input;
    EXPECT_FALSE(target.Temporary);
  }
}

TEST(OutputPath, TempExecPutsTheFileNameIntoTheFolderOfTheCopies) {
  Options options;
  options.InputFile = "/my.docs/report.pdf";
  options.TempExec = true;
  OutputTarget target = OutputTargetFor(options);
  EXPECT_EQ(target.Path, platform::ViewCopyDirectory() + "report_Vexlo.pdf");
  EXPECT_TRUE(target.Temporary);
  // A folder of its own inside the temporary directory.
  const Text temporary = platform::TemporaryDirectory();
  EXPECT_EQ(target.Path.compare(0, temporary.size(), temporary), 0) << target.Path;
  EXPECT_GT(platform::ViewCopyDirectory().size(), temporary.size());

  options.OutputFile = "given.pdf";
  target = OutputTargetFor(options);
  EXPECT_EQ(target.Path, "given.pdf");
  EXPECT_FALSE(target.Temporary);
}

TEST(DirectoryOf, KeepsTheLastSeparator) {
  EXPECT_EQ(platform::DirectoryOf("/opt/quillane/quillane"), "/opt/quillane/");
  EXPECT_EQ(platform::DirectoryOf("quillane"), "");
  EXPECT_EQ(platform::FileNameOf("/opt/quillane/quillane"), "quillane");
  EXPECT_EQ(platform::FileNameOf("quillane"), "quillane");
}

}  // namespace
}  // namespace quillane
