// The POSIX registry: the registry file behind RegistryKey.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "base/error.h"
#include "platform/platform.h"
#include "platform/posix/registry.h"
#include "support/test_util.h"

namespace quillane::platform {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::ScopedEnvironment;
using test::WriteFileBytes;

// The files in a folder, names only, for "nothing left behind" checks.
std::vector<std::string> Listing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

class RegistryTest : public ::testing::Test {
 protected:
  RegistryTest() {
    path_ = scratch_.File("config/registry.reg");
    env_.Set("QUILLANE_REGISTRY", path_.c_str());
  }

  // Stands for another program's change, which a new process would see.
  void WriteRegistry(const std::string& body) {
    posix::ForgetRegistryReads();
    fs::create_directories(scratch_.Path() / "config");
    WriteFileBytes(path_, "Windows Registry Editor Version 5.00\n" + body);
  }
  std::string RegistryText() const { return ReadFileBytes(path_); }

  test::ScratchDir scratch_;
  ScopedEnvironment env_;
  std::string path_;
};

constexpr RegistryRoot kUser = RegistryRoot::kCurrentUser;
constexpr RegistryRoot kClasses = RegistryRoot::kClassesRoot;

TEST_F(RegistryTest, MissingFileIsAnEmptyRegistryAndStaysMissing) {
  EXPECT_EQ(RegistryKey::OpenReadOnly(kUser, "Software\\Bramblecote Software\\quillane"), nullptr);
  EXPECT_EQ(RegistryKey::Open(kUser, "Software\\Bramblecote Software\\quillane"), nullptr);
  EXPECT_FALSE(fs::exists(scratch_.Path() / "config"));
}

TEST_F(RegistryTest, CreatingAKeyWritesTheFileAtOnce) {
  ASSERT_NE(RegistryKey::OpenOrCreate(kUser, "Software\\Bramblecote Software\\quillane"), nullptr);
  EXPECT_TRUE(
      test::BytesEqual("Windows Registry Editor Version 5.00\n"
                       "\n"
                       "[HKEY_CURRENT_USER\\Software\\Bramblecote Software\\quillane]\n",
                       RegistryText()));
  // An existing key, or one that exists through a descendant, adds nothing.
  ASSERT_NE(RegistryKey::OpenOrCreate(kUser, "Software\\Bramblecote Software"), nullptr);
  ASSERT_NE(RegistryKey::OpenOrCreate(kUser, "SOFTWARE\\bramblecote software\\QUILLANE"), nullptr);
  EXPECT_EQ(Listing(scratch_.Path() / "config"), std::vector<std::string>{"registry.reg"});
  EXPECT_TRUE(
      test::BytesEqual("Windows Registry Editor Version 5.00\n"
                       "\n"
                       "[HKEY_CURRENT_USER\\Software\\Bramblecote Software\\quillane]\n",
                       RegistryText()));
}

// Key opens read the file once per process; the process's own writes are
// seen at once, and a write reads the file again, so that a change another
// program made meanwhile is neither lost nor hidden afterwards.
TEST_F(RegistryTest, KeyOpensReadTheFileOnceAndWritesKeepOtherChanges) {
  WriteRegistry("[HKEY_CURRENT_USER\\K]\n\"V\"=\"one\"\n");
  ASSERT_NE(RegistryKey::OpenReadOnly(kUser, "K"), nullptr);
  WriteFileBytes(path_,
                 "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\K]\n\"V\"=\"two\"\n");
  const auto key = RegistryKey::Open(kUser, "K");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->ReadString("V"), "one");

  ASSERT_NE(RegistryKey::OpenOrCreate(kUser, "New"), nullptr);
  EXPECT_EQ(RegistryKey::OpenReadOnly(kUser, "K")->ReadString("V"), "two");
  key->WriteString("W", "own");
  const auto again = RegistryKey::OpenReadOnly(kUser, "K");
  EXPECT_EQ(again->ReadString("V"), "two");
  EXPECT_EQ(again->ReadString("W"), "own");
  EXPECT_NE(RegistryKey::OpenReadOnly(kUser, "New"), nullptr);
  EXPECT_TRUE(test::BytesEqual(
      "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\K]\n\"V\"=\"two\"\n"
      "\"W\"=\"own\"\n\n[HKEY_CURRENT_USER\\New]\n",
      RegistryText()));
}

