#include "fileaccess/fileaccess.h"

#include <gtest/gtest.h>

#include "app/platform.h"
#include "fstring/error.h"
#include "support/loaded_file.h"

namespace quillane {
namespace {

using testing::LoadedFile;
using testing::ReadBytes;
using testing::TempFolder;

TEST(FullyBufferedFileAccess, LoadsEveryByteAtTheChunkBoundaries) {
  for (const std::size_t size : {0u, 1u, 4095u, 4096u, 4097u, 8193u}) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + 3);
    LoadedFile file(bytes);
    ASSERT_EQ(file.source.Size(), static_cast<Position>(size));
    EXPECT_EQ(file.source.Substring(0, file.source.Size()), bytes);
    const std::string saved = file.folder.File("saved.pdf");
    file.source.Save(saved);
    EXPECT_EQ(ReadBytes(saved), bytes) << size;
  }
}

TEST(FullyBufferedFileAccess, ByteAtGuardsItsIndex) {
  LoadedFile file("abc");
  EXPECT_EQ(file.source.ByteAt(2), 'c');
  EXPECT_THROW_MESSAGE(file.source.ByteAt(-1), Error, "IndexOutOfBounds");
  EXPECT_THROW_MESSAGE(file.source.ByteAt(3), Error, "IndexOutOfBounds");
  EXPECT_EQ(file.source.RawByteAt(0), 'a');
}

TEST(FullyBufferedFileAccess, SubstringTakesHalfOpenRanges) {
  LoadedFile file("0123456789/Subtype/Image");
  EXPECT_EQ(file.source.Substring(5, 5), "");
  EXPECT_EQ(file.source.Substring(11, 18), "Subtype");
  file.source.Append("XYZ");
  // Across the end of the loaded bytes.
  EXPECT_EQ(file.source.Substring(22, 26), "geXY");
  EXPECT_EQ(file.source.Substring(25, 27), "YZ");
}

TEST(FullyBufferedFileAccess, OverwriteStopsAtTheEndWithBytesBeforeItWritten) {
  LoadedFile file("/Subtype/Ima");
  EXPECT_THROW_MESSAGE(file.source.Overwrite(file.source.Size() - 2, "Image"), Error,
                       "IndexOutOfBounds");
  EXPECT_EQ(file.source.Substring(0, file.source.Size()), "/Subtype/IIm");
  EXPECT_THROW_MESSAGE(file.source.Overwrite(-1, "x"), Error, "IndexOutOfBounds");
  file.source.Overwrite(9, "Vex");
  file.source.Overwrite(0, "");
  EXPECT_EQ(file.source.Substring(0, file.source.Size()), "/Subtype/Vex");
  // Appended bytes can be patched too.
  file.source.Append("ab");
  file.source.Overwrite(12, "Z");
  EXPECT_EQ(file.source.Substring(12, 14), "Zb");
}

TEST(FullyBufferedFileAccess, SaveWritesPatchesAndAppendedBytesAndReplacesTheTarget) {
  LoadedFile file("%PDF-1.4 /Subtype/Image");
  file.source.Overwrite(18, "Vexlo");
  file.source.Append("");
  file.source.Append(std::string("\0tail", 5));
  EXPECT_EQ(file.source.Size(), 28);
  const std::string target = file.folder.Write("out.pdf", std::string(100000, 'o'));
  file.source.Save(target);
  EXPECT_EQ(ReadBytes(target), std::string("%PDF-1.4 /Subtype/Vexlo\0tail", 28));
  // The object is unchanged and can be saved again.
  file.source.Save(target);
  EXPECT_EQ(ReadBytes(target).size(), 28u);
  // Nothing but the input and the output is left in the folder.
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(file.folder.Path())) {
    ++entries;
  }
  EXPECT_EQ(entries, 2u);
}

TEST(FullyBufferedFileAccess, OpenAndCreateFailuresNameTheFullPath) {
  TempFolder folder;
  const std::string missing = folder.File("missing.pdf");
  FullyBufferedFileAccess source;
  try {
    source.Load(missing);
    ADD_FAILURE() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(std::string(error.what()).rfind("Cannot open file \"" + platform::ExpandFileName(missing) + "\". ", 0), 0u)
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
    EXPECT_EQ(std::string(error.what()).rfind("Cannot create file \"" + platform::ExpandFileName(nowhere) + "\". ", 0), 0u)
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

}  // namespace
}  // namespace quillane
