// Processes on POSIX: the reader is started with posix_spawnp, never through a
// shell, its command split into arguments by the program's own rule before the
// document's path goes into them.
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/command_line.h"
#include "platform/platform.h"

extern char** environ;

namespace quillane::platform {

struct Process::Impl {
  pid_t Pid = -1;
  bool Ended = false;

  // Reaps the child when it has ended; true once it has, or when it cannot be
  // waited for at all.
  bool Poll() {
    while (!Ended) {
      int status = 0;
      const pid_t result = ::waitpid(Pid, &status, WNOHANG);
      if (result == 0) return false;
      if (result < 0 && errno == EINTR) continue;
      Ended = true;
    }
    return true;
  }
};

namespace {

// Spawns `arguments` (argument 0 is the program, looked up in PATH when it
// holds no "/"); null when there is none or it cannot start.
std::unique_ptr<Process::Impl> Spawn(std::vector<Text> arguments) {
  if (arguments.empty()) return nullptr;
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (Text& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  auto impl = std::make_unique<Process::Impl>();
  if (::posix_spawnp(&impl->Pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
    return nullptr;
  }
  return impl;
}

}  // namespace

Process::Process(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Process::~Process() {
  // The child runs on; a child that has ended already is reaped here.
  impl_->Poll();
}

std::unique_ptr<Process> Process::Start(const Text& commandLine) {
  auto impl = Spawn(SplitCommandLine(commandLine));
  return impl ? std::unique_ptr<Process>(new Process(std::move(impl))) : nullptr;
}

std::unique_ptr<Process> Process::StartWithDocument(const Text& commandTemplate,
                                                    const Text& documentPath) {
  // Split first, then substitute: pasted into the line before the split, a
  // quote or a blank in the name would end the argument and let the rest of
  // the name become arguments of its own, such as a reader option.
  const Text path = ExpandFileName(documentPath);
  std::vector<Text> arguments = SplitCommandLine(commandTemplate);
  for (Text& argument : arguments) argument = ReplaceAll(argument, kDocumentPlaceholder, path);
  auto impl = Spawn(std::move(arguments));
  return impl ? std::unique_ptr<Process>(new Process(std::move(impl))) : nullptr;
}

bool Process::WaitForExit(std::uint32_t milliseconds) {
  constexpr auto kPollInterval = std::chrono::milliseconds(5);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (!impl_->Poll()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(kPollInterval, deadline - now));
  }
  return true;
}

void PumpMessages() {}

}  // namespace quillane::platform
