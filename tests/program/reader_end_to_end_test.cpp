// "/tempexec", "/redirect" and "/diag" through the real quillane executable,
// each run in its own scratch folder with its own registry file, temporary
// folder and empty desktop, and the reader stand-in registered as the user's
// PDF reader.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/pdf_builder.h"
#include "support/test_util.h"

namespace quillane::test {
namespace {

namespace fs = std::filesystem;

const std::string kRegistryHeader = "Windows Registry Editor Version 5.00\n\n";
const std::string kUserChoice =
    "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.pdf"
    "\\UserChoice]\n";
const std::string kConfiguration =
    "[HKEY_CURRENT_USER\\Software\\Bramblecote Software\\quillane]\n";

class ReaderEndToEndTest : public ::testing::Test {
 protected:
  ReaderEndToEndTest() {
    fs::create_directories(scratch_.File("tmp"));
    fs::create_directories(scratch_.File("desktop"));
    WriteFileBytes(Input(), OneImagePdf());
  }

  std::string Input() const { return scratch_.File("report.pdf"); }
  std::string Registry() const { return scratch_.File("registry.reg"); }
  std::string Record() const { return scratch_.File("record.txt"); }
  std::string Snapshot() const { return scratch_.File("snapshot.pdf"); }
  std::string LogFile() const { return scratch_.File("log.txt"); }
  // The user's own folder of the "/tempexec" copies in the temporary folder.
  std::string CopyFolder() const {
    return scratch_.File("tmp") + "/quillane-" + std::to_string(::geteuid());
  }
  // Where "/tempexec" puts the output of Input().
  std::string TemporaryOutput() const { return CopyFolder() + "/report_Vexlo.pdf"; }

  void WriteRegistry(const std::string& body) {
    WriteFileBytes(Registry(), kRegistryHeader + body);
  }
  // The stand-in as the user's choice, started with the document quoted.
  void RegisterReader() {
    WriteRegistry(kUserChoice + "\"Progid\"=\"Fake.Reader\"\n" + ReaderAssociation());
  }
  static std::string ReaderAssociation() {
    return "[HKEY_CLASSES_ROOT\\Fake.Reader\\Shell\\open\\command]\n@=\"\\\"" +
           std::string(QUILLANE_TOOL_fake_reader) + "\\\" \\\"%1\\\"\"\n";
  }

  ProcessResult Quillane(const std::vector<std::string>& arguments, int readerDelayMs = 0) {
    std::vector<std::string> argv{QUILLANE_EXE};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return RunProcess(argv, Options(readerDelayMs));
  }

  ProcessOptions Options(int readerDelayMs = 0) const {
    ProcessOptions options;
    const std::string desktop = scratch_.File("desktop");
    options.env = {
        {"QUILLANE_REGISTRY", Registry()},
        {"QUILLANE_LOG", LogFile()},
        {"TMPDIR", scratch_.File("tmp")},
        {"XDG_CONFIG_HOME", desktop},
        {"XDG_CONFIG_DIRS", desktop},
        {"XDG_DATA_HOME", desktop},
        {"XDG_DATA_DIRS", desktop},
        {"QUILLANE_FAKE_READER_RECORD", Record()},
        {"QUILLANE_FAKE_READER_SNAPSHOT", Snapshot()},
        {"QUILLANE_FAKE_READER_DELAY_MS", std::to_string(readerDelayMs)},
    };
    return options;
  }

  // The arguments the stand-in was started with, once it has finished.
  std::vector<std::string> RecordedArguments() const {
    return RecordedReaderArguments(Record(), std::chrono::seconds(15));
  }

