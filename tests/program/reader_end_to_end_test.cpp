// "/tempexec", "/redirect" and "/diag" through the real quillane executable,
// each run in its own scratch folder with its own registry file, temporary
// folder and empty desktop, and the reader stand-in registered as the user's
// PDF reader.
#include <gtest/gtest.h>

#include <filesystem>
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
  // Where "/tempexec" puts the output of Input().
  std::string TemporaryOutput() const { return scratch_.File("tmp") + "/report_Vexlo.pdf"; }

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
    return RunProcess(argv, options);
  }

  // The arguments the stand-in was started with, once it has finished.
  std::vector<std::string> RecordedArguments() const {
    return RecordedReaderArguments(Record(), std::chrono::seconds(15));
  }

  ScratchDir scratch_;
};

TEST_F(ReaderEndToEndTest, TempExecShowsTheOutputWhileTheReaderRunsAndDeletesItAfter) {
  RegisterReader();
  const auto start = std::chrono::steady_clock::now();
  const ProcessResult result = Quillane({"/tempexec", "/in", Input()}, 500);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
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

TEST_F(ReaderEndToEndTest, TempExecWithOutOpensAndDeletesTheGivenPath) {
  RegisterReader();
  const std::string output = scratch_.File("given.pdf");
  const ProcessResult result = Quillane({"/tempexec", "/out", output, "/in", Input()});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(RecordedArguments(), std::vector<std::string>{output});
  EXPECT_TRUE(fs::exists(Snapshot()));
  EXPECT_FALSE(fs::exists(output));
  EXPECT_FALSE(fs::exists(TemporaryOutput()));
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
  EXPECT_FALSE(fs::exists(TemporaryOutput()));

  EXPECT_EQ(Quillane({"/diag"}).err, "");
  const std::string log = ReadFileBytes(LogFile());
  EXPECT_NE(log.find("Diagnostics\nPDF Prog.ID: fake-reader.desktop\nPDF cmd: "), std::string::npos)
      << log;
  EXPECT_NE(ReadFileBytes(Registry()).find("\"PdfReadCmd\"="), std::string::npos);
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
