// Reader discovery, launch and the "/diag" report against real registry files
// and a real child process (the reader stand-in tests/tools/fake_reader.cpp).
#include "reader/discovery.h"
#include "reader/launch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/error.h"
#include "platform/platform.h"
#include "platform/posix/desktop_opener.h"
#include "platform/posix/registry.h"
#include "support/test_util.h"

namespace quillane {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::ScopedEnvironment;
using test::ScratchDir;
using test::WriteFileBytes;
using Clock = std::chrono::steady_clock;

// ---------------------------------------------------------------------------
// Small helpers

// ---------------------------------------------------------------------------
// Registry file pieces, in the export format of the Windows registry editor

const std::string kUserChoice =
    "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.pdf"
    "\\UserChoice]\n";
const std::string kFileExts =
    "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\."
    "pdf]\n";
const std::string kConfigurationKey = "Software\\Bramblecote Software\\quillane";
const std::string kLegacyKey = "Software\\Fennimore Software\\quillane";
const std::string kConfiguration = "[HKEY_CURRENT_USER\\" + kConfigurationKey + "]\n";
const std::string kLegacy = "[HKEY_CURRENT_USER\\" + kLegacyKey + "]\n";

std::string Classes(const std::string& path) { return "[HKEY_CLASSES_ROOT\\" + path + "]\n"; }

// A REG_SZ value line; "@" names the default value.
std::string Sz(const std::string& name, const std::string& value) {
  std::string escaped;
  for (const char c : value) {
    if (c == '\\' || c == '"') escaped += '\\';
    escaped += c;
  }
  return (name == "@" ? "@" : "\"" + name + "\"") + "=\"" + escaped + "\"\n";
}

std::string Dword(const std::string& name, const std::string& hex8) {
  return "\"" + name + "\"=dword:" + hex8 + "\n";
}

// A REG_EXPAND_SZ value line: UTF-16LE code units with the terminating NUL, as
// the registry editor exports them.
std::string ExpandSz(const std::string& name, const std::string& value) {
  static const char kHex[] = "0123456789abcdef";
  std::string line = (name == "@" ? "@" : "\"" + name + "\"") + "=hex(2):";
  for (const char c : value + '\0') {
    const auto byte = static_cast<unsigned char>(c);
    line += kHex[byte >> 4];
    line += kHex[byte & 15];
    line += ",00,";
  }
  line.pop_back();
  return line + "\n";
}

// The Shell key of `shellOwner` with default verb `verb` (nullptr: no default
// value) and one verb with a command.
std::string Association(const std::string& shellOwner, const char* verb,
                        const std::string& commandVerb, const std::string& command) {
  std::string text = Classes(shellOwner + "\\Shell");
  if (verb != nullptr) text += Sz("@", verb);
  return text + Classes(shellOwner + "\\Shell\\" + commandVerb + "\\command") + Sz("@", command);
}

// ---------------------------------------------------------------------------
// Fixture: a registry file of our own and an empty desktop, so that neither
// the user's registry nor the machine's PDF association can leak in.

class ReaderIntegrationTest : public ::testing::Test {
 protected:
  ReaderIntegrationTest() {
    env_.Set("QUILLANE_REGISTRY", scratch_.File("registry.reg"));
    for (const char* name :
         {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_HOME", "XDG_DATA_DIRS"}) {
      env_.Set(name, scratch_.File("desktop"));
    }
    fs::create_directories(scratch_.File("desktop"));
  }

  // Stands for another program's change: the registry file and desktop read
  // so far are dropped, as a new process would not have them.
  void WriteRegistry(const std::string& body) {
    platform::posix::ForgetRegistryReads();
    platform::posix::ForgetDesktopReads();
    WriteFileBytes(scratch_.File("registry.reg"),
                   "Windows Registry Editor Version 5.00\n\n" + body);
  }
  std::string RegistryBytes() const { return ReadFileBytes(scratch_.File("registry.reg")); }

  static bool KeyExists(const std::string& key) {
    return platform::RegistryKey::OpenReadOnly(platform::RegistryRoot::kCurrentUser, key) !=
           nullptr;
  }
  // A text value of the current user's `key`, or nullopt when key or value is
  // missing.
  static std::optional<std::string> StoredText(const std::string& key, const std::string& name) {
    const auto registry =
        platform::RegistryKey::OpenReadOnly(platform::RegistryRoot::kCurrentUser, key);
    if (registry == nullptr || !registry->ValueExists(name)) return std::nullopt;
    return registry->ReadString(name);
  }

  ScratchDir scratch_;
  // The variables set above; a test may set more. All are restored at its end.
  ScopedEnvironment env_;
};

// ---------------------------------------------------------------------------
// GetPdfProgId

struct ProgIdCase {
  const char* situation;
  std::string registry;
  const char* expected;
};

TEST_F(ReaderIntegrationTest, ProgIdFollowsUserChoiceThenFileExts) {
  const ProgIdCase cases[] = {
      {"nothing registered", "", ""},
      {"only a machine-wide handler", Classes(".pdf") + Sz("@", "Vendor.Pdf"), ""},
      {"user choice", kUserChoice + Sz("Progid", "Choice.Pdf"), "Choice.Pdf"},
      // The FileExts key holds a value of the wrong type: reading it would throw.
      {"user choice is final",
       kUserChoice + Sz("Progid", "Choice.Pdf") + kFileExts + Dword("Application", "00000001"),
       "Choice.Pdf"},
      {"user choice without Progid",
       kUserChoice + Sz("Hash", "x") + kFileExts + Sz("Progid", "Exts.Pdf"), "Exts.Pdf"},
      {"user choice with an empty Progid",
       kUserChoice + Sz("Progid", "") + kFileExts + Sz("Progid", "Exts.Pdf"), "Exts.Pdf"},
      {"FileExts Progid", kFileExts + Sz("Progid", "Exts.Pdf"), "Exts.Pdf"},
      {"Application wins over Progid",
       kFileExts + Sz("Progid", "Exts.Pdf") + Sz("Application", "reader.exe"), "reader.exe"},
      {"Application alone", kFileExts + Sz("Application", "reader.exe"), "reader.exe"},
      {"an empty Application still wins",
       kFileExts + Sz("Progid", "Exts.Pdf") + Sz("Application", ""), ""},
  };
  for (const auto& c : cases) {
    WriteRegistry(c.registry);
    const std::string before = RegistryBytes();
    EXPECT_EQ(GetPdfProgId(), c.expected) << c.situation;
    EXPECT_EQ(RegistryBytes(), before) << c.situation << ": reading must not write";
  }
}

// ---------------------------------------------------------------------------
// DeducePdfReadCommand

constexpr char kDeduced[] = "\"/opt/reader/bin/reader\" \"%1\"";
constexpr char kCached[] = "/usr/bin/old-reader %1";
constexpr char kOther[] = "/usr/bin/other-reader \"%1\"";

struct DeduceCase {
  const char* situation;
  std::string registry;  // the configuration key always exists
  const char* progId;
  const char* expected;
  const char* stored;  // PdfReadCmd afterwards; nullptr: the file is not written
};

TEST_F(ReaderIntegrationTest, DeduceFollowsTheOutcomeTable) {
  const std::string vendor = Association("Vendor.Pdf", "", "open", kDeduced);
  const DeduceCase cases[] = {
      // Deduced command against the cache and the custom flag.
      {"deduced, nothing cached", kConfiguration + vendor, "Vendor.Pdf", kDeduced, kDeduced},
      {"deduced equals the cache", kConfiguration + Sz("PdfReadCmd", kDeduced) + vendor,
       "Vendor.Pdf", kDeduced, nullptr},
      {"deduced differs from the cache", kConfiguration + Sz("PdfReadCmd", kCached) + vendor,
       "Vendor.Pdf", kDeduced, kDeduced},
      {"custom flag pins the cache",
       kConfiguration + Sz("PdfReadCmd", kCached) + Dword("CustomPdfReadCmd", "00000001") + vendor,
       "Vendor.Pdf", kCached, nullptr},
      {"custom flag pins an empty cache",
       kConfiguration + Dword("CustomPdfReadCmd", "00000001") + vendor, "Vendor.Pdf", "", nullptr},
      {"custom flag zero",
       kConfiguration + Sz("PdfReadCmd", kCached) + Dword("CustomPdfReadCmd", "00000000") + vendor,
       "Vendor.Pdf", kDeduced, kDeduced},
      {"nothing deduced, nothing cached", kConfiguration, "Vendor.Pdf", "", nullptr},

      // Verbs.
      {"no Shell key", kConfiguration + Sz("PdfReadCmd", kCached) + Classes("Vendor.Pdf"),
       "Vendor.Pdf", kCached, nullptr},
      {"verb without command subkey",
       kConfiguration + Sz("PdfReadCmd", kCached) + Classes("Vendor.Pdf\\Shell") +
           Sz("@", "print") + Classes("Vendor.Pdf\\Shell\\print") +
           Classes("Vendor.Pdf\\Shell\\open\\command") + Sz("@", kOther),
       "Vendor.Pdf", kCached, nullptr},
      {"command key without default value",
       kConfiguration + Sz("PdfReadCmd", kCached) + Classes("Vendor.Pdf\\Shell\\open\\command"),
       "Vendor.Pdf", kCached, nullptr},
      {"default verb missing means open",
       kConfiguration + Association("Vendor.Pdf", nullptr, "open", kDeduced), "Vendor.Pdf",
       kDeduced, kDeduced},
      {"named default verb",
       kConfiguration + Association("Vendor.Pdf", "view", "view", kDeduced) +
           Classes("Vendor.Pdf\\Shell\\open\\command") + Sz("@", kOther),
       "Vendor.Pdf", kDeduced, kDeduced},
      {"own verb",
       kConfiguration + Sz("PdfReadCmd", kCached) +
           Association("Vendor.Pdf", "quillane_main", "quillane_main", kOther) +
           Classes("Vendor.Pdf\\Shell\\open\\command") + Sz("@", kOther),
       "Vendor.Pdf", kCached, nullptr},

      // Own identifiers and applications.
      {"own ProgID",
       kConfiguration + Sz("PdfReadCmd", kCached) +
           Association("quillane.pdfdoc", "", "open", kOther),
       "quillane.pdfdoc", kCached, nullptr},
      {"own ProgID, nothing cached",
       kConfiguration + Association("quillane.pdfdoc", "", "open", kOther), "quillane.pdfdoc", "",
       nullptr},
      {"own application",
       kConfiguration + Sz("PdfReadCmd", kCached) +
           Association("Applications\\quillane.exe", "", "open", kOther),
       "quillane.exe", kCached, nullptr},
      {"own desktop entry",
       kConfiguration + Sz("PdfReadCmd", kCached) +
           Association("quillane.desktop", "", "open", kOther),
       "quillane.desktop", kCached, nullptr},
      {"own application in another case is an application like any other",
       kConfiguration + Association("Applications\\Quillane.EXE", "", "open", kDeduced),
       "Quillane.EXE", kDeduced, kDeduced},
      {"mixed-case .exe is looked up below Applications",
       kConfiguration + Association("Applications\\Reader.eXe", "", "open", kDeduced) +
           Association("Reader.eXe", "", "open", kOther),
       "Reader.eXe", kDeduced, kDeduced},
      {"Applications prefix doubled",
       kConfiguration + Sz("PdfReadCmd", kCached) +
           Association("Applications\\reader.exe", "", "open", kOther),
       "Applications\\reader.exe", kCached, nullptr},
      {".exe only inside the name",
       kConfiguration + Association("reader.exe.pdf", "", "open", kDeduced), "reader.exe.pdf",
       kDeduced, kDeduced},

      // Legacy key: read, and overridden by the configuration key.
      {"legacy cache used",
       kLegacy + Sz("PdfReadCmd", kCached) + kConfiguration + Classes("Vendor.Pdf"), "Vendor.Pdf",
       kCached, nullptr},
      {"legacy custom flag applies",
       kLegacy + Sz("PdfReadCmd", kCached) + Dword("CustomPdfReadCmd", "00000001") +
           kConfiguration + vendor,
       "Vendor.Pdf", kCached, nullptr},
      {"configuration flag overrides legacy flag",
       kLegacy + Sz("PdfReadCmd", kCached) + Dword("CustomPdfReadCmd", "00000001") +
           kConfiguration + Dword("CustomPdfReadCmd", "00000000") + vendor,
       "Vendor.Pdf", kDeduced, kDeduced},
      {"configuration cache overrides legacy cache",
       kLegacy + Sz("PdfReadCmd", kOther) + kConfiguration + Sz("PdfReadCmd", kCached) +
           Classes("Vendor.Pdf"),
       "Vendor.Pdf", kCached, nullptr},
      {"legacy cache equal to the deduced command",
       kLegacy + Sz("PdfReadCmd", kDeduced) + kConfiguration + vendor, "Vendor.Pdf", kDeduced,
       nullptr},

      // Expandable strings are returned as stored.
      {"deduced REG_EXPAND_SZ unexpanded",
       kConfiguration + Classes("Vendor.Pdf\\Shell\\open\\command") +
           ExpandSz("@", "%READER_HOME%/reader \"%1\""),
       "Vendor.Pdf", "%READER_HOME%/reader \"%1\"", "%READER_HOME%/reader \"%1\""},
      {"cached REG_EXPAND_SZ unexpanded",
       kConfiguration + ExpandSz("PdfReadCmd", "%READER_HOME%/reader %1"), "Vendor.Pdf",
       "%READER_HOME%/reader %1", nullptr},
  };
  for (const auto& c : cases) {
    WriteRegistry(c.registry);
    const std::string before = RegistryBytes();
    EXPECT_EQ(DeducePdfReadCommand(c.progId), c.expected) << c.situation;
    if (c.stored == nullptr) {
      EXPECT_EQ(RegistryBytes(), before) << c.situation << ": the file must not be written";
    } else {
      EXPECT_EQ(StoredText(kConfigurationKey, "PdfReadCmd"), c.stored) << c.situation;
    }
  }
}

TEST_F(ReaderIntegrationTest, DeduceCreatesTheConfigurationKeyButNeverTheLegacyKey) {
  const std::pair<const char*, const char*> cases[] = {{"Vendor.Pdf", kDeduced},
                                                       {"quillane.pdfdoc", ""}};
  for (const auto& [progId, expected] : cases) {
    WriteRegistry(Association("Vendor.Pdf", "", "open", kDeduced));
    EXPECT_EQ(DeducePdfReadCommand(progId), expected) << progId;
    EXPECT_TRUE(KeyExists(kConfigurationKey)) << progId;
    EXPECT_FALSE(KeyExists(kLegacyKey)) << progId;
  }
}

TEST_F(ReaderIntegrationTest, NewlyDeducedCommandGoesToTheConfigurationKeyOnly) {
  WriteRegistry(kLegacy + Sz("PdfReadCmd", kCached) +
                Association("Vendor.Pdf", "", "open", kDeduced));
  EXPECT_EQ(DeducePdfReadCommand("Vendor.Pdf"), kDeduced);
  EXPECT_EQ(StoredText(kConfigurationKey, "PdfReadCmd"), kDeduced);
  EXPECT_EQ(StoredText(kLegacyKey, "PdfReadCmd"), kCached);
  // The next call finds its own cache equal to the association and writes nothing.
  const std::string before = RegistryBytes();
  EXPECT_EQ(DeducePdfReadCommand("Vendor.Pdf"), kDeduced);
  EXPECT_EQ(RegistryBytes(), before);
}

// ---------------------------------------------------------------------------
// Values of the wrong type end the run with the registry layer's messages.

struct WrongTypeCase {
  std::string registry;
  const char* expected;
};

TEST_F(ReaderIntegrationTest, WrongValueTypesRaiseRegistryErrors) {
  const WrongTypeCase progIdCases[] = {
      {kUserChoice + Dword("Progid", "00000001"), "Invalid data type for 'Progid'"},
      {kFileExts + Dword("Progid", "00000001"), "Invalid data type for 'Progid'"},
      {kFileExts + Sz("Progid", "Exts.Pdf") + "\"Application\"=hex:41,00",
       "Invalid data type for 'Application'"},
  };
  for (const auto& c : progIdCases) {
    WriteRegistry(c.registry);
    SCOPED_TRACE(c.registry);
    EXPECT_THROW_MSG(GetPdfProgId(), Error, c.expected);
  }

  const WrongTypeCase deduceCases[] = {
      {kConfiguration + Dword("PdfReadCmd", "00000001"), "Invalid data type for 'PdfReadCmd'"},
      {kLegacy + Dword("PdfReadCmd", "00000001"), "Invalid data type for 'PdfReadCmd'"},
      {kConfiguration + Sz("CustomPdfReadCmd", "1"), "Invalid data type for 'CustomPdfReadCmd'"},
      {kConfiguration + "\"CustomPdfReadCmd\"=hex:01,00,00,00",
       "Invalid data type for 'CustomPdfReadCmd'"},
      {kLegacy + "\"CustomPdfReadCmd\"=hex(4):01,00,00,00,00,00,00,00",
       "Failed to get data for 'CustomPdfReadCmd'"},
      {Classes("Vendor.Pdf\\Shell") + "@=dword:00000001", "Invalid data type for ''"},
      {Classes("Vendor.Pdf\\Shell\\open\\command") + "@=dword:00000001",
       "Invalid data type for ''"},
  };
  for (const auto& c : deduceCases) {
    WriteRegistry(c.registry);
    SCOPED_TRACE(c.registry);
    EXPECT_THROW_MSG(DeducePdfReadCommand("Vendor.Pdf"), Error, c.expected);
  }
}

// ---------------------------------------------------------------------------
// LogDiagnostics

TEST_F(ReaderIntegrationTest, DiagnosticsWithoutProgIdLogTwoLinesAndTouchNothing) {
  WriteRegistry(kLegacy + Sz("PdfReadCmd", kCached));
  const std::string before = RegistryBytes();
  std::vector<std::string> lines;
  LogDiagnostics([&lines](const Text& line) { lines.push_back(line); });
  EXPECT_EQ(lines, (std::vector<std::string>{"Diagnostics", "PDF Prog.ID: "}));
  EXPECT_EQ(RegistryBytes(), before);
}

TEST_F(ReaderIntegrationTest, DiagnosticsWithProgIdLogTheCommandAndCacheIt) {
  WriteRegistry(kUserChoice + Sz("Progid", "Vendor.Pdf") +
                Association("Vendor.Pdf", "", "open", kDeduced));
  std::vector<std::string> lines;
  LogDiagnostics([&lines](const Text& line) { lines.push_back(line); });
  EXPECT_EQ(lines, (std::vector<std::string>{"Diagnostics", "PDF Prog.ID: Vendor.Pdf",
                                             std::string("PDF cmd: ") + kDeduced}));
  EXPECT_EQ(StoredText(kConfigurationKey, "PdfReadCmd"), kDeduced);
}

TEST_F(ReaderIntegrationTest, DiagnosticsForOwnProgIdLogAnEmptyCommand) {
  WriteRegistry(kUserChoice + Sz("Progid", "quillane.pdfdoc"));
  std::vector<std::string> lines;
  LogDiagnostics([&lines](const Text& line) { lines.push_back(line); });
  EXPECT_EQ(lines,
            (std::vector<std::string>{"Diagnostics", "PDF Prog.ID: quillane.pdfdoc", "PDF cmd: "}));
  EXPECT_TRUE(KeyExists(kConfigurationKey));
}

TEST_F(ReaderIntegrationTest, DiagnosticsWithoutHookStillRunDiscovery) {
  WriteRegistry(kUserChoice + Sz("Progid", "Vendor.Pdf") +
                Association("Vendor.Pdf", "", "open", kDeduced));
  LogDiagnostics({});
  EXPECT_EQ(StoredText(kConfigurationKey, "PdfReadCmd"), kDeduced);
}

// ---------------------------------------------------------------------------
// StartPdfReader with the reader stand-in

class StartPdfReaderTest : public ReaderIntegrationTest {
 protected:
  StartPdfReaderTest() { env_.Set("QUILLANE_FAKE_READER_RECORD", scratch_.File("record.txt")); }