  ScratchDir scratch_;
};

// A reader open for more than 3 seconds: it has the document, and the copy is
// deleted once it has ended.
TEST_F(ReaderEndToEndTest, TempExecShowsTheOutputWhileTheReaderRunsAndDeletesItAfter) {
  RegisterReader();
  const auto start = std::chrono::steady_clock::now();
  const ProcessResult result = Quillane({"/tempexec", "/in", Input()}, 3200);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3200));
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(RecordedArguments(), std::vector<std::string>{TemporaryOutput()});
  // The stand-in copied the document at the end of its life: the output was
  // there, complete, until the reader ended, and is gone now.
  ASSERT_TRUE(fs::exists(Snapshot()));
  const std::string shown = ReadFileBytes(Snapshot());
  EXPECT_EQ(shown.substr(0, OneImagePdf().size()), OneImagePdf());
  EXPECT_GT(shown.size(), OneImagePdf().size());
  EXPECT_FALSE(fs::exists(TemporaryOutput()));
  EXPECT_TRUE(BytesEqual(OneImagePdf(), ReadFileBytes(Input())));
}

// Single-instance readers hand the document to a running instance and end
// at once: the copy is kept for that instance, in the user's own folder, and
// a later "/tempexec" run removes it once it is a day old.
TEST_F(ReaderEndToEndTest, TempExecKeepsTheCopyForAReaderThatEndsAtOnce) {
  RegisterReader();
  ProcessResult result = Quillane({"/tempexec", "/in", Input()});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(RecordedArguments(), std::vector<std::string>{TemporaryOutput()});
  ASSERT_TRUE(fs::exists(TemporaryOutput()));
  EXPECT_EQ(ReadFileBytes(Snapshot()), ReadFileBytes(TemporaryOutput()));
  struct stat folder {};
  struct stat copy {};
  ASSERT_EQ(::lstat(CopyFolder().c_str(), &folder), 0);
  ASSERT_EQ(::lstat(TemporaryOutput().c_str(), &copy), 0);
  EXPECT_TRUE(S_ISDIR(folder.st_mode));
  EXPECT_EQ(folder.st_mode & 07777, 0700u);
  EXPECT_EQ(copy.st_mode & 07777, 0600u);
  const std::string log = ReadFileBytes(LogFile());
  EXPECT_TRUE(log.ends_with("\noutput: " + TemporaryOutput() +
                            "\nreader ended at once, copy kept: " + TemporaryOutput() + "\n"))
      << log;

  // Two days old now; a copy of 23 hours stays.
  const auto now = fs::file_time_type::clock::now();
  fs::last_write_time(TemporaryOutput(), now - std::chrono::hours(48));
  const std::string recent = CopyFolder() + "/recent_Vexlo.pdf";
  WriteFileBytes(recent, "kept\n");
  fs::last_write_time(recent, now - std::chrono::hours(23));
  fs::remove(LogFile());
  fs::remove(Record());
  const std::string other = scratch_.File("other.pdf");
  WriteFileBytes(other, OneImagePdf());
  const std::string otherCopy = CopyFolder() + "/other_Vexlo.pdf";

  // This reader stays open for four seconds: its copy is deleted after it.
  const auto start = std::chrono::steady_clock::now();
  result = Quillane({"/tempexec", "/in", other}, 4000);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(RecordedArguments(), std::vector<std::string>{otherCopy});
  EXPECT_FALSE(fs::exists(TemporaryOutput()));
  EXPECT_FALSE(fs::exists(otherCopy));
  EXPECT_TRUE(fs::exists(recent));
  const std::string secondLog = ReadFileBytes(LogFile());
  EXPECT_TRUE(secondLog.starts_with("old copy removed: " + TemporaryOutput() + "\n")) << secondLog;
}

TEST_F(ReaderEndToEndTest, TempExecWithOutOpensAndDeletesTheGivenPath) {
  RegisterReader();
  const std::string output = scratch_.File("given.pdf");
  const ProcessResult result = Quillane({"/tempexec", "/out", output, "/in", Input()}, 3200);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(RecordedArguments(), std::vector<std::string>{output});
  EXPECT_TRUE(fs::exists(Snapshot()));
  EXPECT_FALSE(fs::exists(output));
  EXPECT_FALSE(fs::exists(TemporaryOutput()));
  // The folder of the copies is not needed for a given path.
  EXPECT_FALSE(fs::exists(CopyFolder()));
}

