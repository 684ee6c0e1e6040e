// Faults injected into real runs of the quillane executable, each in its own
// scratch folder with its own registry file, temporary folder and an empty
// desktop: files that cannot be read or written, a full file system, a
// malformed registry file, input that is no PDF or lacks trailer entries, a
// planted folder for the "/tempexec" copies, a reader that does not exist, two
// runs racing for one output, and hostile file names. Every case checks the
// exact message and exit status and that the run left every file as it was:
// no partial output, no temporary file, the input and the registry file byte
// for byte unchanged.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/pdf_builder.h"
#include "support/test_util.h"

namespace quillane::test {
namespace {

namespace fs = std::filesystem;

const std::string kRegistryHeader = "Windows Registry Editor Version 5.00\n\n";
const std::string kEncryptedMessage =
    "Quillane: Quillane cannot handle this file, because the file is secured/encrypted.\n";
const std::string kNoStartxrefMessage =
    "Quillane: No startxref offset found at the end of the file; it is not a PDF file or it is "
    "damaged.\n";

// Every entry below `root`: files with their bytes (those over 1 MiB by size
// and modification time), folders and special files by kind. Two equal snapshots mean nothing
// was created, changed, renamed or left behind.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> entries;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    const std::string name = fs::relative(entry.path(), root).string();
    if (entry.is_symlink()) {
      entries[name] = "<link>";
    } else if (entry.is_directory()) {
      entries[name] = "<folder>";
    } else if (!entry.is_regular_file()) {
      entries[name] = "<special>";
    } else if (entry.file_size() > (std::uintmax_t{1} << 20)) {
      entries[name] = "<" + std::to_string(entry.file_size()) + " bytes, written " +
                      std::to_string(entry.last_write_time().time_since_epoch().count()) + ">";
    } else {
      entries[name] = ReadFileBytes(entry.path());
    }
  }
  return entries;
}

// The names in `folder` that differ between two snapshots, for messages.
std::string Changes(const std::map<std::string, std::string>& before,
                    const std::map<std::string, std::string>& after) {
  std::string text;
  for (const auto& [name, bytes] : after) {
    const auto old = before.find(name);
    if (old == before.end()) {
      text += " created:" + name;
    } else if (old->second != bytes) {
      text += " changed:" + name;
    }
  }
  for (const auto& [name, bytes] : before) {
    if (after.count(name) == 0) text += " removed:" + name;
  }
  return text;
}

class RobustnessTest : public ::testing::Test {
 protected:
  RobustnessTest() {
    fs::create_directories(Work());
    fs::create_directories(scratch_.File("tmp"));
    fs::create_directories(scratch_.File("desktop"));
    WriteFileBytes(Registry(), kRegistryHeader);
  }

  // The folder that holds a case's input and output files.
  std::string Work() const { return scratch_.File("work"); }
  std::string Work(const std::string& name) const { return Work() + "/" + name; }
  std::string Registry() const { return scratch_.File("registry.reg"); }
  std::string Record() const { return scratch_.File("record.txt"); }
  // The user's own folder of the "/tempexec" copies in the temporary folder.
  std::string CopyFolder() const {
    return scratch_.File("tmp") + "/quillane-" + std::to_string(::geteuid());
  }

  std::string Input(const std::string& name, const std::string& bytes) const {
    WriteFileBytes(Work(name), bytes);
    return Work(name);
  }

  // The reader stand-in, or `readerProgram`, as the user's PDF reader with the
  // document quoted, or as `document` says; the cache already holds its
  // command, so discovery writes nothing to the registry file.
  void RegisterReader(const std::string& readerProgram = QUILLANE_TOOL_fake_reader,
                      const std::string& document = "\\\"%1\\\"") {
    const std::string command = "\\\"" + readerProgram + "\\\" " + document;
    WriteFileBytes(Registry(),
                   kRegistryHeader +
                       "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer"
                       "\\FileExts\\.pdf\\UserChoice]\n\"Progid\"=\"Fake.Reader\"\n\n"
                       "[HKEY_CLASSES_ROOT\\Fake.Reader\\Shell\\open\\command]\n@=\"" +
                       command +
                       "\"\n\n[HKEY_CURRENT_USER\\Software\\Bramblecote Software\\quillane]\n"
                       "\"PdfReadCmd\"=\"" +
                       command + "\"\n");
  }

