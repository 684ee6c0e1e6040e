#include "app/template_directory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace quillane {
namespace {

namespace fs = std::filesystem;

// Each case lays out real files under a fresh folder (paths written with "/",
// turned into the platform's separators), the executable `exe` among them, and
// asks where that program finds its templates.
struct LayoutCase {
  const char* name;
  std::vector<const char*> files;
  const char* exe;
  const char* expected;
};

TEST(TemplateDirectory, BesideTheExecutableFirstThenTheSharedDataFolder) {
  const LayoutCase cases[] = {
      {"build tree", {"build/otherimg.dat", "build/othertimg.dat"}, "build/quillane", "build/"},
      {"installed",
       {"usr/share/quillane/otherimg.dat"},
       "usr/bin/quillane",
       "usr/bin/../share/quillane/"},
      {"both: beside wins",
       {"usr/bin/otherimg.dat", "usr/share/quillane/otherimg.dat"},
       "usr/bin/quillane",
       "usr/bin/"},
      // The error for the missing template then names the file beside the program.
      {"neither", {"usr/share/quillane/othertimg.dat"}, "usr/bin/quillane", "usr/bin/"},
      {"shared folder of another prefix",
       {"share/quillane/otherimg.dat"},
       "usr/bin/quillane",
       "usr/bin/"},
  };
  // Other builds may run this test at the same time: the folder name is random.
  const fs::path root = fs::temp_directory_path() /
                        ("quillane-template-directory-" + std::to_string(std::random_device()()));
  for (const LayoutCase& c : cases) {
    fs::remove_all(root);
    std::vector<const char*> files = c.files;
    files.push_back(c.exe);
    for (const char* file : files) {
      const fs::path path = (root / file).make_preferred();
      fs::create_directories(path.parent_path());
      std::ofstream(path) << "template";
    }
    const Text exe = (root / c.exe).make_preferred().string();
    EXPECT_EQ((root / c.expected).make_preferred().string(),
              TemplateDirectory(exe, platform::FileExists))
        << c.name;
  }
  fs::remove_all(root);
}

TEST(TemplateDirectory, PathWithoutDirectoryIsTheCurrentDirectory) {
  int asked = 0;
  EXPECT_EQ("", TemplateDirectory("quillane", [&asked](const Text&) { return ++asked > 0; }));
  EXPECT_EQ(0, asked);
}

}  // namespace
}  // namespace quillane
