#include "app/options.h"

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace quillane {
namespace {

using platform::CommandLineStyle;
using Kind = CommandLine::Kind;
constexpr CommandLineStyle kPosix = CommandLineStyle::kPosix;
constexpr CommandLineStyle kWindows = CommandLineStyle::kWindows;

std::string Shown(const std::vector<Text>& arguments) {
  std::string shown;
  for (const auto& argument : arguments) shown += "[" + argument + "]";
  return shown;
}

TEST(ProcessCommandLine, WhatAnInvocationAsksFor) {
  const struct {
    CommandLineStyle style;
    std::vector<Text> arguments;
    Kind kind;
    std::vector<Text> inputs;
    const char* output;
    const char* problem;
  } cases[] = {
      // Inputs from "/in" and from arguments that are no option, in order.
      {kPosix, {"x.pdf"}, Kind::kRuns, {"x.pdf"}, "", ""},
      {kPosix, {"/in", "a.pdf", "/out", "b.pdf"}, Kind::kRuns, {"a.pdf"}, "b.pdf", ""},
      {kPosix, {"/in", "a", "/in", "b", "c"}, Kind::kRuns, {"a", "b", "c"}, "", ""},
      // The value of "/in" is taken whatever it looks like.
      {kPosix, {"/in", "/overwrite", "x.pdf"}, Kind::kRuns, {"/overwrite", "x.pdf"}, "", ""},
      {kPosix, {"/in", "-print.pdf"}, Kind::kRuns, {"-print.pdf"}, "", ""},
      // On POSIX an absolute path begins with "/": it is an input.
      {kPosix,
       {"/Overwrite", "/IN", "/docs/x.pdf"},
       Kind::kRuns,
       {"/Overwrite", "/IN", "/docs/x.pdf"},
       "",
       ""},
      {kPosix, {"/?"}, Kind::kRuns, {"/?"}, "", ""},
      {kPosix, {}, Kind::kUsageError, {}, "", ""},
      {kPosix, {"/in"}, Kind::kUsageError, {}, "", ""},
      {kPosix, {"/overwrite"}, Kind::kUsageError, {}, "", ""},
      {kPosix,
       {"a.pdf", "b.pdf", "/out", "c.pdf"},
       Kind::kUsageError,
       {"a.pdf", "b.pdf"},
       "c.pdf",
       "\"/out\" cannot be used with more than one input file"},
      {kPosix, {"-x"}, Kind::kUsageError, {}, "", "unknown option \"-x\""},
      {kPosix, {"a.pdf", "-"}, Kind::kUsageError, {"a.pdf"}, "", "unknown option \"-\""},
      {kPosix, {"-h"}, Kind::kHelp, {}, "", ""},
      {kPosix, {"a.pdf", "--help", "-x"}, Kind::kHelp, {"a.pdf"}, "", ""},
      {kPosix, {"-V"}, Kind::kVersion, {}, "", ""},
      {kPosix, {"--version"}, Kind::kVersion, {}, "", ""},
      // "/diag" ends the parse; nothing after it is looked at.
      {kPosix, {"/in", "x.pdf", "/diag", "/overwrite"}, Kind::kDiagnostics, {"x.pdf"}, "", ""},
      {kPosix, {"/diag"}, Kind::kDiagnostics, {}, "", ""},
      // Windows: nothing or "/?" explains the program; an unknown word that
      // begins with "/" is passed over; "-" has no meaning.
      {kWindows, {}, Kind::kHelp, {}, "", ""},
      {kWindows, {"/?"}, Kind::kHelp, {}, "", ""},
      {kWindows, {"/Overwrite", "/IN", "C:\\x.pdf"}, Kind::kRuns, {"C:\\x.pdf"}, "", ""},
      {kWindows, {"/in"}, Kind::kRuns, {}, "", ""},
      {kWindows, {"/overwrite"}, Kind::kRuns, {}, "", ""},
      {kWindows, {"-h", "x.pdf"}, Kind::kRuns, {"-h", "x.pdf"}, "", ""},
      {kWindows,
       {"a.pdf", "b.pdf", "/out", "c.pdf"},
       Kind::kUsageError,
       {"a.pdf", "b.pdf"},
       "c.pdf",
       "\"/out\" cannot be used with more than one input file"},
      // The light mode keeps every byte: a compact file cannot be made in it.
      {kPosix,
       {"/compact", "/noother", "x.pdf"},
       Kind::kUsageError,
       {"x.pdf"},
       "",
       "\"/compact\" cannot be used with the light mode"},
      {kWindows,
       {"/noother", "/compact", "x.pdf"},
       Kind::kUsageError,
       {"x.pdf"},
       "",
       "\"/compact\" cannot be used with the light mode"},
      {kPosix, {"/compact", "/outline", "x.pdf"}, Kind::kRuns, {"x.pdf"}, "", ""},
  };
  for (const auto& c : cases) {
    const CommandLine line = ProcessCommandLine(c.arguments, c.style, {});
    const std::string shown = (c.style == kPosix ? "posix " : "windows ") + Shown(c.arguments);
    EXPECT_EQ(line.Request, c.kind) << shown;
    EXPECT_EQ(line.Inputs, c.inputs) << shown;
    EXPECT_EQ(line.Options.OutputFile, c.output) << shown;
    EXPECT_EQ(line.UsageError, c.problem) << shown;
    EXPECT_EQ(line.Options.InputFile, "") << shown;
  }
}

TEST(ProcessCommandLine, FlagsStaySetAndWordsAreExact) {
  const struct {
    std::vector<Text> arguments;
    bool overwrite;
    bool tempExec;
    ReplaceMode mode;
    bool redirect;
    bool inlineImages = false;
    bool showText = false;
  } cases[] = {
      {{"x"}, false, false, ReplaceDefault, false},
      {{"/overwrite", "/tempexec", "/noother", "/redirect", "x"}, true, true, ReplaceNone, true},
      {{"x", "/overwrite", "/overwrite"}, true, false, ReplaceDefault, false},
      {{"/Overwrite", "/TEMPEXEC", "/Inline", "x"}, false, false, ReplaceDefault, false},
      {{"/inline", "/noother", "x"}, false, false, ReplaceNone, false, true},
      {{"/showtext", "x", "/ShowText"}, false, false, ReplaceDefault, false, false, true},
  };
  for (const auto& c : cases) {
    for (const CommandLineStyle style : {kPosix, kWindows}) {
      const Options options = ProcessCommandLine(c.arguments, style, {}).Options;
      EXPECT_EQ(options.OverwriteOutput, c.overwrite) << Shown(c.arguments);
      EXPECT_EQ(options.TempExec, c.tempExec) << Shown(c.arguments);
      EXPECT_EQ(options.ReplaceMode, c.mode) << Shown(c.arguments);
      EXPECT_EQ(options.Redirect, c.redirect) << Shown(c.arguments);
      EXPECT_EQ(options.ReplaceInline, c.inlineImages) << Shown(c.arguments);
      EXPECT_EQ(options.ShowText, c.showText) << Shown(c.arguments);
    }
  }
}

TEST(ProcessCommandLine, AStoredModeWinsOverTheModeOptions) {
  const struct {
    std::vector<Text> arguments;
    std::optional<ReplaceMode> stored;
    ReplaceMode mode;
  } cases[] = {
      {{"/noother"}, ReplaceTGrayBox, ReplaceTGrayBox},
      {{}, ReplaceTGrayBox, ReplaceTGrayBox},
      {{"/noother"}, ReplaceNone, ReplaceNone},
      {{}, ReplaceNone, ReplaceNone},
      {{"/noother"}, std::nullopt, ReplaceNone},
      {{}, std::nullopt, ReplaceDefault},
      {{"/outline"}, std::nullopt, ReplaceOutline},
      {{"/outline"}, ReplaceTGrayBox, ReplaceTGrayBox},
      {{"/outline"}, ReplaceNone, ReplaceNone},
      {{"/noother"}, ReplaceOutline, ReplaceOutline},
      {{}, ReplaceOutline, ReplaceOutline},
      // Of two mode options the last one given counts.
      {{"/outline", "/noother"}, std::nullopt, ReplaceNone},
      {{"/noother", "/outline"}, std::nullopt, ReplaceOutline},
      {{"/Outline"}, std::nullopt, ReplaceDefault},
  };
  for (const auto& c : cases) {
    std::vector<Text> arguments = c.arguments;
    arguments.push_back("x.pdf");
    EXPECT_EQ(ProcessCommandLine(arguments, kPosix, StoredSettings{c.stored, false, false})
                  .Options.ReplaceMode,
              c.mode)
        << Shown(c.arguments) << " stored " << (c.stored ? int{*c.stored} : -1);
  }
}

// The stored "ReplaceInline" and "ShowText" turn their options on; they
// cannot turn them off.
TEST(ProcessCommandLine, StoredFlagsTurnTheirOptionsOn) {
  for (const bool stored : {false, true}) {
    for (const bool option : {false, true}) {
      std::vector<Text> arguments = {"x.pdf"};
      if (option) arguments.push_back("/inline");
      if (option) arguments.push_back("/showtext");
      const Options options =
          ProcessCommandLine(arguments, kPosix, StoredSettings{std::nullopt, stored, stored})
              .Options;
      EXPECT_EQ(options.ReplaceInline, stored || option) << stored << option;
      EXPECT_EQ(options.ShowText, stored || option) << stored << option;
    }
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
// A stored light mode wins over the options, so "/compact" is refused
// with it too, while a stored translucent mode leaves it a run.
TEST(ProcessCommandLine, CompactIsAUsageErrorWithTheStoredLightMode) {
  StoredSettings light;
  light.Mode = ReplaceNone;
  StoredSettings translucent;
  translucent.Mode = ReplaceTGrayBox;
  for (const CommandLineStyle style : {kPosix, kWindows}) {
    EXPECT_EQ(ProcessCommandLine({"/compact", "x.pdf"}, style, light).Request, Kind::kUsageError);
    const CommandLine line = ProcessCommandLine({"/compact", "x.pdf"}, style, translucent);
    EXPECT_EQ(line.Request, Kind::kRuns);
    EXPECT_TRUE(line.Options.Compact);
    EXPECT_FALSE(ProcessCommandLine({"x.pdf"}, style, light).Options.Compact);
  }
}

}  // namespace quillane
