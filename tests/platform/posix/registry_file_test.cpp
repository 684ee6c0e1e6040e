#include "platform/posix/registry_file.h"

#include <gtest/gtest.h>

#include "base/error.h"
#include "support/test_util.h"

namespace quillane {
namespace {

const Text kName = "/cfg/registry.reg";

Text Dword(std::uint32_t value) {
  return Text{static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF),
              static_cast<char>((value >> 16) & 0xFF), static_cast<char>(value >> 24)};
}

// A regedit export as a user would copy it from Windows (saved as UTF-8):
// byte order mark, CR LF, comments, a wrapped hex list, foreign roots. As
// written back it lacks only the blank line at the end: blank lines are the
// writer's own; everything else is kept, the dword and the hex lists in
// regedit's spelling.
const Text kExportAsWritten =
    "\xEF\xBB\xBF"
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "; exported from the office machine\r\n"
    "[HKEY_CURRENT_USER\\Software\\Bramblecote Software\\quillane]\r\n"
    "\"ReplaceObject\"=\"tgraybox\"\r\n"
    "; pinned by hand\r\n"
    "\"CustomPdfReadCmd\"=dword:00000001\r\n"
    "\"PdfReadCmd\"=\"\\\"C:\\\\Program Files\\\\Reader\\\\reader.exe\\\" \\\"%1\\\"\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\r\n"
    "@=\"machine\"\r\n"
    "\"Path\"=hex(2):25,00,50,00,41,00,54,00,48,00,25,00,00,00\r\n"
    "\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\r\n"
    "  16,17,18,19\r\n"
    "\"Quad\"=hex(b):01,00,00,00,00,00,00,00\r\n"
    "\"Empty\"=hex:\r\n";
const Text kExport = kExportAsWritten + "\r\n";

// Checks that `file` holds value `name` of key `path` with this type and data.
void ExpectValue(const RegistryFile& file, const Text& path, const Text& name, std::uint32_t type,
                 const Text& data) {
  const RegistryValue* value = file.FindValue(path, name);
  ASSERT_NE(value, nullptr) << name;
  EXPECT_EQ(value->Type, type) << name;
  EXPECT_EQ(value->Data, data) << name;
}

TEST(RegistryFileTest, ReadsEveryFormOfAnExport) {
  const RegistryFile file = RegistryFile::Parse(kExport, kName);
  EXPECT_TRUE(file.ByteOrderMark);
  EXPECT_TRUE(file.CrLf);
  ASSERT_EQ(file.Keys.size(), 2u);
  EXPECT_EQ(file.Keys[0].Path, "HKEY_CURRENT_USER\\Software\\Bramblecote Software\\quillane");
  EXPECT_EQ(file.Keys[0].Comments, std::vector<Text>{"; exported from the office machine"});

  struct Expected {
    Text Path, Name;
    std::uint32_t Type;
    Text Data;
  };
  const Text quillane = "HKEY_CURRENT_USER\\Software\\Bramblecote Software\\quillane";
  const Text other = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Other";
  const Expected expected[] = {
      {quillane, "ReplaceObject", kRegSz, "tgraybox"},
      {quillane, "CustomPdfReadCmd", kRegDword, Dword(1)},
      {quillane, "PdfReadCmd", kRegSz, "\"C:\\Program Files\\Reader\\reader.exe\" \"%1\""},
      {other, "", kRegSz, "machine"},
      {other, "Path", kRegExpandSz, Text("%\0P\0A\0T\0H\0%\0\0\0", 14)},
      {other, "Blob", kRegBinary,
       Text("\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c"
            "\x0d\x0e\x0f\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19",
            26)},
      {other, "Quad", 11, Text("\x01\0\0\0\0\0\0\0", 8)},
      {other, "Empty", kRegBinary, ""},
  };
  for (const Expected& e : expected) ExpectValue(file, e.Path, e.Name, e.Type, e.Data);
  EXPECT_EQ(file.FindValue(quillane, "CustomPdfReadCmd")->Comments,
            std::vector<Text>{"; pinned by hand"});
}

TEST(RegistryFileTest, WritesTheExportBackWithAllItsData) {
  const Text written = RegistryFile::Parse(kExport, kName).Write();
  EXPECT_TRUE(test::BytesEqual(kExportAsWritten, written));
  // What the writer wrote comes back byte for byte.
  EXPECT_TRUE(test::BytesEqual(written, RegistryFile::Parse(written, kName).Write()));
}

TEST(RegistryFileTest, NewFileIsWrittenWithLineFeeds) {
  RegistryFile file;
  file.SetValue("HKEY_CURRENT_USER\\A", "PdfReadCmd", kRegSz, "viewer \"%1\"");
  file.AddKey("HKEY_CURRENT_USER\\B");
  EXPECT_TRUE(
      test::BytesEqual("Windows Registry Editor Version 5.00\n"
                       "\n"
                       "[HKEY_CURRENT_USER\\A]\n"
                       "\"PdfReadCmd\"=\"viewer \\\"%1\\\"\"\n"
                       "\n"
                       "[HKEY_CURRENT_USER\\B]\n",
                       file.Write()));
}

TEST(RegistryFileTest, TextThatCannotStandInQuotesIsKeptAsRawBytes) {
  // A line break or NUL would end a "..." line, so such a text goes out as a
  // hex list of its own bytes and still reads back as the same REG_SZ.
  RegistryFile file;
  const Text text("a\r\nb\0c\\\"", 8);
  file.SetValue("HKEY_CURRENT_USER\\K", "v", kRegSz, text);
  const Text written = file.Write();
  EXPECT_NE(written.find("\"v\"=hex(1):61,0d,0a,62,00,63,5c,22\n"), Text::npos) << written;
  ExpectValue(RegistryFile::Parse(written, kName), "HKEY_CURRENT_USER\\K", "v", kRegSz, text);
}

TEST(RegistryFileTest, LongHexListsWrapAndReadBack) {
  RegistryFile file;
  Text data;
  for (int i = 0; i < 300; ++i) data.push_back(static_cast<char>(i * 7));
  file.SetValue("HKEY_CURRENT_USER\\K", "Big", 0x7, data);
  const Text written = file.Write();
  std::size_t longest = 0;
  for (std::size_t start = 0; start < written.size();) {
    const std::size_t end = written.find('\n', start);
    longest = std::max(longest, end - start);
    start = end + 1;
  }
  EXPECT_LE(longest, 80u);
  ExpectValue(RegistryFile::Parse(written, kName), "HKEY_CURRENT_USER\\K", "Big", 7, data);
}

TEST(RegistryFileTest, NamesCompareWithoutRegardToAsciiCase) {
  const RegistryFile file = RegistryFile::Parse(
      "Windows Registry Editor Version 5.00\n"
      "[HKEY_CURRENT_USER\\Software\\Caf\xC3\xA9]\n"
      "\"PdfReadCmd\"=\"x\"\n",
      kName);
  EXPECT_NE(file.FindValue("hkey_current_user\\SOFTWARE\\caf\xC3\xA9", "pdfreadcmd"), nullptr);
  // Only ASCII letters fold: the É of another spelling is another key.
  EXPECT_EQ(file.FindValue("HKEY_CURRENT_USER\\Software\\CAF\xC3\x89", "PdfReadCmd"), nullptr);
  EXPECT_EQ(file.FindValue("HKEY_CURRENT_USER\\Software\\Caf\xC3\xA9", "PdfReadCm"), nullptr);
}

TEST(RegistryFileTest, KeyExistsThroughItsDescendants) {
  const RegistryFile file = RegistryFile::Parse(
      "Windows Registry Editor Version 5.00\n"
      "[HKEY_CLASSES_ROOT\\Reader.Document\\Shell\\open\\command]\n",
      kName);
  for (const char* path :
       {"HKEY_CLASSES_ROOT\\Reader.Document\\Shell\\open\\command",
        "HKEY_CLASSES_ROOT\\reader.document", "HKEY_CLASSES_ROOT\\Reader.Document\\Shell"}) {
    EXPECT_TRUE(file.KeyExists(path)) << path;
  }
  for (const char* path :
       {"HKEY_CLASSES_ROOT\\Reader", "HKEY_CLASSES_ROOT\\Reader.Document\\Shell\\open\\command\\x",
        "HKEY_CURRENT_USER\\Reader.Document"}) {
    EXPECT_FALSE(file.KeyExists(path)) << path;
  }
}

TEST(RegistryFileTest, LaterValuesOverrideEarlierOnesAndAreTheOnesChanged) {
  RegistryFile file = RegistryFile::Parse(
      "Windows Registry Editor Version 5.00\n"
      "[HKEY_CURRENT_USER\\K]\n"
      "\"A\"=\"first\"\n"
      "\"B\"=\"kept\"\n"
      "[HKEY_CURRENT_USER\\Other]\n"
      "\"A\"=\"other\"\n"
      "[HKEY_CURRENT_USER\\k]\n"
      "\"a\"=\"second\"\n",
      kName);
  EXPECT_EQ(file.FindValue("HKEY_CURRENT_USER\\K", "A")->Data, "second");
  file.SetValue("HKEY_CURRENT_USER\\K", "A", kRegSz, "third");
  file.SetValue("HKEY_CURRENT_USER\\K", "C", kRegSz, "new");
  // Changed in place, the new value in the key's last section; order, other
  // values and the spelling of names untouched.
  EXPECT_TRUE(
      test::BytesEqual("Windows Registry Editor Version 5.00\n"
                       "\n"
                       "[HKEY_CURRENT_USER\\K]\n"
                       "\"A\"=\"first\"\n"
                       "\"B\"=\"kept\"\n"
                       "\n"
                       "[HKEY_CURRENT_USER\\Other]\n"
                       "\"A\"=\"other\"\n"
                       "\n"
                       "[HKEY_CURRENT_USER\\k]\n"
                       "\"a\"=\"third\"\n"
                       "\"C\"=\"new\"\n",
                       file.Write()));
}

TEST(RegistryFileTest, AcceptsWhatPeopleWriteByHand) {
  const RegistryFile file = RegistryFile::Parse(
      "Windows Registry Editor Version 5.00   \n"
      "  ; indented comment\n"
      "\t\n"
      "[HKEY_CURRENT_USER\\K]  \n"
      "  \"Cmd\" = \"C:\\Tools\\viewer.exe %1\"  \n"
      "\"Flag\"=DWORD:1\n"
      "\"Bytes\"=HEX:1,A\n"
      "\"Split\"=hex:01\\\n"
      "  \\\n"
      "  02",
      kName);
  EXPECT_FALSE(file.CrLf);
  // A backslash that escapes nothing is kept as written.
  EXPECT_EQ(file.FindValue("HKEY_CURRENT_USER\\K", "Cmd")->Data, "C:\\Tools\\viewer.exe %1");
  EXPECT_EQ(file.FindValue("HKEY_CURRENT_USER\\K", "Flag")->Data, Dword(1));
  EXPECT_EQ(file.FindValue("HKEY_CURRENT_USER\\K", "Bytes")->Data, "\x01\x0a");
  EXPECT_EQ(file.FindValue("HKEY_CURRENT_USER\\K", "Split")->Data, "\x01\x02");
  EXPECT_EQ(file.Keys[0].Comments, std::vector<Text>{"  ; indented comment"});
}

TEST(RegistryFileTest, EmptyContentIsAnEmptyRegistry) {
  const RegistryFile file = RegistryFile::Parse("", kName);
  EXPECT_TRUE(file.Keys.empty());
  EXPECT_FALSE(file.KeyExists("HKEY_CURRENT_USER\\Software"));
}

TEST(RegistryFileTest, MalformedLinesNameFileAndLine) {
  struct Case {
    Text Content;
    Text Message;
  };
  const Text head = "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\K]\n";
  const Text where2 = "Registry file \"/cfg/registry.reg\", line 2: ";
  const Text where3 = "Registry file \"/cfg/registry.reg\", line 3: ";
  const Case cases[] = {
      {"REGEDIT4\n",
       "Registry file \"/cfg/registry.reg\", line 1: the first line is not "
       "\"Windows Registry Editor Version 5.00\""},
      {"\xFF\xFEW\0i\0",
       "Registry file \"/cfg/registry.reg\", line 1: the file is UTF-16 text; "
       "save it as UTF-8"},
      {"Windows Registry Editor Version 5.00\n\"A\"=\"x\"\n",
       where2 + "value outside of a section"},
      {"Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\K\n",
       where2 + "section header without a closing \"]\""},
      {"Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\\\K]\n",
       where2 + "empty key name in section header"},
      {"Windows Registry Editor Version 5.00\n[]\n", where2 + "empty key name in section header"},
      {"Windows Registry Editor Version 5.00\nA=B\n", where2 + "unexpected text"},
      {head + "\"A\n", where3 + "value name without a closing quote"},
      {head + "\"A\" \"x\"\n", where3 + "\"=\" expected after the value name"},
      {head + "\"A\"=\"x\n", where3 + "text without a closing quote"},
      {head + "\"A\"=\"x\\\"\n", where3 + "text without a closing quote"},
      {head + "\"A\"=\"x\" y\n", where3 + "unexpected text after the closing quote"},
      {head + "\"A\"=dword:123456789\n",
       where3 + "bad dword value (one to eight hex digits expected)"},
      {head + "\"A\"=dword:\n", where3 + "bad dword value (one to eight hex digits expected)"},
      {head + "\"A\"=hex(q):00\n", where3 + "bad value type in \"hex(q):00\""},
      {head + "\"A\"=hex:0g\n", where3 + "bad byte \"0g\" in hex list"},
      {head + "\"A\"=hex:001\n", where3 + "bad byte \"001\" in hex list"},
      {head + "\"A\"=hex:00,,01\n", where3 + "bad byte \"\" in hex list"},
      {head + "\"A\"=hex:00,\n", where3 + "hex list ends with a comma"},
      {head + "\"A\"=hex:00,\\\n  01,\\\n  zz\n",
       "Registry file \"/cfg/registry.reg\", line 5: bad byte \"zz\" in hex list"},
      {head + "\"A\"=hex:00,\\\n", where3 + "hex list continues past the end of the file"},
      {head + "\"A\"=-\n", where3 + "unknown value data \"-\""},
      {head + "\"A\"=\n", where3 + "unknown value data \"\""},
  };
  for (const Case& c : cases) {
    EXPECT_THROW_MSG(RegistryFile::Parse(c.Content, kName), Error, c.Message);
  }
}

TEST(RegistryFileTest, WritableNames) {
  EXPECT_TRUE(IsWritableValueName(""));
  EXPECT_TRUE(IsWritableValueName("a \"b\" \\c"));
  EXPECT_FALSE(IsWritableValueName("a\nb"));
  EXPECT_FALSE(IsWritableValueName(Text("a\0b", 3)));
  EXPECT_TRUE(IsWritableKeyPath("HKEY_CURRENT_USER\\a b"));
  for (const char* path : {"", "\\K", "K\\", "A\\\\B", "A\rB"}) {
    EXPECT_FALSE(IsWritableKeyPath(path)) << path;
  }
}

TEST(RegistryFileTest, Utf16LeToUtf8) {
  struct Case {
    Text Utf16;
    Text Utf8;
  };
  const Case cases[] = {
      {Text("A\0", 2), "A"},
      {Text("\xE9\0", 2), "\xC3\xA9"},
      {Text("\xAC\x20", 2), "\xE2\x82\xAC"},              // U+20AC
      {Text("\x3D\xD8\x00\xDE", 4), "\xF0\x9F\x98\x80"},  // U+1F600 as a pair
      {Text("\x3D\xD8"
            "A\0",
            4),
       "\xEF\xBF\xBD"
       "A"},                                     // lone high surrogate
      {Text("\x00\xDE", 2), "\xEF\xBF\xBD"},     // lone low surrogate
      {Text("A\0B", 3), "A"},                    // odd last byte
      {Text("A\0\0\0B\0", 6), Text("A\0B", 3)},  // NULs stay; the reader cuts
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf16LeToUtf8(c.Utf16), c.Utf8) << test::EscapeBytes(c.Utf16);
  }
}

}  // namespace
}  // namespace quillane
