#include "app/template_files.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/error.h"
#include "support/loaded_file.h"
#include "support/test_util.h"

namespace quillane {
namespace {

// Each mode reads its files in order, and the first one missing fails the
// load with the file-open error naming it; "otherimg.dat" is read in the
// translucent mode too, though its bytes are not used there.
TEST(LoadPlaceholderTemplates, ReadsTheModesFilesAndNamesTheFirstMissingOne) {
  test::ScratchDir folder;
  const std::string directory = folder.Path().string() + "/";
  folder.Write("othertimg.dat", "T\n");
  folder.Write("othertmsk.dat", "");
  for (const ReplaceMode mode : {ReplaceDefault, ReplaceTGrayBox}) {
    try {
      LoadPlaceholderTemplates(mode, directory);
      ADD_FAILURE() << "no error in mode " << int{mode};
    } catch (const Error& error) {
      const std::string message = error.what();
      EXPECT_EQ(message.rfind("Cannot open file \"", 0), 0u) << message;
      EXPECT_NE(message.find("otherimg.dat\". "), std::string::npos) << message;
    }
  }

  folder.Write("otherimg.dat", "I\n");
  const PlaceholderTemplates defaults = LoadPlaceholderTemplates(ReplaceDefault, directory);
  EXPECT_EQ(defaults.body, "I\n");
  EXPECT_FALSE(defaults.extra.has_value());
  const PlaceholderTemplates translucent = LoadPlaceholderTemplates(ReplaceTGrayBox, directory);
  EXPECT_EQ(translucent.body, "T\n");
  // An empty mask file is a present, empty extra object.
  EXPECT_EQ(translucent.extra, std::optional<Text>(""));

  std::filesystem::remove(folder.Path() / "othertmsk.dat");
  EXPECT_THROW(LoadPlaceholderTemplates(ReplaceTGrayBox, directory), Error);
}

// The outline mode reads its own two files, and only those.
TEST(LoadPlaceholderTemplates, OutlineReadsItsBodyAndMask) {
  test::ScratchDir folder;
  const std::string directory = folder.Path().string() + "/";
  folder.Write("otheroimg.dat", "O\n");
  EXPECT_THROW(LoadPlaceholderTemplates(ReplaceOutline, directory), Error);
  folder.Write("otheromsk.dat", "${EXTRAOBJNR} obj\nM\nendobj\n");
  const PlaceholderTemplates outline = LoadPlaceholderTemplates(ReplaceOutline, directory);
  EXPECT_EQ(outline.Mode, ReplaceOutline);
  EXPECT_EQ(outline.body, "O\n");
  EXPECT_EQ(outline.extra, std::optional<Text>("${EXTRAOBJNR} obj\nM\nendobj\n"));
  EXPECT_EQ(outline.InlineGray, kFallbackGray);
}

// With inline images the gray comes from "otherimg.dat", read once and
// first in every mode, the outline mode too.
TEST(LoadPlaceholderTemplates, InlineImagesTakeTheGrayOfTheDefaultBody) {
  test::ScratchDir folder;
  const std::string directory = folder.Path().string() + "/";
  folder.Write("otheroimg.dat", "O\n");
  folder.Write("otheromsk.dat", "M\n");
  try {
    LoadPlaceholderTemplates(ReplaceOutline, directory, true);
    ADD_FAILURE() << "no error without otherimg.dat";
  } catch (const Error& error) {
    EXPECT_NE(std::string(error.what()).find("otherimg.dat\". "), std::string::npos);
  }
  const std::string gray = "<</ColorSpace/DeviceGray/BitsPerComponent 8/Length 1>>\nstream\n\x40";
  folder.Write("otherimg.dat", gray);
  for (const ReplaceMode mode : {ReplaceDefault, ReplaceOutline}) {
    const PlaceholderTemplates templates = LoadPlaceholderTemplates(mode, directory, true);
    EXPECT_EQ(templates.InlineGray, 0x40) << int{mode};
    EXPECT_EQ(templates.body, mode == ReplaceOutline ? "O\n" : gray);
  }
}

}  // namespace
}  // namespace quillane
