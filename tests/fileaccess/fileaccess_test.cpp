#include "fileaccess/fileaccess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "base/error.h"
#include "platform/platform.h"
#include "support/loaded_file.h"
#include "support/test_util.h"

namespace quillane {
namespace {

using test::LoadedFile;
using test::ReadFileBytes;
using test::ScratchDir;

TEST(WindowedFileAccess, LoadsEveryByteAtTheChunkBoundaries) {
  for (const std::size_t size : {0u, 1u, 4095u, 4096u, 4097u, 8193u}) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + 3);
    LoadedFile file(bytes);
    ASSERT_EQ(file.source.Size(), static_cast<Position>(size));
    EXPECT_EQ(file.source.Substring(0, file.source.Size()), bytes);
    const std::string saved = file.folder.File("saved.pdf");
    file.source.Save(saved);
    EXPECT_EQ(ReadFileBytes(saved), bytes) << size;
  }
}

TEST(WindowedFileAccess, ByteAtGuardsItsIndex) {
  LoadedFile file("abc");
  EXPECT_EQ(file.source.ByteAt(2), 'c');
  EXPECT_THROW_MSG(file.source.ByteAt(-1), Error, "IndexOutOfBounds");
  EXPECT_THROW_MSG(file.source.ByteAt(3), Error, "IndexOutOfBounds");
  EXPECT_EQ(file.source.RawByteAt(0), 'a');
}

TEST(WindowedFileAccess, SubstringTakesHalfOpenRanges) {
  LoadedFile file("0123456789/Subtype/Image");
  EXPECT_EQ(file.source.Substring(5, 5), "");
  EXPECT_EQ(file.source.Substring(11, 18), "Subtype");
  file.source.Append("XYZ");
  // Across the end of the loaded bytes.
  EXPECT_EQ(file.source.Substring(22, 26), "geXY");
  EXPECT_EQ(file.source.Substring(25, 27), "YZ");
}

TEST(WindowedFileAccess, OverwriteStopsAtTheEndWithBytesBeforeItWritten) {
  LoadedFile file("/Subtype/Ima");
  EXPECT_THROW_MSG(file.source.Overwrite(file.source.Size() - 2, "Image"), Error,
                   "IndexOutOfBounds");
  EXPECT_EQ(file.source.Substring(0, file.source.Size()), "/Subtype/IIm");
  EXPECT_THROW_MSG(file.source.Overwrite(-1, "x"), Error, "IndexOutOfBounds");
  file.source.Overwrite(9, "Vex");
  file.source.Overwrite(0, "");
  EXPECT_EQ(file.source.Substring(0, file.source.Size()), "/Subtype/Vex");
  // Appended bytes can be patched too.
  file.source.Append("ab");
  file.source.Overwrite(12, "Z");
  EXPECT_EQ(file.source.Substring(12, 14), "Zb");
}

TEST(WindowedFileAccess, SaveWritesPatchesAndAppendedBytesAndReplacesTheTarget) {
  LoadedFile file("%PDF-1.4 /Subtype/Image");
  file.source.Overwrite(18, "Vexlo");
  file.source.Append("");
  file.source.Append(std::string("\0tail", 5));
  EXPECT_EQ(file.source.Size(), 28);
  const std::string target = file.folder.Write("out.pdf", std::string(100000, 'o'));
  file.source.Save(target);
  EXPECT_EQ(ReadFileBytes(target), std::string("%PDF-1.4 /Subtype/Vexlo\0tail", 28));
  // The object is unchanged and can be saved again.
  file.source.Save(target);
  EXPECT_EQ(ReadFileBytes(target).size(), 28u);
  // Nothing but the input and the output is left in the folder.
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry :
       std::filesystem::directory_iterator(file.folder.Path())) {
    ++entries;
  }
  EXPECT_EQ(entries, 2u);
}