  ProcessResult Quillane(const std::vector<std::string>& arguments,
                         const std::string& exe = QUILLANE_EXE) const {
    std::vector<std::string> argv{exe};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return RunProcess(argv, Options());
  }

  ProcessOptions Options() const {
    ProcessOptions options;
    const std::string desktop = scratch_.File("desktop");
    options.env = {
        {"QUILLANE_REGISTRY", Registry()},
        {"QUILLANE_LOG", std::nullopt},
        {"TMPDIR", scratch_.File("tmp")},
        {"XDG_CONFIG_HOME", desktop},
        {"XDG_CONFIG_DIRS", desktop},
        {"XDG_DATA_HOME", desktop},
        {"XDG_DATA_DIRS", desktop},
        {"XDG_CURRENT_DESKTOP", std::nullopt},
        {"QUILLANE_FAKE_READER_RECORD", Record()},
    };
    options.cwd = Work();
    return options;
  }

  // The arguments the reader stand-in recorded; the record is removed.
  std::vector<std::string> RecordedArguments() const {
    std::vector<std::string> arguments =
        RecordedReaderArguments(Record(), std::chrono::seconds(10));
    fs::remove(Record());
    return arguments;
  }

  // The executable alone in a folder of its own, without its templates.
  std::string ExecutableWithoutTemplates() const {
    const std::string folder = scratch_.File("bin");
    fs::create_directories(folder);
    fs::copy_file(QUILLANE_EXE, folder + "/quillane");
    return folder + "/quillane";
  }

  ScratchDir scratch_;
};

// ---------------------------------------------------------------------------
// Failures and refusals leave every file as it was

