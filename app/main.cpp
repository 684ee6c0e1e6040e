// The process entry: hands the command line to the one job object, answers
// help, version and usage errors, runs the job once for each input, shows any
// error that escapes a run in the platform's error box, and turns the outcomes
// into the exit status (the highest one wins).
#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>

#include "app/image_remover.h"
#include "app/options.h"
#include "app/outcome.h"
#include "app/usage.h"
#include "app/version.h"
#include "fileaccess/fileaccess.h"
#include "platform/platform.h"

namespace {

using quillane::CommandLine;
using quillane::ExitStatusFor;
using quillane::Text;
namespace platform = quillane::platform;

// The job object lives for the whole process.
quillane::TImageRemover ImageRemover;

// QUILLANE_LOG names a file that receives every diagnostic line of the run
// ("-" for standard error); unset, no hook is installed and lines are dropped.
struct LogFileCloser {
  void operator()(std::FILE* file) const {
    if (file != stderr) std::fclose(file);
  }
};
std::unique_ptr<std::FILE, LogFileCloser> LogFile;

void InstallLogHook() {
  const Text target = platform::GetEnvironment("QUILLANE_LOG");
  if (target.empty()) return;
  std::FILE* file = target == "-" ? stderr : std::fopen(target.c_str(), "ab");
  if (file == nullptr) return;
  LogFile.reset(file);
  ImageRemover.OnLog = [](const Text& line) {
    std::fwrite(line.data(), 1, line.size(), LogFile.get());
    std::fputc('\n', LogFile.get());
  };
}

// Shows the error of a run, or of the command line, and gives its status.
int ShowError(const char* message, platform::CommandLineStyle style) {
  platform::ShowErrorBox(message);
  return ExitStatusFor(quillane::kExitError, style);
}

// Help, version and usage errors: standard output or error on POSIX, a
// message box on Windows.
int Answer(const CommandLine& commandLine, platform::CommandLineStyle style) {
  const Text usage = quillane::UsageText(style);
  const bool posix = style == platform::CommandLineStyle::kPosix;
  switch (commandLine.Request) {
    case CommandLine::Kind::kHelp:
      if (posix) {
        platform::WriteStandardOutput(usage);
      } else {
        platform::ShowMessageBox(usage, platform::MessageIcon::kInformation, false);
      }
      return quillane::kExitDone;
    case CommandLine::Kind::kVersion:
      platform::WriteStandardOutput(Text("quillane ") + quillane::kVersion + "\n");
      return quillane::kExitDone;
    default:
      break;
  }
  const Text problem = commandLine.UsageError;
  if (posix) {
    platform::WriteStandardError((problem.empty() ? Text() : "Quillane: " + problem + "\n") +
                                 usage);
  } else {
    platform::ShowMessageBox(problem + ".\n\n" + usage, platform::MessageIcon::kError, false);
  }
  return ExitStatusFor(quillane::kExitUsage, style);
}

// One run for each input, each on its own: an error ends that run only.
int RunEach(const CommandLine& commandLine, platform::CommandLineStyle style) {
  int status = quillane::kExitDone;
  const bool several = commandLine.Inputs.size() > 1;
  for (const Text& input : commandLine.Inputs) {
    quillane::Options options = commandLine.Options;
    options.InputFile = input;
    // With several inputs every message of a run names its input.
    std::optional<platform::MessageSubject> subject;
    if (several) subject.emplace(input);
    try {
      quillane::WindowedFileAccess source;
      status = std::max(status, ExitStatusFor(ImageRemover.Run(options, source), style));
    } catch (const std::exception& error) {
      status = std::max(status, ShowError(error.what(), style));
    } catch (...) {
      status = std::max(status, ShowError("", style));
    }
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const platform::CommandLineStyle style = platform::NativeCommandLineStyle();
  try {
    InstallLogHook();
    const CommandLine commandLine = quillane::ProcessCommandLine(
        platform::CommandLineArguments(argc, argv), style, quillane::ReadStoredSettings());
    switch (commandLine.Request) {
      case CommandLine::Kind::kRuns:
        return RunEach(commandLine, style);
      case CommandLine::Kind::kDiagnostics:
        return ExitStatusFor(ImageRemover.WriteDiagnostics(), style);
      default:
        return Answer(commandLine, style);
    }
  } catch (const std::exception& error) {
    return ShowError(error.what(), style);
  } catch (...) {
    return ShowError("", style);
  }
}