TEST_F(ReaderEndToEndTest, TempExecWithoutReaderWarnsAndStillDeletesTheOutput) {
  WriteRegistry("");
  const ProcessResult result = Quillane({"/tempexec", "/in", Input()});
  EXPECT_EQ(result.exit_status, 3);  // the warning counts as a refusal
  EXPECT_EQ(result.err, "Quillane: Could not deduce command to start PDF reader\n");
  EXPECT_FALSE(fs::exists(TemporaryOutput()));
  EXPECT_FALSE(fs::exists(Record()));
}

TEST_F(ReaderEndToEndTest, RedirectHandsAMissingInputToTheReaderWithoutReadingIt) {
  RegisterReader();
  const std::string missing = scratch_.File("missing.pdf");
  const ProcessResult result = Quillane({"/redirect", "/in", missing});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(RecordedArguments(), std::vector<std::string>{missing});
  EXPECT_FALSE(fs::exists(scratch_.File("missing_Vexlo.pdf")));
}

TEST_F(ReaderEndToEndTest, DiagWithoutProgIdLogsTwoLines) {
  WriteRegistry("");
  const ProcessResult result = Quillane({"/diag"});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(ReadFileBytes(LogFile()), "Diagnostics\nPDF Prog.ID: \n");
}

TEST_F(ReaderEndToEndTest, DiagWithProgIdLogsThreeLinesAndCreatesTheConfiguration) {
  RegisterReader();
  // Arguments behind "/diag" are never looked at: no run, no reader.
  const ProcessResult result = Quillane({"/in", Input(), "/diag", "/tempexec"});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "");
  const std::string command = "\"" + std::string(QUILLANE_TOOL_fake_reader) + "\" \"%1\"";
  EXPECT_EQ(ReadFileBytes(LogFile()),
            "Diagnostics\nPDF Prog.ID: Fake.Reader\nPDF cmd: " + command + "\n");
  const std::string registry = ReadFileBytes(Registry());
  EXPECT_NE(registry.find(kConfiguration), std::string::npos) << registry;
  EXPECT_NE(registry.find("\"PdfReadCmd\"="), std::string::npos) << registry;
  EXPECT_FALSE(fs::exists(Record()));
  EXPECT_FALSE(fs::exists(TemporaryOutput()));
}

// With nothing in the registry file, the desktop's own application/pdf default
// is the reader: no set-up at all.
TEST_F(ReaderEndToEndTest, DesktopDefaultApplicationIsTheReaderWithoutSetUp) {
  WriteRegistry("");
  const std::string desktop = scratch_.File("desktop");
  fs::create_directories(desktop + "/applications");
  WriteFileBytes(desktop + "/mimeapps.list",
                 "[Default Applications]\napplication/pdf=fake-reader.desktop\n");
  WriteFileBytes(desktop + "/applications/fake-reader.desktop",
                 "[Desktop Entry]\nType=Application\nName=Fake Reader\nExec=" +
                     std::string(QUILLANE_TOOL_fake_reader) +
                     " --page=1 %f\nMimeType=application/pdf;\n");

  const ProcessResult result = Quillane({"/tempexec", "/in", Input()});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(RecordedArguments(), (std::vector<std::string>{"--page=1", TemporaryOutput()}));
  EXPECT_TRUE(fs::exists(Snapshot()));
  // The stand-in ended at once, so the copy stays for it.
  EXPECT_TRUE(fs::exists(TemporaryOutput()));

  EXPECT_EQ(Quillane({"/diag"}).err, "");
  const std::string log = ReadFileBytes(LogFile());
  EXPECT_NE(log.find("Diagnostics\nPDF Prog.ID: fake-reader.desktop\nPDF cmd: "), std::string::npos)
      << log;
  EXPECT_NE(ReadFileBytes(Registry()).find("\"PdfReadCmd\"="), std::string::npos);
}