TEST_F(RobustnessTest, FailedOrRefusedRunsLeaveEveryFileAsItWas) {
  const std::string pdf = OneImagePdf();
  const std::string in = Input("in.pdf", pdf);
  fs::create_directories(Work("outdir"));
  fs::create_directories(Work("indir"));
  Input("existing.pdf", "an older output\n");
  Input("encrypted.pdf", OneImagePdf(0, "/Encrypt 9 0 R"));
  // A sparse file of 2 GiB whose "startxref" names an offset beyond its end.
  const std::string big = Work("big.pdf");
  fs::resize_file(Input("big.pdf", ""), std::uintmax_t{1} << 31);
  std::ofstream(big, std::ios::binary | std::ios::app) << "startxref\n99999999999\n%%EOF\n";
  const std::string noTemplates = ExecutableWithoutTemplates();
  const std::string binFolder = fs::canonical(scratch_.File("bin")).string();
  // Input that is no PDF, or a PDF whose trailer lacks what the update needs.
  Input("notes.txt", "Shopping list: bread, milk, coffee.\n");
  Input("empty.pdf", "");
  std::string noSize = pdf;
  noSize.replace(noSize.rfind("/Size"), 5, "/Sizx");
  Input("no-size.pdf", noSize);
  Input("no-root.pdf", PdfBuilder().Object(1, 0, "<</Type/Catalog>>\n").Root("").Build());
  const std::string plantedFolder = "Quillane: Cannot use folder \"" + CopyFolder() +
                                    "\". It is a symbolic link or not a folder owned by the "
                                    "current user.\n";

  struct Case {
    std::string name;
    std::vector<std::string> args;
    std::string err;
    int status;
    std::function<void()> setup;
    std::string exe = QUILLANE_EXE;
  };
  const auto registryText = [this](const std::string& text) {
    return [this, text] { WriteFileBytes(Registry(), text); };
  };
  const std::string registryLine = "Quillane: Registry file \"" + Registry() + "\", line ";
  for (const Case& c : std::vector<Case>{
           {"output is a folder",
            {"/in", in, "/out", Work("outdir")},
            "Quillane: Cannot write file \"" + Work("outdir") + "\". Is a directory.\n",
            1,
            {}},
           {"output folder missing",
            {"/in", in, "/out", Work("missing/out.pdf")},
            "Quillane: Cannot create file \"" + Work("missing/out.pdf") +
                "\". No such file or directory.\n",
            1,
            {}},
           {"input missing",
            {"/in", Work("missing.pdf")},
            "Quillane: Cannot open file \"" + Work("missing.pdf") +
                "\". No such file or directory.\n",
            1,
            {}},
           {"input is a folder",
            {"/noother", "/in", Work("indir")},
            "Quillane: Cannot open file \"" + Work("indir") + "\". Is a directory.\n",
            1,
            {}},
           {"input of 2 GiB, offset beyond its end", {"/in", big}, kNoStartxrefMessage, 1, {}},
           // "/in" takes the next argument whatever it looks like.
           {"input value that looks like an option",
            {"/in", "/overwrite", "/out", Work("x.pdf")},
            "Quillane: Cannot open file \"/overwrite\". No such file or directory.\n",
            1,
            {}},
           {"template missing",
            {"/in", in},
            "Quillane: Cannot open file \"" + binFolder +
                "/otherimg.dat\". No such file or directory.\n",
            1,
            {},
            noTemplates},
           {"registry file malformed",
            {"/in", in},
            registryLine + "1: the first line is not \"Windows Registry Editor Version 5.00\"\n",
            1,
            registryText("Windows Registry Editor Version 4.00\n")},
           {"registry value malformed",
            {"/in", in},
            registryLine + "4: bad dword value (one to eight hex digits expected)\n",
            1,
            registryText(kRegistryHeader +
                         "[HKEY_CURRENT_USER\\Software\\Bramblecote Software\\quillane]\n"
                         "\"ReplaceObject\"=dword:xyz\n")},
           {"registry value of the wrong type",
            {"/in", in},
            "Quillane: Invalid data type for 'ReplaceObject'\n",
            1,
            registryText(kRegistryHeader +
                         "[HKEY_CURRENT_USER\\Software\\Bramblecote Software\\quillane]\n"
                         "\"ReplaceObject\"=dword:00000001\n")},
           {"registry file unreadable",
            {"/in", in},
            "Quillane: Cannot open file \"" + Registry() + "\". Is a directory.\n",
            1,
            [this] {
              fs::remove(Registry());
              fs::create_directories(Registry());
            }},
           {"encrypted input",
            {"/in", Work("encrypted.pdf"), "/out", Work("encrypted-out.pdf")},
            kEncryptedMessage,
            3,
            {}},
           // The other cases of the trailer's faults: tests/pdf/trailer_test.cpp.
           {"input is a text file", {"/in", Work("notes.txt")}, kNoStartxrefMessage, 1, {}},
           {"input is empty", {"/in", Work("empty.pdf")}, kNoStartxrefMessage, 1, {}},
           {"trailer without /Size",
            {"/in", Work("no-size.pdf")},
            "Quillane: The trailer has no /Size entry; the file may be damaged.\n",
            1,
            {}},
           {"trailer without /Root, translucent mode",
            {"/in", Work("no-root.pdf")},
            "Quillane: The trailer has no /Root reference; the file may be damaged.\n",
            1,
            registryText(RegistryWithReplaceObject("tgraybox"))},
           // A name in the shared temporary folder that another user may
           // have planted: used neither for the copy nor for the clean-up
           // of old copies (the old file behind the link stays).
           {"copies folder is a symbolic link",
            {"/tempexec", "/in", in},
            plantedFolder,
            1,
            [this] {
              fs::create_directories(Work("elsewhere"));
              Input("elsewhere/old.pdf", "not a copy\n");
              fs::last_write_time(Work("elsewhere/old.pdf"),
                                  fs::file_time_type::clock::now() - std::chrono::hours(48));
              fs::create_directory_symlink(Work("elsewhere"), CopyFolder());
            }},
           {"copies folder is a file",
            {"/tempexec", "/in", in},
            plantedFolder,
            1,
            [this] { WriteFileBytes(CopyFolder(), "planted\n"); }},
           {"copies folder belongs to another user",
            {"/tempexec", "/in", in},
            ::geteuid() == 0 ? plantedFolder : "(skipped: only root can give a folder away)",
            1,
            [this] {
              fs::create_directory(CopyFolder());
              if (::geteuid() == 0) {
                ASSERT_EQ(::chown(CopyFolder().c_str(), 4242, 4242), 0);
              }
            }},
           {"existing output",
            {"/in", in, "/out", Work("existing.pdf")},
            "Quillane: Target output file already exists\n",
            3,
            {}},
           {"reader missing, redirect",
            {"/redirect", "/in", in},
            "Quillane: Failed to start PDF reader\n",
            3,
            [this] { RegisterReader(Work("no-such-reader")); }},
           // The output is written to the folder of the copies (there from an
           // earlier run), the reader fails to start, and the output is
           // deleted again.
           {"reader missing, tempexec",
            {"/tempexec", "/in", in},
            "Quillane: Failed to start PDF reader\n",
            3,
            [this] {
              RegisterReader(Work("no-such-reader"));
              fs::create_directory(CopyFolder());
              fs::permissions(CopyFolder(), fs::perms::owner_all);
            }},
       }) {
    SCOPED_TRACE(c.name);
    if (c.err.starts_with("(skipped")) continue;
    WriteFileBytes(Registry(), kRegistryHeader);
    fs::remove_all(CopyFolder());
    if (c.setup) c.setup();
    const auto before = Snapshot(scratch_.Path());

    const ProcessResult result = Quillane(c.args, c.exe);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.exit_status, c.status);
    const auto after = Snapshot(scratch_.Path());
    EXPECT_TRUE(before == after) << "files changed:" << Changes(before, after);

    if (fs::is_directory(Registry())) fs::remove(Registry());
  }
}

