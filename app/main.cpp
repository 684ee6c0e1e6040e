// The process entry: hands the command line to the one job object, turns the
// outcome into the exit status, and shows any error that escapes in the
// platform's error box.
#include <cstdio>
#include <exception>
#include <memory>

#include "app/image_remover.h"
#include "app/outcome.h"
#include "platform/platform.h"

namespace {

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
  const quillane::Text target = quillane::platform::GetEnvironment("QUILLANE_LOG");
  if (target.empty()) return;
  std::FILE* file = target == "-" ? stderr : std::fopen(target.c_str(), "ab");
  if (file == nullptr) return;
  LogFile.reset(file);
  ImageRemover.OnLog = [](const quillane::Text& line) {
    std::fwrite(line.data(), 1, line.size(), LogFile.get());
    std::fputc('\n', LogFile.get());
  };
}

// Every outcome, refusals included, ends the process normally: the user has
// seen what happened in a message box.
int ExitStatusFor(quillane::Outcome /*outcome*/) { return 0; }

}  // namespace

int main(int argc, char** argv) {
  try {
    InstallLogHook();
    return ExitStatusFor(
        ImageRemover.ProcessCommandLine(quillane::platform::CommandLineArguments(argc, argv)));
  } catch (const std::exception& error) {
    quillane::platform::ShowErrorBox(error.what());
    return quillane::platform::ExitCodeAfterError();
  } catch (...) {
    quillane::platform::ShowErrorBox("");
    return quillane::platform::ExitCodeAfterError();
  }
}
