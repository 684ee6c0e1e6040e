// The freedesktop rules that pick the application for a MIME type, with
// temporary XDG folders.
#include "platform/posix/mime_apps.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "platform/posix/desktop_test_folders.h"

namespace quillane {
namespace {

namespace fs = std::filesystem;
using test::DesktopTest;

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

}  // namespace
}  // namespace quillane
