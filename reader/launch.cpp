#include "reader/launch.h"

#include <chrono>
#include <cstdint>

#include "platform/platform.h"
#include "reader/discovery.h"

namespace quillane {
namespace {

constexpr std::uint32_t kWaitStepMilliseconds = 200;

void Warn(const Text& text) {
  platform::ShowMessageBox(text, platform::MessageIcon::kWarning, true);
}

}  // namespace

ReaderStart StartPdfReader(const Text& documentPath, bool waitForExit) {
  const Text progId = GetPdfProgId();
  Text command;
  if (!progId.empty()) command = DeducePdfReadCommand(progId);
  if (command.empty()) {
    Warn("Could not deduce command to start PDF reader");
    return ReaderStart::kNoCommand;
  }

  const auto started = std::chrono::steady_clock::now();
  const auto process = platform::Process::StartWithDocument(command, documentPath);
  if (process == nullptr) {
    Warn("Failed to start PDF reader");
    return ReaderStart::kFailed;
  }
  if (!waitForExit) return ReaderStart::kStarted;
  // Short waits with the message queue emptied in between keep the
  // application responsive while the reader is open.
  while (!process->WaitForExit(kWaitStepMilliseconds)) platform::PumpMessages();
  return std::chrono::steady_clock::now() - started < kEndedAtOnceWithin ? ReaderStart::kEndedAtOnce
                                                                         : ReaderStart::kStarted;
}

void LogDiagnostics(const LogHook& log) {
  const auto emit = [&log](const Text& line) {
    if (log) log(line);
  };
  emit("Diagnostics");
  const Text progId = GetPdfProgId();
  emit("PDF Prog.ID: " + progId);
  if (!progId.empty()) emit("PDF cmd: " + DeducePdfReadCommand(progId));
}

}  // namespace quillane