// Spills read and save like appended text, in order between the texts,
// whether they stayed in memory or moved into a temporary file.
TEST(WindowedFileAccess, SpillsReadAndSaveWhereTheyWereAppended) {
  LoadedFile file("%PDF-1.4\n");
  const auto pattern = [](Position size, char seed) {
    std::string bytes(static_cast<std::size_t>(size), '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
      bytes[i] = static_cast<char>(static_cast<std::size_t>(seed) + i * 13);
    return bytes;
  };
  const std::string small = pattern(1000, 'a');
  const std::string large = pattern(WindowedFileAccess::kSpillMemoryBytes + 12345, 'b');
  std::unique_ptr<Spill> first = file.source.NewSpill();
  first->Write(small);
  std::unique_ptr<Spill> second = file.source.NewSpill();
  for (std::size_t at = 0; at < large.size(); at += 1 << 20)
    second->Write(large.substr(at, 1 << 20));
  EXPECT_EQ(second->Size(), static_cast<Position>(large.size()));
  file.source.Append("head ");
  file.source.AppendSpill(std::move(first));
  file.source.Append(" middle ");
  file.source.AppendSpill(std::move(second));
  file.source.Append(" tail");
  const std::string expected = "%PDF-1.4\nhead " + small + " middle " + large + " tail";
  ASSERT_EQ(file.source.Size(), static_cast<Position>(expected.size()));
  // Ranges across the pieces' ends, and single bytes.
  for (const Position start : {Position{0}, Position{14}, Position{1015}, Position{1020}}) {
    const Position end = std::min<Position>(start + 3000000, file.source.Size());
    EXPECT_EQ(
        file.source.Substring(start, end),
        expected.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start)))
        << start;
  }
  const Position last = file.source.Size() - 1;
  EXPECT_EQ(file.source.ByteAt(last), 'l');
  EXPECT_EQ(file.source.ByteAt(1030), static_cast<std::uint8_t>(expected[1030]));
  const std::string saved = file.folder.File("saved.pdf");
  file.source.Save(saved);
  EXPECT_TRUE(test::BytesEqual(expected, ReadFileBytes(saved)));
}

TEST(WindowedFileAccess, OpenAndCreateFailuresNameTheFullPath) {
  ScratchDir folder;
  const std::string missing = folder.File("missing.pdf");
  WindowedFileAccess source;
  try {
    source.Load(missing);
    ADD_FAILURE() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(std::string(error.what())
                  .rfind("Cannot open file \"" + platform::ExpandFileName(missing) + "\". ", 0),
              0u)
        << error.what();
  }
  EXPECT_EQ(source.Size(), 0);
  EXPECT_THROW(source.Load(folder.Path().string()), Error);  // a directory

  LoadedFile file("abc");
  const std::string nowhere = folder.File("no-such-folder/out.pdf");
  try {
    file.source.Save(nowhere);
    ADD_FAILURE() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(std::string(error.what())
                  .rfind("Cannot create file \"" + platform::ExpandFileName(nowhere) + "\". ", 0),
              0u)
        << error.what();
  }
  // A directory in the way of the output: the write fails, the directory and
  // the folder are left as they were.
  std::filesystem::create_directory(folder.Path() / "out.pdf");
  EXPECT_THROW(file.source.Save(folder.File("out.pdf")), Error);
  EXPECT_TRUE(std::filesystem::is_directory(folder.Path() / "out.pdf"));
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
    ++entries;
  }
  EXPECT_EQ(entries, 1u);
}

// ---------------------------------------------------------------------------
// Saving: the loaded bytes, with their patches, come from the loaded file

// Empty when equal; otherwise the sizes and the first offset that differs, so
// that a failure does not print megabytes.
std::string FirstDifference(const std::string& expected, const std::string& actual) {
  if (expected == actual) return "";
  std::size_t offset = 0;
  while (offset < expected.size() && offset < actual.size() && expected[offset] == actual[offset]) {
    ++offset;
  }
  return "sizes " + std::to_string(expected.size()) + " and " + std::to_string(actual.size()) +
         ", first difference at " + std::to_string(offset);
}

// A document large enough that patches lie both closer together and further
// apart than the distance at which they are written in one piece.
std::string LargeDocument() {
  std::string bytes(3 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 131) >> 3);
  return bytes;
}

TEST(WindowedFileAccess, SavesEveryPatchWhereverItLies) {
  const std::string original = LargeDocument();
  const auto last = static_cast<Position>(original.size()) - 1;
  const struct {
    const char* situation;
    std::vector<std::pair<Position, std::string>> patches;
  } cases[] = {
      {"none", {}},
      {"first and last byte", {{0, "A"}, {last, "Z"}}},
      {"close together", {{100, "Vexlo"}, {4000, "Vexlo"}, {70000, "Vexlo"}}},
      {"far apart", {{10, "Vexlo"}, {1500000, "Vexlo"}, {3000000, "Vexlo"}}},
      {"out of order, overlapping and touching",
       {{2000000, "Vexlo"}, {50, "abcde"}, {52, "XYZ"}, {55, "tail"}, {2000003, "!!"}}},
      {"inside an earlier one, written later", {{50, "abcdefgh"}, {2500000, "Vexlo"}, {52, "X"}}},
      {"the last bytes", {{last - 4, "Vexlo"}}},
  };
  for (const auto& c : cases) {
    LoadedFile file(original);
    std::string expected = original;
    for (const auto& [position, text] : c.patches) {
      file.source.Overwrite(position, text);
      expected.replace(static_cast<std::size_t>(position), text.size(), text);
    }
    file.source.Append("\r\nappended");
    expected += "\r\nappended";
    const std::string saved = file.folder.File("saved.pdf");
    file.source.Save(saved);
    EXPECT_EQ(FirstDifference(expected, ReadFileBytes(saved)), "") << c.situation;
    // The loaded file itself is never written.
    EXPECT_EQ(FirstDifference(original, ReadFileBytes(file.folder.File("input.pdf"))), "")
        << c.situation;
  }
}

