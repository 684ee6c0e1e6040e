// Desktop entries: which ones count as installed, how IDs name their files,
// and the translation of their Exec lines into reader commands.
#include "platform/posix/desktop_entry.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "platform/command_line.h"
#include "platform/platform.h"
#include "platform/posix/desktop_test_folders.h"

namespace quillane {
namespace {

using test::DesktopTest;

// ---------------------------------------------------------------------------
// Exec translation

TEST(TranslateDesktopExecTest, Table) {
  struct Case {
    Text Exec, Command;
  };
  const Case cases[] = {
      {"evince %U", "evince \"%1\""},
      {"/usr/bin/okular %u", "/usr/bin/okular \"%1\""},
      {"xreader %f", "xreader \"%1\""},
      {"mupdf %F", "mupdf \"%1\""},
      {"reader --file=%f --new", "reader \"--file=%1\" --new"},
      {"\"/opt/My Reader/reader\" %U", "\"/opt/My Reader/reader\" \"%1\""},
      // %% is a percent sign; other field codes and their empty arguments go.
      {"reader --zoom=100%% %i %c %k %d %D %n %N %v %m %z %f", "reader --zoom=100% \"%1\""},
      {"reader %", "reader"},
      {"reader --icon=%i", "reader --icon="},
      // String escapes first, then the quoting of arguments.
      {"reader\\s--flag %f", "reader --flag \"%1\""},
      {"reader \"a\\\\\\\\b\" \"\\\\$HOME\" \"\\\\`x\\\\`\"", "reader a\\b $HOME `x`"},
      {"sh -c \"exec reader \\\\\"\\\\$1\\\\\"\" sh %f", "sh -c \"exec reader $1\" sh \"%1\""},
      {"reader \"two words\" \"\" x", "reader \"two words\" x"},
      {"  reader\t\t%f  ", "reader \"%1\""},
      {"", ""},
      {"%i %c", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(TranslateDesktopExec(c.Exec), c.Command) << c.Exec;
}

TEST(TranslateDesktopExecTest, DocumentPathArrivesAsOneArgument) {
  // What the reader start does with the command: %1 replaced, then split.
  const Text path = "/home/u/My Files/report; $(x) `y`.pdf";
  const struct {
    Text Exec;
    std::vector<Text> Arguments;
  } cases[] = {
      {"evince %U", {"evince", path}},
      {"\"/opt/My Reader/reader\" --new %f", {"/opt/My Reader/reader", "--new", path}},
      {"reader --file=%u", {"reader", "--file=" + path}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SplitCommandLine(ReplaceAll(TranslateDesktopExec(c.Exec), "%1", path)), c.Arguments)
        << c.Exec;
  }
}

// ---------------------------------------------------------------------------
// Installed entries

TEST_F(DesktopTest, OnlyInstalledApplicationsCount) {
  App("sys1", "hidden.desktop", "x %f", "application/pdf;");
  App("home", "hidden.desktop", "x %f", "application/pdf;", "Hidden=true\n");  // hides sys1's
  App("sys1", "link.desktop", "x %f", "application/pdf;", "Type=Link\n");
  Write("sys1/applications/noexec.desktop",
        "[Desktop Entry]\nType=Application\nMimeType=application/pdf;\n");
  App("sys1", "missing.desktop", "x %f", "application/pdf;", "TryExec=quillane-no-such-tool\n");
  Write("sys1/applications/other-group.desktop",
        "[Desktop Action x]\nType=Application\nExec=x\nMimeType=application/pdf;\n");
  EXPECT_EQ(Default(), "");
  App("sys1", "real.desktop", "x %f", "application/pdf;", "TryExec=/bin/sh\n");
  EXPECT_EQ(Default(), "real.desktop");
}

TEST_F(DesktopTest, IdsOfEntriesInSubfolders) {
  App("sys1", "kde4/okular.desktop", "okular %U", "application/pdf;");
  EXPECT_EQ(Default(), "kde4-okular.desktop");
  EXPECT_EQ(DesktopEntryExec(XdgDirectories::FromEnvironment().DataDirs, "kde4-okular.desktop"),
            std::optional<Text>("okular %U"));
  App("sys1", "plain.desktop", "plain %f");
  Write("cfg/mimeapps.list", "[Default Applications]\napplication/pdf=kde4-okular.desktop\n");
  EXPECT_EQ(Default(), "kde4-okular.desktop");
  EXPECT_EQ(
      DesktopEntryExec(XdgDirectories::FromEnvironment().DataDirs, "../applications/plain.desktop"),
      std::nullopt);
}

}  // namespace
}  // namespace quillane