// A file system that fills up while the output is written: the write error is
// reported and neither the partial output nor its temporary file remains.
// Uses a small tmpfs when the test may mount one (root in CI); otherwise a
// file-size limit, under which the write fails the same way.
TEST_F(RobustnessTest, FullFileSystem) {
  const std::string in = Input("in.pdf", OneImagePdf(1 << 20));
  const std::string full = Work("full");
  fs::create_directories(full);
  const ProcessResult mount =
      RunProcess({"mount", "-t", "tmpfs", "-o", "size=64k", "quillane-test", full});
  struct Unmount {
    bool mounted;
    std::string folder;
    ~Unmount() {
      if (mounted) RunProcess({"umount", folder});
    }
  } unmount{mount.exit_status == 0, full};
  const std::string output = full + "/out.pdf";
  const auto before = Snapshot(scratch_.Path());

  ProcessResult result;
  std::string reason;
  if (unmount.mounted) {
    result = Quillane({"/in", in, "/out", output});
    reason = "No space left on device";
  } else {
    // SIGXFSZ ignored, so the write that passes the limit fails with EFBIG.
    result = RunProcess({"/bin/sh", "-c", "trap '' XFSZ; ulimit -f 256; exec \"$0\" \"$@\"",
                         QUILLANE_EXE, "/in", in, "/out", output},
                        Options());
    reason = "File too large";
  }
  EXPECT_EQ(result.err, "Quillane: Cannot write file \"" + output + "\". " + reason + ".\n");
  EXPECT_EQ(result.exit_status, 1);
  const auto after = Snapshot(scratch_.Path());
  EXPECT_TRUE(before == after) << "files changed:" << Changes(before, after);
}

// A registry write that fails (here under a file-size limit, below the size
// of the rewritten file) is an error, and the registry file keeps its old
// content whole.
TEST_F(RobustnessTest, FailedRegistryWriteKeepsTheOldFile) {
  RegisterReader();
  // A comment makes the file larger than the limit, and the cached command
  // differs from the association's, so discovery writes the new one.
  std::string registry = ReadFileBytes(Registry());
  registry.replace(registry.find("\"PdfReadCmd\"=\""), 14, "\"PdfReadCmd\"=\"old ");
  registry += "; " + std::string(400 << 10, 'c') + "\n";
  WriteFileBytes(Registry(), registry);
  const auto before = Snapshot(scratch_.Path());

  const ProcessResult result = RunProcess(
      {"/bin/sh", "-c", "trap '' XFSZ; ulimit -f 256; exec \"$0\" \"$@\"", QUILLANE_EXE, "/diag"},
      Options());
  EXPECT_EQ(result.err, "Quillane: Failed to set data for 'PdfReadCmd'\n");
  EXPECT_EQ(result.exit_status, 1);
  const auto after = Snapshot(scratch_.Path());
  EXPECT_TRUE(before == after) << "files changed:" << Changes(before, after);
}

// An output that is a character device is written through, not replaced by a
// regular file: /dev/full takes no byte, so the run fails with its write
// error, and the device stays. The node is made here, as /dev/full is (only
// root may make one).
TEST_F(RobustnessTest, OutputOnADeviceThatIsFull) {
  const std::string in = Input("in.pdf", OneImagePdf());
  const std::string device = Work("full-device");
  if (::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) {
    GTEST_SKIP() << "cannot make a device node here";
  }
  const auto before = Snapshot(scratch_.Path());

  const ProcessResult result = Quillane({"/in", in, "/out", device, "/overwrite"});
  EXPECT_EQ(result.err,
            "Quillane: Cannot write file \"" + device + "\". No space left on device.\n");
  EXPECT_EQ(result.exit_status, 1);
  struct stat info {};
  ASSERT_EQ(::lstat(device.c_str(), &info), 0);
  EXPECT_TRUE(S_ISCHR(info.st_mode)) << "the device was replaced";
  const auto after = Snapshot(scratch_.Path());
  EXPECT_TRUE(before == after) << "files changed:" << Changes(before, after);
}

