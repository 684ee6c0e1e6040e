// The document opener on POSIX: the registry file first, the freedesktop
// association where the file holds nothing, with temporary XDG folders.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "base/error.h"
#include "platform/platform.h"
#include "platform/posix/desktop_test_folders.h"

namespace quillane {
namespace {

namespace fs = std::filesystem;
using platform::DocumentOpenerProgId;
using platform::OpenerVerb;
using platform::RegistryKey;
using test::DesktopTest;

constexpr auto kUser = platform::RegistryRoot::kCurrentUser;
constexpr auto kClasses = platform::RegistryRoot::kClassesRoot;
const char kUserChoice[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.pdf\\UserChoice";

// The registry file `body` stands for, section headers and values as written.
std::string RegistryFile(const std::string& body) {
  return "Windows Registry Editor Version 5.00\n" + body;
}
const std::string kUserChoiceSection = "[HKEY_CURRENT_USER\\" + std::string(kUserChoice) + "]\n";
const std::string kFileExtsSection =
    "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\."
    "pdf]\n";

// DocumentOpenerVerb as one line: "<verb> | <command>", or "<unknown>".
std::string Opener(const Text& progId, const Text& skippedVerb = "") {
  const std::optional<OpenerVerb> opener = platform::DocumentOpenerVerb(progId, skippedVerb);
  return opener ? opener->Verb + " | " + opener->Command : "<unknown>";
}

TEST_F(DesktopTest, DocumentOpenerAnswersFromTheAssociation) {
  App("sys1", "org.example.Viewer.desktop", "viewer --new %U", "application/pdf;");
  EXPECT_EQ(DocumentOpenerProgId(), "org.example.Viewer.desktop");
  EXPECT_EQ(platform::DocumentOpenerVerb("org.example.Viewer.desktop", ""),
            (OpenerVerb{"open", "viewer --new \"%1\""}));
  EXPECT_EQ(Opener("other.desktop"), "<unknown>");
  // The registry holds what its file holds: no key of the association opens.
  EXPECT_EQ(RegistryKey::OpenReadOnly(kUser, kUserChoice), nullptr);
  EXPECT_EQ(RegistryKey::OpenReadOnly(kClasses, "org.example.Viewer.desktop\\Shell"), nullptr);
  // Nothing was written.
  EXPECT_FALSE(fs::exists(Folder("registry")));
}

TEST_F(DesktopTest, ValuesInTheRegistryFileWin) {
  App("sys1", "viewer.desktop", "viewer %U", "application/pdf;");
  App("sys1", "other.desktop", "other %U");
  Write("registry/registry.reg",
        RegistryFile(kUserChoiceSection + "\"Hash\"=\"x\"\n" +
                     "[HKEY_CLASSES_ROOT\\viewer.desktop\\Shell\\open\\command]\n"
                     "@=\"custom \\\"%1\\\"\"\n"));
  EXPECT_EQ(DocumentOpenerProgId(), "viewer.desktop");  // the file has none
  EXPECT_EQ(Opener("viewer.desktop"), "open | custom \"%1\"");
  // Any desktop ID named by the file is looked up too.
  EXPECT_EQ(Opener("other.desktop"), "open | other \"%1\"");

  Write("registry/registry.reg",
        RegistryFile(kUserChoiceSection + "\"Progid\"=\"other.desktop\"\n"));
  EXPECT_EQ(DocumentOpenerProgId(), "other.desktop");
}

// The user's choice in the file, then the desktop's default, then the file's
// FileExts key.
TEST_F(DesktopTest, ProgIdTakesTheFileThenTheDesktopThenFileExts) {
  const struct {
    const char* situation;
    std::string registry;
    bool desktopDefault;  // viewer.desktop installed for application/pdf
    const char* expected;
  } cases[] = {
      {"desktop default before FileExts", kFileExtsSection + "\"Progid\"=\"Exts.Pdf\"\n", true,
       "viewer.desktop"},
      {"an empty choice in the file hides the desktop's",
       kUserChoiceSection + "\"Progid\"=\"\"\n" + kFileExtsSection + "\"Progid\"=\"Exts.Pdf\"\n",
       true, "Exts.Pdf"},
      {"an empty choice and nothing else", kUserChoiceSection + "\"Progid\"=\"\"\n", true, ""},
      {"no desktop default", kFileExtsSection + "\"Application\"=\"reader.exe\"\n", false,
       "reader.exe"},
  };
  for (const auto& c : cases) {
    fs::remove_all(Folder("sys1"));
    if (c.desktopDefault) App("sys1", "viewer.desktop", "viewer %U", "application/pdf;");
    // Quillane's own entry is never the desktop's default.
    App("home", "quillane.desktop", "quillane /tempexec /in %f", "application/pdf;");
    Write("registry/registry.reg", RegistryFile(c.registry));
    EXPECT_EQ(DocumentOpenerProgId(), c.expected) << c.situation;
  }
}

// The file's keys for a desktop ID come first; the entry's command stands in
// only for the verb "open" where the file gives no command for it.
TEST_F(DesktopTest, VerbTakesTheFileThenTheDesktopEntryForOpen) {
  App("sys1", "viewer.desktop", "viewer %U", "application/pdf;");
  App("sys1", "nul.desktop", std::string("nul \"x\0y\" %f", 12));
  const std::string shell = "[HKEY_CLASSES_ROOT\\viewer.desktop\\Shell]\n";
  const std::string command = "[HKEY_CLASSES_ROOT\\viewer.desktop\\Shell\\";
  const struct {
    const char* situation;
    std::string registry;
    const char* progId;
    const char* expected;
  } cases[] = {
      {"a verb of the file's own",
       shell + "@=\"view\"\n" + command + "view\\command]\n@=\"viewer --view %1\"\n",
       "viewer.desktop", "view | viewer --view %1"},
      {"a verb of the file's without command", shell + "@=\"view\"\n", "viewer.desktop", "view | "},
      {"open in another case", shell + "@=\"OPEN\"\n", "viewer.desktop", "OPEN | viewer \"%1\""},
      {"a command key without value", command + "open\\command]\n", "viewer.desktop",
       "open | viewer \"%1\""},
      {"another verb's command only", command + "edit\\command]\n@=\"edit %1\"\n", "viewer.desktop",
       "open | viewer \"%1\""},
      {"a command ends at a NUL, as registry text does", "", "nul.desktop", "open | nul \"x"},
      {"an entry that is not installed", "[HKEY_CLASSES_ROOT\\gone.desktop\\Shell]\n",
       "gone.desktop", "open | "},
  };
  for (const auto& c : cases) {
    Write("registry/registry.reg", RegistryFile(c.registry));
    EXPECT_EQ(Opener(c.progId), c.expected) << c.situation;
  }
}

TEST_F(DesktopTest, SkippedVerbsCommandIsNotRead) {
  Write("registry/registry.reg",
        RegistryFile("[HKEY_CLASSES_ROOT\\Vendor.Pdf\\Shell]\n@=\"own_verb\"\n"
                     "[HKEY_CLASSES_ROOT\\Vendor.Pdf\\Shell\\own_verb\\command]\n"
                     "@=dword:00000001\n"));
  EXPECT_EQ(Opener("Vendor.Pdf", "own_verb"), "own_verb | ");
  EXPECT_THROW_MSG(Opener("Vendor.Pdf", "other_verb"), Error, "Invalid data type for ''");
}

}  // namespace
}  // namespace quillane