TEST_F(RegistryTest, PathsAreAbsoluteAndEmptyComponentsDoNotCount) {
  WriteRegistry(
      "[HKEY_CURRENT_USER\\Software\\Vendor\\App]\n\"Where\"=\"app\"\n"
      "[HKEY_CURRENT_USER\\Software\\Other]\n\"Where\"=\"other\"\n"
      "[HKEY_CURRENT_USER\\Vendor\\App]\n\"Where\"=\"top\"\n");
  const std::pair<const char*, const char*> cases[] = {
      {"Software\\Vendor\\App", "app"},
      {"\\Vendor\\App", "top"},
      {"Software\\Other\\", "other"},
      {"Software\\\\Other", "other"},
  };
  for (const auto& [path, where] : cases) {
    const auto key = RegistryKey::OpenReadOnly(kUser, path);
    ASSERT_NE(key, nullptr) << path;
    EXPECT_EQ(key->ReadString("Where"), where) << path;
  }
  EXPECT_EQ(RegistryKey::OpenReadOnly(kUser, "Software\\Missing"), nullptr);
  EXPECT_EQ(RegistryKey::OpenReadOnly(kUser, "App"), nullptr);
}

TEST_F(RegistryTest, RootsAreSeparateAndKeysExistThroughDescendants) {
  WriteRegistry("[HKEY_CLASSES_ROOT\\Reader.Document\\Shell\\open\\command]\n@=\"reader %1\"\n");
  const auto shell = RegistryKey::OpenReadOnly(kClasses, "Reader.Document\\Shell");
  ASSERT_NE(shell, nullptr);
  EXPECT_FALSE(shell->ValueExists(""));
  EXPECT_EQ(shell->ReadString(""), "");
  const auto command = RegistryKey::OpenReadOnly(kClasses, "Reader.Document\\Shell\\open\\command");
  ASSERT_NE(command, nullptr);
  EXPECT_EQ(command->ReadString(""), "reader %1");
  EXPECT_EQ(RegistryKey::OpenReadOnly(kUser, "Reader.Document"), nullptr);
}

TEST_F(RegistryTest, ReadsFollowTheValueTypes) {
  WriteRegistry(
      "[HKEY_CURRENT_USER\\K]\n"
      "\"Text\"=\"viewer %1\"\n"
      "\"On\"=\"1\"\n"
      "\"Cut\"=hex(1):61,00,62\n"
      "\"Expand\"=hex(2):25,00,50,00,41,00,54,00,48,00,25,00,5c,00,e9,00,00,00\n"
      "\"Dword\"=dword:00000000\n"
      "\"Two\"=dword:00000002\n"
      "\"Short\"=hex(4):01\n"
      "\"Empty\"=hex:\n"
      "\"Binary\"=hex:01\n"
      "\"Five\"=hex(4):00,00,00,00,00\n"
      "@=dword:00000001\n");
  const auto key = RegistryKey::OpenReadOnly(kUser, "K");
  ASSERT_NE(key, nullptr);
  RegistryKey& registry = *key;
  EXPECT_EQ(registry.ReadString("Text"), "viewer %1");
  EXPECT_EQ(registry.ReadString("text"), "viewer %1");
  EXPECT_EQ(registry.ReadString("Cut"), "a");
  EXPECT_EQ(registry.ReadString("Expand"), "%PATH%\\\xC3\xA9");  // not expanded
  EXPECT_EQ(registry.ReadString("Empty"), "");                   // no data: no type check
  EXPECT_EQ(registry.ReadString("Missing"), "");
  EXPECT_THROW_MSG(registry.ReadString("Dword"), Error, "Invalid data type for 'Dword'");
  EXPECT_THROW_MSG(registry.ReadString("Binary"), Error, "Invalid data type for 'Binary'");
  EXPECT_THROW_MSG(registry.ReadString(""), Error, "Invalid data type for ''");

  EXPECT_FALSE(registry.ReadBool("Dword"));
  EXPECT_TRUE(registry.ReadBool("Two"));
  EXPECT_TRUE(registry.ReadBool("Short"));
  EXPECT_TRUE(registry.ReadBool(""));
  // The size is checked before the type, as a four-byte query would.
  EXPECT_THROW_MSG(registry.ReadBool("On"), Error, "Invalid data type for 'On'");
  EXPECT_THROW_MSG(registry.ReadBool("Text"), Error, "Failed to get data for 'Text'");
  EXPECT_THROW_MSG(registry.ReadBool("Empty"), Error, "Invalid data type for 'Empty'");
  EXPECT_THROW_MSG(registry.ReadBool("Five"), Error, "Failed to get data for 'Five'");
  EXPECT_THROW_MSG(registry.ReadBool("Missing"), Error, "Failed to get data for 'Missing'");

  EXPECT_TRUE(registry.ValueExists("EMPTY"));
  EXPECT_TRUE(registry.ValueExists(""));
  EXPECT_FALSE(registry.ValueExists("Missing"));
}

