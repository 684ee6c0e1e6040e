// The freedesktop PDF association and the registry values the POSIX registry
// derives from it, with temporary XDG folders.
#include "platform/posix/desktop_association.h"

#include <stdlib.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "platform/command_line.h"
#include "platform/platform.h"
#include "platform/posix/registry.h"
#include "support/test_util.h"

namespace quillane {
namespace {

namespace fs = std::filesystem;
using test::ScopedEnvironment;

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
// Association rules

// A desktop of its own: config home "cfg", config dir "etc", data home
// "home", data dirs "sys1" and "sys2", and a registry file.
class DesktopTest : public ::testing::Test {
 protected:
  DesktopTest() {
    env_.Set("XDG_CONFIG_HOME", Folder("cfg"));
    env_.Set("XDG_CONFIG_DIRS", Folder("etc"));
    env_.Set("XDG_DATA_HOME", Folder("home"));
    env_.Set("XDG_DATA_DIRS", Folder("sys1") + ":" + Folder("sys2"));
    env_.Set("XDG_CURRENT_DESKTOP", "");
    env_.Set("QUILLANE_REGISTRY", Folder("registry") + "/registry.reg");
  }

  std::string Folder(const std::string& name) const { return scratch_.File(name); }

  // Writes `text` to `relative` below the scratch folder.
  void Write(const std::string& relative, const std::string& text) {
    // The registry keeps what it read of the desktop for the process.
    platform::posix::ForgetRegistryReads();
    const fs::path path = scratch_.Path() / relative;
    fs::create_directories(path.parent_path());
    test::WriteFileBytes(path, text);
  }

  // An application entry in the applications folder of data folder `data`.
  void App(const std::string& data, const std::string& file, const std::string& exec,
           const std::string& mimeTypes = "", const std::string& extra = "") {
    Write(data + "/applications/" + file, "[Desktop Entry]\nType=Application\nName=" + file +
                                              "\nExec=" + exec + "\nMimeType=" + mimeTypes + "\n" +
                                              extra);
  }

  Text Default() const {
    return DefaultDesktopApplication(XdgDirectories::FromEnvironment(), "application/pdf");
  }

