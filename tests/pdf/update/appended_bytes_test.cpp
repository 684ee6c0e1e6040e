#include "pdf/update/appended_bytes.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "fileaccess/fileaccess.h"
#include "support/test_util.h"

namespace quillane {
namespace {

using test::ReadFileBytes;
using test::ScratchDir;

// An update larger than a spill holds in memory, with a rewritten stream's
// spilled data between its texts, saved through the real file access: the
// output is the input and then every piece, in order, and End() always
// names where the next byte lands.
TEST(AppendedBytes, PiecesLandInOrderWhereEndSaysWhateverTheirSize) {
  ScratchDir folder;
  const std::string input = "%PDF-1.7\n" + std::string(5000, 'x');
  WindowedFileAccess file;
  file.Load(folder.Write("in.pdf", input));

  // Texts of 200 bytes, 30,000 of them (6 MB, past the 4 MiB kept in memory).
  std::string expected = input;
  AppendedBytes update(file);
  const auto add = [&](const std::string& text) {
    ASSERT_EQ(update.End(), static_cast<Position>(expected.size()));
    update.Add(text);
    expected += text;
  };
  for (int i = 0; i < 15000; ++i) add(std::to_string(i) + " 0 obj" + std::string(190, 'a'));
  RewrittenObject object;
  object.Bytes = "7 0 obj\n<</Length 300000>>\nstream\n";
  std::shared_ptr<Spill> data = file.NewSpill();
  data->Write(std::string(300000, 'd'));
  object.Data = data;
  object.After = "\nendstream\nendobj\n";
  ASSERT_EQ(update.End(), static_cast<Position>(expected.size()));
  update.Add(object);
  expected += object.Bytes + std::string(300000, 'd') + object.After;
  for (int i = 0; i < 15000; ++i) add(std::string(199, 'b') + "\n");

  // Nothing reaches the file before AppendTo.
  EXPECT_EQ(file.Size(), static_cast<Position>(input.size()));
  update.AppendTo(file);
  EXPECT_EQ(file.Size(), static_cast<Position>(expected.size()));
  file.Save(folder.File("out.pdf"));
  const std::string saved = ReadFileBytes(folder.File("out.pdf"));
  ASSERT_EQ(saved.size(), expected.size());
  EXPECT_TRUE(saved == expected);
}

}  // namespace
}  // namespace quillane