TEST_F(RegistryTest, WriteStringChangesOnlyItsValue) {
  WriteRegistry(
      "\n"
      "; kept\n"
      "[HKEY_CURRENT_USER\\Software\\Bramblecote Software\\quillane]\n"
      "\"ReplaceObject\"=\"none\"\n"
      "\"pdfreadcmd\"=hex(2):61,00,00,00\n"
      "\n"
      "[HKEY_CLASSES_ROOT\\x]\n"
      "\"Blob\"=hex:ff\n");
  const auto key = RegistryKey::OpenOrCreate(kUser, "Software\\Bramblecote Software\\quillane");
  ASSERT_NE(key, nullptr);
  RegistryKey& registry = *key;
  registry.WriteString("PdfReadCmd", "\"/usr/bin/viewer\" \"%1\"");
  registry.WriteString("New", "");
  EXPECT_TRUE(
      test::BytesEqual("Windows Registry Editor Version 5.00\n"
                       "\n"
                       "; kept\n"
                       "[HKEY_CURRENT_USER\\Software\\Bramblecote Software\\quillane]\n"
                       "\"ReplaceObject\"=\"none\"\n"
                       "\"pdfreadcmd\"=\"\\\"/usr/bin/viewer\\\" \\\"%1\\\"\"\n"
                       "\"New\"=\"\"\n"
                       "\n"
                       "[HKEY_CLASSES_ROOT\\x]\n"
                       "\"Blob\"=hex:ff\n",
                       RegistryText()));
  EXPECT_EQ(registry.ReadString("PdfReadCmd"), "\"/usr/bin/viewer\" \"%1\"");
  EXPECT_EQ(Listing(scratch_.Path() / "config"), std::vector<std::string>{"registry.reg"});
}

TEST_F(RegistryTest, FailedWritesRaiseTheRegistryError) {
  const auto key = RegistryKey::OpenOrCreate(kUser, "K");
  ASSERT_NE(key, nullptr);
  RegistryKey& registry = *key;
  EXPECT_THROW_MSG(registry.WriteString("a\nb", "x"), Error, "Failed to set data for 'a\nb'");
  // The file turned into a folder after the open: nothing can be written.
  fs::remove(path_);
  fs::create_directory(path_);
  EXPECT_THROW_MSG(registry.WriteString("", "x"), Error, "Failed to set data for ''");
}

TEST_F(RegistryTest, MalformedOrUnreadableFilesAreErrors) {
  WriteRegistry("[HKEY_CURRENT_USER\\K]\n\"A\"=dword:xyz\n");
  const std::string before = RegistryText();
  EXPECT_THROW_MSG(RegistryKey::OpenOrCreate(kUser, "K"), Error,
                   "Registry file \"" + path_ +
                       "\", line 3: bad dword value (one to eight hex digits expected)");
  EXPECT_EQ(RegistryText(), before);
  fs::remove(path_);
  fs::create_directory(path_);
  EXPECT_THROW_MSG(RegistryKey::OpenReadOnly(kUser, "K"), Error,
                   "Cannot open file \"" + path_ + "\". Is a directory");
}

TEST_F(RegistryTest, FileLocationFollowsTheEnvironment) {
  env_.Set("QUILLANE_REGISTRY", nullptr);
  const std::string configHome = scratch_.File("xdg");
  env_.Set("XDG_CONFIG_HOME", configHome.c_str());
  ASSERT_NE(RegistryKey::OpenOrCreate(kUser, "A"), nullptr);
  EXPECT_TRUE(fs::is_regular_file(configHome + "/quillane/registry.reg"));

  // A relative XDG_CONFIG_HOME is invalid and ignored.
  const std::string home = scratch_.File("home");
  env_.Set("XDG_CONFIG_HOME", "relative");
  env_.Set("HOME", home.c_str());
  ASSERT_NE(RegistryKey::OpenOrCreate(kUser, "B"), nullptr);
  EXPECT_TRUE(fs::is_regular_file(home + "/.config/quillane/registry.reg"));
}

}  // namespace
}  // namespace quillane::platform