// ---------------------------------------------------------------------------
// Two runs writing the same output at once

TEST_F(RobustnessTest, TwoOverwritingRunsLeaveOneCompleteOutput) {
  // Large enough that the two saves overlap.
  const std::string a = Input("a.pdf", OneImagePdf(4 << 20));
  const std::string b = Input("b.pdf", OneImagePdf(4 << 20, "/Info 2 0 R"));
  ASSERT_EQ(Quillane({"/in", a, "/out", Work("expected-a.pdf")}).exit_status, 0);
  ASSERT_EQ(Quillane({"/in", b, "/out", Work("expected-b.pdf")}).exit_status, 0);
  const std::string expectedA = ReadFileBytes(Work("expected-a.pdf"));
  const std::string expectedB = ReadFileBytes(Work("expected-b.pdf"));
  ASSERT_NE(expectedA, expectedB);

  const std::string output = Work("out.pdf");
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    WriteFileBytes(output, "the old output\n");
    ProcessResult first;
    ProcessResult second;
    std::thread other([&] { second = Quillane({"/overwrite", "/in", b, "/out", output}); });
    first = Quillane({"/overwrite", "/in", a, "/out", output});
    other.join();
    EXPECT_EQ(first.exit_status, 0) << first.err;
    EXPECT_EQ(second.exit_status, 0) << second.err;
    const std::string result = ReadFileBytes(output);
    EXPECT_TRUE(result == expectedA || result == expectedB)
        << "a mixture or a truncation of " << result.size() << " bytes";
  }
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(Work())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.pdf", "b.pdf", "expected-a.pdf", "expected-b.pdf",
                                             "out.pdf"}));
}

// ---------------------------------------------------------------------------
// Hostile file names

const std::vector<std::string> kHostileNames = {
    "with space.pdf",           "semi;colon&amp|pipe>gt.pdf",
    "dollar$(touch pwned).pdf", "back`touch pwned`quote.pdf",
    "-leading-dash.pdf",        "non-ascii-\xC3\xA9-\xE9.pdf",
    "single'quote.pdf",         "star*and?.pdf",
};

// The main job works on such names like on any other; nothing but the input
// and its output exists afterwards.
TEST_F(RobustnessTest, HostileNamesAreOrdinaryPaths) {
  std::vector<std::string> names = kHostileNames;
  names.push_back("double\"quote.pdf");
  names.push_back("line\nbreak.pdf");
  for (const std::string& name : names) {
    SCOPED_TRACE(EscapeBytes(name));
    const std::string pdf = OneImagePdf();
    Input(name, pdf);
    const std::string stem = name.substr(0, name.size() - 4);
    // Relative to the working folder too, so a leading "-" starts the value.
    const ProcessResult result = Quillane({"/in", name});
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exit_status, 0);
    const std::string output = ReadFileBytes(Work(stem + "_Vexlo.pdf"));
    EXPECT_EQ(output.substr(0, pdf.size()), pdf);
    EXPECT_GT(output.size(), pdf.size());
    EXPECT_TRUE(BytesEqual(pdf, ReadFileBytes(Work(name))));
    fs::remove(Work(name));
    fs::remove(Work(stem + "_Vexlo.pdf"));
    EXPECT_TRUE(fs::is_empty(Work())) << "something else was created";
  }
}

