// Processes on Windows: CreateProcessW with the reader's command line, and the
// message pump that keeps the application responsive while it waits.
#include "platform/platform.h"
#include "platform/win32/win32_util.h"

namespace quillane::platform {

using win32::ToUtf16;

struct Process::Impl {
  HANDLE process = nullptr;
};

Process::Process(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Process::~Process() { CloseHandle(impl_->process); }

std::unique_ptr<Process> Process::Start(const Text& commandLine) {
  // A command that is not well-formed UTF-8 could only start with another
  // document (or program) than the one it names, so it does not start.
  const auto wideLine = ToUtf16(commandLine);
  if (!wideLine) return nullptr;
  // CreateProcessW may write into the command line, so it gets its own copy.
  std::vector<wchar_t> mutableLine(wideLine->begin(), wideLine->end());
  mutableLine.push_back(L'\0');
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &started)) {
    return nullptr;
  }
  CloseHandle(started.hThread);
  auto impl = std::make_unique<Impl>();
  impl->process = started.hProcess;
  return std::unique_ptr<Process>(new Process(std::move(impl)));
}

std::unique_ptr<Process> Process::StartWithDocument(const Text& commandTemplate,
                                                    const Text& documentPath) {
  // Registered commands quote the placeholder themselves when they expect
  // blanks; "%2", "%*", "%L" and the like are left alone.
  return Start(ReplaceAll(commandTemplate, kDocumentPlaceholder, documentPath));
}

bool Process::WaitForExit(std::uint32_t milliseconds) {
  return WaitForSingleObject(impl_->process, milliseconds) != WAIT_TIMEOUT;
}

void PumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace quillane::platform