  // Makes "Fake.Reader" the user's choice with `command` as its open command.
  void RegisterReader(const std::string& command) {
    WriteRegistry(kUserChoice + Sz("Progid", "Fake.Reader") +
                  Association("Fake.Reader", "", "open", command));
  }
  static std::string Reader() { return std::string("\"") + QUILLANE_TOOL_fake_reader + "\""; }

  bool Recorded() const { return fs::exists(scratch_.File("record.txt")); }
  std::vector<std::string> RecordedArguments() const {
    return test::RecordedReaderArguments(scratch_.File("record.txt"), std::chrono::seconds(0));
  }
  // Waits until a reader started without waiting has written its record, so
  // that it is done before the scratch folder goes.
  bool AwaitRecord() const {
    for (int i = 0; i < 300 && !Recorded(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return Recorded();
  }

  // What StartPdfReader returned and wrote to standard error.
  struct Started {
    ReaderStart Result;
    std::string Err;
  };
  static Started Start(const std::string& document, bool waitForExit) {
    ::testing::internal::CaptureStderr();
    const ReaderStart result = StartPdfReader(document, waitForExit);
    return {result, ::testing::internal::GetCapturedStderr()};
  }
};

// The command is split before the path goes in, so a bare "%1" gets the whole
// path, blanks and all, as one argument.
TEST_F(StartPdfReaderTest, PathReplacesEveryPlaceholderWithinItsArgument) {
  RegisterReader(Reader() + " \"%1\" %1 --file=%1 %2 %* %L %d");
  const std::string document = scratch_.File("my report.pdf");
  const Started started = Start(document, true);
  EXPECT_EQ(started.Result, ReaderStart::kEndedAtOnce);
  EXPECT_EQ(started.Err, "");
  EXPECT_EQ(RecordedArguments(), (std::vector<std::string>{document, document, "--file=" + document,
                                                           "%2", "%*", "%L", "%d"}));
}

TEST_F(StartPdfReaderTest, CommandWithoutPlaceholderStartsTheReaderWithoutTheDocument) {
  RegisterReader(Reader() + " --new-window");
  const Started started = Start(scratch_.File("report.pdf"), true);
  EXPECT_EQ(started.Result, ReaderStart::kEndedAtOnce);
  EXPECT_EQ(started.Err, "");
  EXPECT_EQ(RecordedArguments(), (std::vector<std::string>{"--new-window"}));
}

TEST_F(StartPdfReaderTest, MissingProgramIsReported) {
  RegisterReader("\"" + scratch_.File("no-such-reader") + "\" \"%1\"");
  const Started started = Start(scratch_.File("report.pdf"), true);
  EXPECT_EQ(started.Result, ReaderStart::kFailed);
  EXPECT_EQ(started.Err, "Quillane: Failed to start PDF reader\n");
}

TEST_F(StartPdfReaderTest, NoCommandIsReportedAndNothingStarts) {
  const std::string cached = Sz("PdfReadCmd", Reader() + " \"%1\"");
  const std::string registries[] = {
      // Without a ProgID the cache is not consulted, custom flag or not.
      kConfiguration + cached + Dword("CustomPdfReadCmd", "00000001"),
      kUserChoice + Sz("Progid", "quillane.pdfdoc"),
      kUserChoice + Sz("Progid", "Unknown.Pdf"),
  };
  for (const auto& registry : registries) {
    WriteRegistry(registry);
    const Started started = Start(scratch_.File("report.pdf"), true);
    EXPECT_EQ(started.Result, ReaderStart::kNoCommand) << registry;
    EXPECT_EQ(started.Err, "Quillane: Could not deduce command to start PDF reader\n") << registry;
    EXPECT_FALSE(Recorded()) << registry;
  }
}

TEST_F(StartPdfReaderTest, WaitingReturnsOnlyAfterTheReaderHasEnded) {
  RegisterReader(Reader() + " \"%1\"");
  env_.Set("QUILLANE_FAKE_READER_DELAY_MS", "700");
  const auto start = Clock::now();
  // 700 ms is still "at once": less than kEndedAtOnceWithin.
  EXPECT_EQ(Start(scratch_.File("report.pdf"), true).Result, ReaderStart::kEndedAtOnce);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(700));
  EXPECT_TRUE(Recorded());
}

TEST_F(StartPdfReaderTest, WaitEndsWithAReaderThatExitsAtOnce) {
  // The reader has ended, and was seen to end at once, when the call returns.
  RegisterReader(Reader() + " \"%1\"");
  EXPECT_EQ(Start(scratch_.File("report.pdf"), true).Result, ReaderStart::kEndedAtOnce);
  EXPECT_TRUE(Recorded());
}

TEST_F(StartPdfReaderTest, WithoutWaitingReturnsRightAfterTheStart) {
  RegisterReader(Reader() + " \"%1\"");
  // The reader records what it got only after four seconds: no record yet
  // shows that the call did not wait for it.
  env_.Set("QUILLANE_FAKE_READER_DELAY_MS", "4000");
  const Started started = Start(scratch_.File("report.pdf"), false);
  EXPECT_EQ(started.Result, ReaderStart::kStarted);
  EXPECT_EQ(started.Err, "");
  EXPECT_FALSE(Recorded());
  ASSERT_TRUE(AwaitRecord());
  EXPECT_EQ(RecordedArguments(), (std::vector<std::string>{scratch_.File("report.pdf")}));
}

}  // namespace
}  // namespace quillane