// Quillane's own desktop entry never stands for the reader: the next
// application for application/pdf does. And however many keys discovery
// opens, each file of the registry and of the desktop is read once per run
// (the registry file once more before each write, so that nothing another
// program wrote meanwhile is lost): the run's open calls show it.
TEST_F(ReaderEndToEndTest, DesktopAssociationSkipsQuillaneAndEachFileIsReadOnce) {
  WriteRegistry("");
  const std::string desktop = scratch_.File("desktop");
  fs::create_directories(desktop + "/applications");
  WriteFileBytes(desktop + "/mimeapps.list",
                 "[Default Applications]\napplication/pdf=quillane.desktop;fake-reader.desktop\n");
  const auto entry = [&desktop](const std::string& id, const std::string& exec) {
    WriteFileBytes(desktop + "/applications/" + id, "[Desktop Entry]\nType=Application\nExec=" +
                                                        exec + " %f\nMimeType=application/pdf;\n");
  };
  // Stands in for Quillane's own entry, whose command would start Quillane
  // again: here a program that ends at once, so a fault shows as no reader.
  entry("quillane.desktop", "/bin/true");
  entry("fake-reader.desktop", QUILLANE_TOOL_fake_reader);
  entry("other-reader.desktop", "/bin/false");

  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    const std::string trace = scratch_.File("trace-" + std::to_string(run) + ".txt");
    fs::remove(Record());
    const std::optional<TracedRun> traced =
        RunTraced({QUILLANE_EXE, "/tempexec", "/in", Input()}, "openat,rename,renameat,renameat2",
                  trace, Options());
    if (!traced) GTEST_SKIP() << "strace cannot trace here";
    EXPECT_EQ(traced->result.exit_status, 0);
    EXPECT_EQ(traced->result.err, "");
    EXPECT_EQ(RecordedArguments(), std::vector<std::string>{TemporaryOutput()});

    const auto count = [&traced](const auto& test) {
      return std::count_if(traced->calls.begin(), traced->calls.end(), test);
    };
    // openat(dirfd, path, flags...) for reading only.
    const auto reads = [&count](const std::string& path) {
      return count([&path](const TracedCall& call) {
        const std::vector<std::string> flags = call.Flags(2);
        return call.name == "openat" && call.String(1) == path &&
               std::find(flags.begin(), flags.end(), "O_RDONLY") != flags.end();
      });
    };
    // The first run creates the configuration key and caches the command:
    // two writes, each after a fresh read, each a rename onto the file. The
    // second writes nothing.
    const auto writes = count([this](const TracedCall& call) {
      // rename(old, new); renameat and renameat2 put a folder before each.
      return call.name.starts_with("rename") &&
             call.String(call.name == "rename" ? 1 : 3) == Registry();
    });
    EXPECT_EQ(writes, run == 1 ? 2 : 0);
    EXPECT_EQ(reads(Registry()), 1 + writes);
    EXPECT_EQ(reads(desktop + "/mimeapps.list"), 1);
    for (const char* id : {"quillane.desktop", "fake-reader.desktop", "other-reader.desktop"}) {
      EXPECT_LE(reads(desktop + "/applications/" + id), 1) << id;
    }
  }
  EXPECT_EQ(Quillane({"/diag"}).err, "");
  const std::string log = ReadFileBytes(LogFile());
  EXPECT_NE(log.find("Diagnostics\nPDF Prog.ID: fake-reader.desktop\nPDF cmd: "), std::string::npos)
      << log;
}

TEST_F(ReaderEndToEndTest, WrongValueTypeEndsTheRunWithTheRegistryError) {
  WriteRegistry(kUserChoice + "\"Progid\"=dword:00000001\n");
  const ProcessResult result = Quillane({"/tempexec", "/in", Input()});
  EXPECT_EQ(result.exit_status, 1);
  // The message ends in "'", which sorts before ".", so no full stop is added.
  EXPECT_EQ(result.err, "Quillane: Invalid data type for 'Progid'\n");
  EXPECT_FALSE(fs::exists(Record()));
}

}  // namespace
}  // namespace quillane::test
