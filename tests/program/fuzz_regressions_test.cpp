// Replays every saved fuzz finding (tests/fuzz_regressions/<target>/) through
// the property checks the fuzz targets apply, so a finding stays fixed in the
// ordinary test suite. The second half shows that the checks themselves catch
// the faults they are there for: a check that never fails proves nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/fuzz_checks.h"
#include "fuzz/truetype_checks.h"
#include "support/test_util.h"

namespace quillane::test {
namespace {

namespace fs = std::filesystem;
using quillane::fuzz::CheckCommandLineSplit;
using quillane::fuzz::CheckDesktopExecTranslation;
using quillane::fuzz::CheckRegistryRoundTrip;
using quillane::fuzz::CheckRunAllModes;

const fs::path kRegressions = fs::path(QUILLANE_SOURCE_DIR) / "tests" / "fuzz_regressions";
const std::string kTemplates = std::string(QUILLANE_SOURCE_DIR) + "/data/";

// The saved inputs of one target, sorted by name.
std::vector<fs::path> Findings(const std::string& target) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(kRegressions / target)) {
    if (entry.is_regular_file() && entry.path().filename() != "README") {
      files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST(FuzzRegressionsTest, RunInEveryMode) {
  const std::vector<fs::path> files = Findings("run");
  EXPECT_FALSE(files.empty());
  for (const fs::path& file : files) {
    // The checks bound the work of each run by the input's size.
    EXPECT_EQ(CheckRunAllModes(ReadFileBytes(file), kTemplates), "") << file;
  }
}

TEST(FuzzRegressionsTest, RegistryFileRoundTrip) {
  const std::vector<fs::path> files = Findings("registry");
  EXPECT_FALSE(files.empty());
  for (const fs::path& file : files) {
    EXPECT_EQ(CheckRegistryRoundTrip(ReadFileBytes(file)), "") << file;
  }
}

TEST(FuzzRegressionsTest, CommandLineSplit) {
  const std::vector<fs::path> files = Findings("command_line");
  EXPECT_FALSE(files.empty());
  for (const fs::path& file : files) {
    EXPECT_EQ(CheckCommandLineSplit(ReadFileBytes(file)), "") << file;
  }
}

TEST(FuzzRegressionsTest, DesktopExecTranslation) {
  const std::vector<fs::path> files = Findings("desktop_exec");
  EXPECT_FALSE(files.empty());
  for (const fs::path& file : files) {
    EXPECT_EQ(CheckDesktopExecTranslation(ReadFileBytes(file)), "") << file;
  }
}

TEST(FuzzRegressionsTest, TrueTypeFonts) {
  const std::vector<fs::path> files = Findings("truetype");
  EXPECT_FALSE(files.empty());
  for (const fs::path& file : files) {
    EXPECT_EQ(quillane::fuzz::CheckTrueTypeFont(ReadFileBytes(file)), "") << file;
  }
}

// ---------------------------------------------------------------------------
// The checks catch what they are meant to catch

// A document with one image, object 4, and the update the default mode must
// append to it; offsets written by hand.
const std::string kDocument =
    "%PDF-1.4\n"
    "4 0 obj\n<</Subtype/Image/Length 0>>stream\n\nendstream\nendobj\n"  // 9 .. 68
    "xref\n0 1\n0000000000 65535 f \ntrailer\n<</Size 5/Root 1 0 R>>\n"  // 69 ..
    "startxref\n69\n%%EOF\n";

TrailerValues DocumentTrailer() {
  TrailerValues trailer;
  trailer.PreviousSectionOffset = 69;
  trailer.TrailerSize = 5;
  trailer.RootReference = "1 0 R";
  return trailer;
}

std::string Update(const std::string& entryOffset, const std::string& sectionOffset) {
  return "4 0 obj\nBODY\nendobj\n"
         "xref\r\n4 1\r\n" +
         entryOffset +
         " 00000 n\r\n"
         "trailer\r\n<<\r\n/Prev 69\r\n/Root 1 0 R\r\n/Size 5\r\n>>\r\n"
         "startxref\r\n" +
         sectionOffset + "\r\n%%EOF\r\n";
}

std::string Pad10(std::size_t offset) {
  const std::string digits = std::to_string(offset);
  return std::string(10 - digits.size(), '0') + digits;
}

TEST(FuzzChecksTest, AppendedUpdateChecksCatchBrokenUpdates) {
  const std::string section = std::to_string(kDocument.size() + 20);
  const std::string sound = kDocument + Update(Pad10(kDocument.size()), section);
  struct Case {
    std::string name;
    std::string output;
    std::string failure;  // a part of the expected failure text; empty: passes
  };
  for (const Case& c : std::vector<Case>{
           {"sound", sound, ""},
           {"input changed",
            "%PDF-1.5" + kDocument.substr(8) + Update(Pad10(kDocument.size()), section),
            "does not start with the input"},
           {"entry one byte off", kDocument + Update(Pad10(kDocument.size() + 1), section),
            "does not point at its object header"},
           {"startxref one byte off",
            kDocument + Update(Pad10(kDocument.size()), std::to_string(kDocument.size() + 21)),
            "unreadable cross-reference section"},
           {"truncated", sound.substr(0, sound.size() - 3), "does not end with startxref"},
           {"bytes before startxref",
            sound.substr(0, sound.rfind("startxref")) + "%\r\n" +
                sound.substr(sound.rfind("startxref")),
            "bytes between the cross-reference section and startxref"},
       }) {
    SCOPED_TRACE(c.name);
    const std::string failure = fuzz::detail::CheckAppendedUpdate(
        kDocument, c.output, {MakeObjectKey(4, 0)}, DocumentTrailer(), ReplaceDefault);
    if (c.failure.empty()) {
      EXPECT_EQ(failure, "");
    } else {
      EXPECT_NE(failure.find(c.failure), std::string::npos) << failure;
    }
  }
  // An image that was found but has no entry.
  EXPECT_NE(fuzz::detail::CheckAppendedUpdate(
                kDocument, kDocument + Update(Pad10(kDocument.size()), section),
                {MakeObjectKey(4, 0), MakeObjectKey(4, 0)}, DocumentTrailer(), ReplaceDefault),
            "");
}

// A damaged document, its "startxref" naming no section: a catalog at 9 and
// an image at 42.
const std::string kDamaged =
    "%PDF-1.4\n"
    "1 0 obj\n<</Type/Catalog>>\nendobj\n"
    "4 0 obj\n<</Subtype/Image/Length 0>>stream\n\nendstream\nendobj\n"
    "startxref\n1\n%%EOF\n";

TEST(FuzzChecksTest, RepairingUpdateChecksCatchBrokenUpdates) {
  MemoryFileAccess source(kDamaged);
  const std::optional<RebuiltFile> rebuilt = RebuildDamagedFile(source);
  ASSERT_TRUE(rebuilt.has_value());
  PlaceholderTemplates templates;
  templates.body = "BODY\n";
  const std::vector<ObjectKey> keys{MakeObjectKey(4, 0)};
  const std::int64_t listed = WriteRepairingUpdate(source, rebuilt->Found, keys, templates);
  const std::string sound = source.Content();
  ASSERT_NE(sound.find("0000000009 00000 n\r\n"), std::string::npos) << sound;
  const auto replaced = [&sound](const std::string& from, const std::string& to) {
    std::string output = sound;
    return output.replace(output.find(from), from.size(), to);
  };
  FoundObjects more = rebuilt->Found;
  more.Rows.push_back({7, 0, false, 9, 0, 0});
  struct Case {
    std::string name;
    std::string output;
    FoundObjects found;
    std::int64_t listed;
    std::string failure;  // a part of the expected failure text; empty: passes
  };
  for (const Case& c : std::vector<Case>{
           {"sound", sound, rebuilt->Found, listed, ""},
           {"entry one byte off", replaced("0000000009 00000 n", "0000000010 00000 n"),
            rebuilt->Found, listed, "does not point at its object header"},
           {"a /Prev", replaced(">>\r\nstartxref", "/Prev 5\r\n>>\r\nstartxref"), rebuilt->Found,
            listed, "a /Prev in a complete section"},
           {"object 0 in use", replaced("65535 f", "65535 n"), rebuilt->Found, listed,
            "object 0 is not free"},
           {"count reported", sound, rebuilt->Found, listed + 1, "reported"},
           {"object found, not listed", sound, more, listed, "found but not listed"},
           {"old version listed",
            replaced(sound.substr(sound.rfind(" 00000 n") - 10, 10), "0000000042"), rebuilt->Found,
            listed, "has no new version listed"},
       }) {
    SCOPED_TRACE(c.name);
    const std::string failure = fuzz::detail::CheckRepairingUpdate(
        kDamaged, c.output, keys, c.found, ReplaceDefault, c.listed);
    if (c.failure.empty()) {
      EXPECT_EQ(failure, "");
    } else {
      EXPECT_NE(failure.find(c.failure), std::string::npos) << failure;
    }
  }
  EXPECT_EQ(CheckRunAllModes(kDamaged, kTemplates), "");
}

TEST(FuzzChecksTest, LightModeCheckAllowsOnlyImageToVexlo) {
  const std::string input = "<</Subtype/Image>> /Image";
  EXPECT_EQ(fuzz::detail::CheckRenamedInPlace(input, "<</Subtype/Vexlo>> /Image", 1), "");
  EXPECT_NE(fuzz::detail::CheckRenamedInPlace(input, "<</Subtype/Vexlo>> /Image", 2), "");
  EXPECT_NE(fuzz::detail::CheckRenamedInPlace(input, "<</Subtype/Vexlo>> /Imagf", 1), "");
  EXPECT_NE(fuzz::detail::CheckRenamedInPlace(input, "<</Subtype/Vexlo>> /Image ", 1), "");
}

TEST(FuzzChecksTest, RunCheckPassesTheDocumentInEveryMode) {
  EXPECT_EQ(CheckRunAllModes(kDocument, kTemplates), "");
  // Templates that cannot be found are not one of the run's damaged-input
  // errors: the check reports them rather than passing silently.
  EXPECT_NE(quillane::fuzz::CheckRun(kDocument, ReplaceDefault, kTemplates + "missing/"), "");
}

}  // namespace
}  // namespace quillane::test