// A document name reaches the reader as one argument that holds every byte of
// it, as an absolute path: the reader command is split into arguments before
// the path goes in (whether the command quotes "%1" or not), and nothing runs
// through a shell. One of the names is made to smuggle an option into the
// reader; a name starting with "-" is given relative to the working folder.
TEST_F(RobustnessTest, HostilePathsReachTheReaderAsOneAbsoluteArgument) {
  std::vector<std::string> names = kHostileNames;
  names.push_back("double\"quote.pdf");
  names.push_back("line\nbreak.pdf");
  names.push_back("tab\tand\rreturn.pdf");
  names.push_back("x\" --print-to-file=/tmp/out \"y.pdf");
  for (const std::string document : {"\\\"%1\\\"", "%1"}) {
    RegisterReader(QUILLANE_TOOL_fake_reader, document);
    for (const std::string& name : names) {
      SCOPED_TRACE(EscapeBytes(document + " " + name));
      fs::create_directories(fs::path(Work(name)).parent_path());
      const std::string path = Input(name, OneImagePdf());
      const auto before = Snapshot(scratch_.Path());

      ProcessResult result = Quillane({"/redirect", "/in", name});
      EXPECT_EQ(result.err, "");
      EXPECT_EQ(result.exit_status, 0);
      EXPECT_EQ(RecordedArguments(), std::vector<std::string>{path});
      const auto after = Snapshot(scratch_.Path());
      EXPECT_TRUE(before == after) << "files changed:" << Changes(before, after);

      // The copy of "/tempexec" keeps the file name; the stand-in ends at
      // once, so the copy stays.
      const std::string leaf = fs::path(path).filename().string();
      const std::string copy = CopyFolder() + "/" + leaf.substr(0, leaf.size() - 4) + "_Vexlo.pdf";
      result = Quillane({"/tempexec", "/in", name});
      EXPECT_EQ(result.err, "");
      EXPECT_EQ(result.exit_status, 0);
      EXPECT_EQ(RecordedArguments(), std::vector<std::string>{copy});
      EXPECT_TRUE(fs::remove(copy));
      fs::remove(path);
    }
  }
}

// ---------------------------------------------------------------------------
// Durable replacement

// With several inputs every message names the input it is about, as the user
// gave it; with one, the message stays as it was.
TEST_F(RobustnessTest, MessagesOfSeveralInputsNameTheirInput) {
  const std::string damaged = Input("a.pdf", "no trailer here\n");
  const std::string good = Input("b c.pdf", OneImagePdf());
  const std::string taken = Input("t.pdf", OneImagePdf());
  WriteFileBytes(Work("t_Vexlo.pdf"), "already here");
  const std::string missing = Work("missing.pdf");
  const ProcessResult several = Quillane({damaged, good, taken, missing});
  EXPECT_EQ(several.exit_status, 3);
  EXPECT_EQ(several.err,
            "Quillane: " + damaged +
                ": No startxref offset found at the end of the file; it is not a PDF file or "
                "it is damaged.\n"
                "Quillane: " +
                taken +
                ": Target output file already exists\n"
                "Quillane: " +
                missing + ": Cannot open file \"" + missing + "\". No such file or directory.\n");
  EXPECT_TRUE(fs::exists(Work("b c_Vexlo.pdf")));
  const ProcessResult one = Quillane({missing});
  EXPECT_EQ(one.err,
            "Quillane: Cannot open file \"" + missing + "\". No such file or directory.\n");
}

// An output that replaces a file is synced before the rename and its folder
// after it, so a power cut leaves the old file or the new one; a new output
// replaces nothing and is not synced. The run's system calls show the order.
TEST_F(RobustnessTest, OnlyAReplacedOutputIsSynced) {
  RegisterReader();
  const std::string in = Input("in.pdf", OneImagePdf());
  const struct {
    const char* name;
    std::vector<std::string> args;
    const char* calls;
  } cases[] = {
      // Without "/overwrite" the move never replaces a file that appeared.
      {"new output", {"/in", in, "/out", Work("out.pdf")}, "renameat2"},
      {"/overwrite of that output",
       {"/overwrite", "/in", in, "/out", Work("out.pdf")},
       "fsync rename fsync"},
      // The stand-in ends at once, so each copy stays for the next case.
      {"new /tempexec copy", {"/tempexec", "/in", in}, "rename"},
      {"/tempexec copy over the one kept", {"/tempexec", "/in", in}, "fsync rename fsync"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> argv{QUILLANE_EXE};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const std::optional<TracedRun> run = RunTraced(
        argv, "fsync,fdatasync,rename,renameat,renameat2", scratch_.File("trace.txt"), Options());
    if (!run) GTEST_SKIP() << "strace cannot trace here";
    EXPECT_EQ(run->result.err, "");
    EXPECT_EQ(run->result.exit_status, 0);
    // Any form of a replacing rename counts as "rename".
    std::string calls;
    for (const TracedCall& call : run->calls) {
      const bool replacing = call.name == "rename" || call.name == "renameat";
      calls += (calls.empty() ? "" : " ") + (replacing ? "rename" : call.name);
    }
    EXPECT_EQ(calls, c.calls);
    fs::remove(Record());
  }
}

}  // namespace
}  // namespace quillane::test