// ---------------------------------------------------------------------------
// The window, the block and the early copy

TEST(WindowedFileAccess, ReadsAcrossWindowAndBlockEndsShowThePatches) {
  const std::string original = LargeDocument().substr(0, 200003);
  for (const std::size_t window : {std::size_t{16}, std::size_t{4097}, std::size_t{1} << 20}) {
    ScratchDir folder;
    WindowedFileAccess source(window);
    source.Load(folder.Write("input.pdf", original));
    std::string expected = original;
    const auto patch = [&](Position at, const std::string& text) {
      source.Overwrite(at, text);
      expected.replace(static_cast<std::size_t>(at), text.size(), text);
    };
    patch(4094, "Vexlo");   // across the first block end, before any read
    patch(65534, "Vexlo");  // and across a later one
    std::string scanned;
    for (std::string_view view;
         !(view = source.LoadedBytesFrom(Position(scanned.size()))).empty();) {
      ASSERT_GE(view.size(), std::min<std::size_t>(16, original.size() - scanned.size()));
      scanned += view;
    }
    EXPECT_EQ(FirstDifference(expected, scanned), "") << window;
    // Bytes already held in the window or the block change too.
    EXPECT_EQ(source.ByteAt(131072), static_cast<std::uint8_t>(expected[131072]));
    patch(131070, "XYZ");
    patch(200000, "end");
    EXPECT_EQ(source.Substring(131060, 131080), expected.substr(131060, 20)) << window;
    EXPECT_EQ(source.LoadedBytesFrom(199990).substr(0, 13), expected.substr(199990)) << window;
    source.Save(folder.File("saved.pdf"));
    EXPECT_EQ(FirstDifference(expected, ReadFileBytes(folder.File("saved.pdf"))), "") << window;
  }
}

TEST(WindowedFileAccess, AnEarlyCopyEndsAsAPlainSaveOrLeavesNothing) {
  const struct {
    const char* begun;  // the path given to BeginSave; null: not called
    const char* saved;  // the path given to Save; null: never saved
    std::vector<std::string> left;
  } cases[] = {
      {"out.pdf", "out.pdf", {"input.pdf", "out.pdf"}},
      {nullptr, "out.pdf", {"input.pdf", "out.pdf"}},
      {"other.pdf", "out.pdf", {"input.pdf", "out.pdf"}},
      {"out.pdf", nullptr, {"input.pdf"}},
      {"missing/out.pdf", nullptr, {"input.pdf"}},
  };
  for (const auto& c : cases) {
    ScratchDir folder;
    std::string expected = LargeDocument();
    {
      WindowedFileAccess source;
      source.Load(folder.Write("input.pdf", expected));
      if (c.begun != nullptr) source.BeginSave(folder.File(c.begun));
      for (const Position at : {Position{7}, Position{1500000}, Position{3145000}}) {
        source.Overwrite(at, "Vexlo");
        expected.replace(static_cast<std::size_t>(at), 5, "Vexlo");
      }
      source.Append("\r\nappended");
      if (c.saved != nullptr) source.Save(folder.File(c.saved));
    }
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
      left.push_back(entry.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, c.left) << c.begun;
    if (c.saved != nullptr) {
      EXPECT_EQ(FirstDifference(expected + "\r\nappended", ReadFileBytes(folder.File(c.saved))), "")
          << c.begun;
    }
  }
}

TEST(WindowedFileAccess, SavesOverItsOwnInput) {
  LoadedFile file("%PDF-1.4 /Subtype/Image rest");
  file.source.Overwrite(18, "Vexlo");
  file.source.Append("+");
  const std::string input = file.folder.File("input.pdf");
  file.source.Save(input);
  EXPECT_EQ(ReadFileBytes(input), "%PDF-1.4 /Subtype/Vexlo rest+");
  // What is held is unchanged by the save.
  EXPECT_EQ(file.source.Substring(0, file.source.Size()), "%PDF-1.4 /Subtype/Vexlo rest+");
}

}  // namespace
}  // namespace quillane
