#include "pdf/raw/image_walk.h"

#include <gtest/gtest.h>

#include "support/memory_pdf.h"

namespace quillane {
namespace {

using test::MemoryPdf;

// The keys found, compactly: "12 0 15 0".
std::string Keys(const std::vector<ObjectKey>& keys) {
  std::string text;
  for (const ObjectKey key : keys) {
    if (!text.empty()) text += ' ';
    text += ObjectKeyToText(key);
  }
  return text;
}

std::string Found(const std::string& bytes) {
  MemoryPdf file(bytes);
  return Keys(FindImageObjects(file.source, file.log));
}

TEST(ImageWalk, RecognisesSubtypeImageHowEverItIsSpelled) {
  const struct {
    std::string bytes;
    const char* keys;
  } cases[] = {
      {"x\n12 0 obj\n<</Type/XObject/Subtype/Image/Width 10>>", "12 0"},
      {"x\n12 0 obj\n<</Subtype /Image>>", "12 0"},
      {"x\n12 0 obj\n<</Subtype\r\n/Image>>", "12 0"},
      {"x\n12 0 obj\n<</Subtype (whatever) 5 /Image>>", "12 0"},
      {"x\n12 0 obj\n<</Subtype/Image[", "12 0"},
      {"x\n12 0 obj\n<</Subtype/Form>>", ""},
      {"x\n12 0 obj\n<</Subtype/Images>>", ""},
      {"x\n12 0 obj\n<</Subtype/image>>", ""},
      {"x\n12 0 obj\n<</Subtype/#49mage>>", ""},  // escaped names do not match
      {"x\n12 0 obj\n<</Subtypes/Image>>", ""},
      {"x\n12 0 obj\n<</Subtype(/Image)>>", ""},  // a delimiter drops the key name
      {"x\n12 0 obj\n<</Subtype/Image", ""},      // the name never ends
      {"x\n12 3 obj\n<</Subtype/Image>>\nendobj\n14 0 obj\n<</Subtype/Image>>", "12 3 14 0"},
      // Object numbers beyond 21474 are kept whole.
      {"x\n40000 0 obj\n<</Subtype/Image>>", "40000 0"},
      // Too far from its header: dropped.
      {"x\n12 0 obj\n<<" + std::string(600, ' ') + "/Subtype/Image>>", ""},
      // Behind a "stream" keyword of its object: stream data, dropped.
      {"x\n12 0 obj\n<</Length 20>>stream\n/Subtype/Image\nendstream", ""},
      {"x\n12 0 obj\n<</Type/ObjStm/N 1>>stream\n5 0 <</Subtype/Image>>", ""},
      {"x\n12 0 obj\n<</Filter/Upstreamer/Subtype/Image>>", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Found(c.bytes), c.keys) << c.bytes;
}

TEST(ImageWalk, LogsTheHitTheHeaderAndTheKey) {
  MemoryPdf file("x\n12 0 obj\n<</Type/XObject/Subtype/Image/Width 10>>");
  FindImageObjects(file.source, file.log);
  EXPECT_EQ(file.Lines(), "Found image @ 40 | obj@7 | Number: 12#0 | object: 1200000");
}

TEST(ImageWalk, DroppedStreamHitKeepsItsEarlierLines) {
  MemoryPdf file("x\n12 0 obj\n<<>>stream\n/Subtype/Image ");
  EXPECT_TRUE(FindImageObjects(file.source, file.log).empty());
  EXPECT_EQ(file.Lines(), "Found image @ 36 | obj@7 | Number: 12#0");
}

TEST(ImageWalk, RepeatsAndFileOrderAreKept) {
  const std::string revision = "x\n7 0 obj\n<</Subtype/Image>>\nendobj\n";
  EXPECT_EQ(Found(revision + "3 0 obj\n<</Subtype/Image/Subtype/Image>>\n" + revision),
            "7 0 3 0 7 0");
}

TEST(ImageWalk, LightModeRenamesInPlaceAndRecordsNothing) {
  const std::string bytes =
      "%PDF\n1 0 obj\n<</Subtype/Image>>stream\n/Subtype /Image\nendstream\n/Subtype/Form";
  MemoryPdf file(bytes);
  RenameImageSubtypes(file.source, file.log);
  EXPECT_EQ(file.source.Size(), static_cast<Position>(bytes.size()));
  EXPECT_EQ(file.source.Substring(0, file.source.Size()),
            "%PDF\n1 0 obj\n<</Subtype/Vexlo>>stream\n/Subtype /Vexlo\nendstream\n/Subtype/Form");
  EXPECT_EQ(file.Lines(), "Found image @ 29 | Found image @ 53");
}

TEST(ImageWalk, ReachesTheLastByte) {
  // A hit whose terminator is the very last byte of the data.
  EXPECT_EQ(Found("x\n1 0 obj /Subtype/Image "), "1 0");
  EXPECT_EQ(Found(""), "");
  EXPECT_EQ(Found("/"), "");
}

}  // namespace
}  // namespace quillane