  test::ScratchDir scratch_;
  ScopedEnvironment env_;
};

TEST_F(DesktopTest, EnvironmentGivesTheFoldersInOrder) {
  env_.Set("XDG_DATA_DIRS", Folder("sys1") + "/:relative::" + Folder("sys2"));
  env_.Set("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
  const XdgDirectories dirs = XdgDirectories::FromEnvironment();
  EXPECT_EQ(dirs.ConfigDirs, (std::vector<Text>{Folder("cfg"), Folder("etc")}));
  EXPECT_EQ(dirs.DataDirs, (std::vector<Text>{Folder("home"), Folder("sys1"), Folder("sys2")}));
  EXPECT_EQ(dirs.CurrentDesktops, (std::vector<Text>{"ubuntu", "gnome"}));

  env_.Set("HOME", "/home/u");
  env_.Set("XDG_CONFIG_HOME", "relative");
  env_.Set("XDG_CONFIG_DIRS", "");
  env_.Set("XDG_DATA_HOME", "");
  env_.Set("XDG_DATA_DIRS", "");
  const XdgDirectories defaults = XdgDirectories::FromEnvironment();
  EXPECT_EQ(defaults.ConfigDirs, (std::vector<Text>{"/home/u/.config", "/etc/xdg"}));
  EXPECT_EQ(defaults.DataDirs,
            (std::vector<Text>{"/home/u/.local/share", "/usr/local/share", "/usr/share"}));
}

TEST_F(DesktopTest, NothingAssociatedGivesNothing) {
  App("sys1", "editor.desktop", "editor %f", "text/plain;");
  EXPECT_EQ(Default(), "");
}

TEST_F(DesktopTest, EntriesDeclaringTheTypeInFolderThenIdOrder) {
  App("sys2", "a.desktop", "a %f", "application/pdf;");
  App("sys1", "c.desktop", "c %f", "image/png;application/pdf");
  App("sys1", "b.desktop", "b %f", "application/pdf;");
  EXPECT_EQ(Default(), "b.desktop");
  App("home", "z.desktop", "z %f", "application/pdf;");
  EXPECT_EQ(Default(), "z.desktop");
}

TEST_F(DesktopTest, DefaultApplicationsComeFirst) {
  App("sys1", "declared.desktop", "declared %f", "application/pdf;");
  App("sys1", "viewer.desktop", "viewer %f");  // no MimeType: a default needs none
  App("sys1", "other.desktop", "other %f");
  Write("sys1/applications/mimeapps.list",
        "[Default Applications]\napplication/pdf=other.desktop\n");
  EXPECT_EQ(Default(), "other.desktop");
  // An earlier file wins; an entry that is not installed passes to the next.
  Write("etc/mimeapps.list",
        "[Default Applications]\napplication/pdf=gone.desktop;viewer.desktop;\n");
  EXPECT_EQ(Default(), "viewer.desktop");
  Write("cfg/mimeapps.list",
        "# mine\n[Added Associations]\napplication/pdf=declared.desktop\n"
        "[Default Applications]\ntext/plain=other.desktop\n application/pdf = gone2.desktop ; "
        "other.desktop\n");
  EXPECT_EQ(Default(), "other.desktop");
  // The current desktop's file stands before mimeapps.list of its folder.
  env_.Set("XDG_CURRENT_DESKTOP", "X-Test:GNOME");
  Write("cfg/gnome-mimeapps.list", "[Default Applications]\napplication/pdf=declared.desktop\n");
  EXPECT_EQ(Default(), "declared.desktop");
}

TEST_F(DesktopTest, AddedAndRemovedAssociations) {
  App("sys1", "a.desktop", "a %f", "application/pdf;");
  App("sys1", "b.desktop", "b %f", "application/pdf;");
  App("sys1", "plain.desktop", "plain %f");
  Write("cfg/mimeapps.list", "[Removed Associations]\napplication/pdf=a.desktop;\n");
  EXPECT_EQ(Default(), "b.desktop");
  Write("etc/mimeapps.list", "[Added Associations]\napplication/pdf=plain.desktop;\n");
  EXPECT_EQ(Default(), "plain.desktop");
  // A removal earlier in the order blocks a later addition.
  Write("cfg/mimeapps.list", "[Removed Associations]\napplication/pdf=plain.desktop;a.desktop\n");
  EXPECT_EQ(Default(), "b.desktop");
  // Desktop-specific files add and remove nothing.
  env_.Set("XDG_CURRENT_DESKTOP", "kde");
  Write("cfg/kde-mimeapps.list", "[Removed Associations]\napplication/pdf=b.desktop\n");
  EXPECT_EQ(Default(), "b.desktop");
}

TEST_F(DesktopTest, ListsOfADataFolderReachOnlyItsOwnAndLaterFolders) {
  App("home", "user.desktop", "user %f", "application/pdf;");
  App("sys2", "vendor.desktop", "vendor %f", "application/pdf;");
  // sys1's list cannot remove what the user installed, but does remove sys2's.
  Write("sys1/applications/mimeapps.list",
        "[Removed Associations]\napplication/pdf=user.desktop;vendor.desktop;\n");
  EXPECT_EQ(Default(), "user.desktop");
  fs::remove(scratch_.Path() / "home/applications/user.desktop");
  EXPECT_EQ(Default(), "");
  // Additions likewise: sys1's and sys2's lists cannot add the user's entry,
  // sys1's can add sys2's.
  App("home", "plain.desktop", "plain %f");
  App("sys2", "plain2.desktop", "plain2 %f");
  Write("sys2/applications/mimeapps.list",
        "[Added Associations]\napplication/pdf=plain.desktop;\n");
  EXPECT_EQ(Default(), "");
  Write("sys1/applications/mimeapps.list",
        "[Added Associations]\napplication/pdf=plain.desktop;plain2.desktop;\n");
  EXPECT_EQ(Default(), "plain2.desktop");
}

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

// Quillane's own entry is passed over at every step of the rules, so that the
// next application for the type is the reader.
TEST_F(DesktopTest, OwnEntryIsNeverTheAnswer) {
  App("home", "quillane.desktop", "quillane /tempexec /in %f", "application/pdf;");
  EXPECT_EQ(Default(), "");
  App("sys1", "viewer.desktop", "viewer %f", "application/pdf;");
  EXPECT_EQ(Default(), "viewer.desktop");
  App("sys1", "added.desktop", "added %f");
  Write("cfg/mimeapps.list",
        "[Added Associations]\napplication/pdf=quillane.desktop;added.desktop\n");
  EXPECT_EQ(Default(), "added.desktop");
  App("sys1", "chosen.desktop", "chosen %f");
  Write("etc/mimeapps.list",
        "[Default Applications]\napplication/pdf=quillane.desktop;chosen.desktop\n");
  EXPECT_EQ(Default(), "chosen.desktop");
}

TEST_F(DesktopTest, IdsOfEntriesInSubfolders) {
  App("sys1", "kde4/okular.desktop", "okular %U", "application/pdf;");
  EXPECT_EQ(Default(), "kde4-okular.desktop");
  EXPECT_EQ(DesktopEntryExec(XdgDirectories::FromEnvironment(), "kde4-okular.desktop"),
            std::optional<Text>("okular %U"));
  App("sys1", "plain.desktop", "plain %f");
  Write("cfg/mimeapps.list", "[Default Applications]\napplication/pdf=kde4-okular.desktop\n");
  EXPECT_EQ(Default(), "kde4-okular.desktop");
  EXPECT_EQ(DesktopEntryExec(XdgDirectories::FromEnvironment(), "../applications/plain.desktop"),
            std::nullopt);
}

// ---------------------------------------------------------------------------
// Registry reads

const char kUserChoice[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.pdf\\UserChoice";

TEST_F(DesktopTest, RegistryReadsAnswerFromTheAssociation) {
  using platform::RegistryKey;
  constexpr auto kUser = platform::RegistryRoot::kCurrentUser;
  constexpr auto kClasses = platform::RegistryRoot::kClassesRoot;
  App("sys1", "org.example.Viewer.desktop", "viewer --new %U", "application/pdf;");
  const auto choice = RegistryKey::OpenReadOnly(kUser, kUserChoice);
  ASSERT_NE(choice, nullptr);
  EXPECT_TRUE(choice->ValueExists("Progid"));
  EXPECT_EQ(choice->ReadString("progid"), "org.example.Viewer.desktop");
  const auto fileExts = RegistryKey::OpenReadOnly(
      kUser, "software\\microsoft\\windows\\currentversion\\explorer\\fileexts\\.PDF");
  ASSERT_NE(fileExts, nullptr);
  EXPECT_FALSE(fileExts->ValueExists("Progid"));
  EXPECT_EQ(RegistryKey::OpenReadOnly(
                kUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.doc"),
            nullptr);

  const auto shell = RegistryKey::OpenReadOnly(kClasses, "org.example.Viewer.desktop\\Shell");
  ASSERT_NE(shell, nullptr);
  EXPECT_EQ(shell->ReadString(""), "");
  const auto command =
      RegistryKey::OpenReadOnly(kClasses, "org.example.Viewer.desktop\\Shell\\open\\command");
  ASSERT_NE(command, nullptr);
  EXPECT_EQ(command->ReadString(""), "viewer --new \"%1\"");
  EXPECT_EQ(RegistryKey::OpenReadOnly(kClasses, "org.example.Viewer.desktop\\Shell\\edit\\command"),
            nullptr);
  EXPECT_EQ(RegistryKey::OpenReadOnly(kClasses, "other.desktop\\Shell"), nullptr);
  // Nothing was written.
  EXPECT_FALSE(fs::exists(Folder("registry")));
}

TEST_F(DesktopTest, ValuesInTheRegistryFileWin) {
  App("sys1", "viewer.desktop", "viewer %U", "application/pdf;");
  App("sys1", "other.desktop", "other %U");
  Write("registry/registry.reg",
        "Windows Registry Editor Version 5.00\n"
        "[HKEY_CURRENT_USER\\" +
            std::string(kUserChoice) +
            "]\n"
            "\"Hash\"=\"x\"\n"
            "[HKEY_CLASSES_ROOT\\viewer.desktop\\Shell\\open\\command]\n"
            "@=\"custom \\\"%1\\\"\"\n");
  using platform::RegistryKey;
  constexpr auto kUser = platform::RegistryRoot::kCurrentUser;
  constexpr auto kClasses = platform::RegistryRoot::kClassesRoot;
  auto ReadKey = [](platform::RegistryRoot root, const std::string& path, const char* name) {
    const auto key = RegistryKey::OpenReadOnly(root, path);
    return key == nullptr ? std::string("<no key>") : key->ReadString(name);
  };
  EXPECT_EQ(ReadKey(kUser, kUserChoice, "Progid"), "viewer.desktop");  // the file has none
  EXPECT_EQ(ReadKey(kClasses, "viewer.desktop\\Shell\\open\\command", ""), "custom \"%1\"");
  // Any desktop ID named by the file is looked up too.
  EXPECT_EQ(ReadKey(kClasses, "other.desktop\\Shell\\open\\command", ""), "other \"%1\"");

  Write("registry/registry.reg",
        "Windows Registry Editor Version 5.00\n"
        "[HKEY_CURRENT_USER\\" +
            std::string(kUserChoice) +
            "]\n"
            "\"Progid\"=\"other.desktop\"\n");
  EXPECT_EQ(ReadKey(kUser, kUserChoice, "Progid"), "other.desktop");
}

}  // namespace
}  // namespace quillane
