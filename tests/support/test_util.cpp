#include "support/test_util.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <thread>

extern char** environ;

namespace quillane::test {
namespace {

std::runtime_error SystemError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

std::vector<std::string> BuildEnvironment(
    const std::map<std::string, std::optional<std::string>>& overrides) {
  std::vector<std::string> result;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text(*entry);
    const std::string name = text.substr(0, text.find('='));
    if (overrides.count(name) == 0) result.push_back(text);
  }
  for (const auto& [name, value] : overrides) {
    if (value) result.push_back(name + "=" + *value);
  }
  return result;
}

std::vector<char*> PointerArray(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Reads both pipes until both reach end of file; polling keeps a child that
// fills one pipe from blocking while we wait on the other.
void DrainPipes(int out_fd, int err_fd, std::string& out, std::string& err) {
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {&out, &err};
  int open_count = 2;
  char buffer[65536];
  while (open_count > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      throw SystemError("poll");
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
  if (argv.empty()) throw std::runtime_error("RunProcess: empty argv");
  std::vector<std::string> args = argv;
  std::vector<std::string> env = BuildEnvironment(options.env);
  std::vector<char*> arg_pointers = PointerArray(args);
  std::vector<char*> env_pointers = PointerArray(env);
  const std::string cwd = options.cwd.string();

  int out_pipe[2];
  int err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) {
    throw SystemError("pipe");
  }
  // posix_spawn rather than fork: forking a test process that carries the
  // sanitizers' large mappings costs far more than the run being tested.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  pid_t pid = 0;
  const bool search = args[0].find('/') == std::string::npos;
  const int spawned = search ? posix_spawnp(&pid, arg_pointers[0], &actions, nullptr,
                                            arg_pointers.data(), env_pointers.data())
                             : posix_spawn(&pid, arg_pointers[0], &actions, nullptr,
                                           arg_pointers.data(), env_pointers.data());
  posix_spawn_file_actions_destroy(&actions);
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (spawned != 0) {
    close(out_pipe[0]);
    close(err_pipe[0]);
    errno = spawned;
    throw SystemError("cannot start " + args[0]);
  }

  ProcessResult result;
  DrainPipes(out_pipe[0], err_pipe[0], result.out, result.err);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw SystemError("waitpid");
  }
  if (WIFEXITED(status)) {
    result.exit_status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

namespace {

bool FoundInPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return false;
  std::stringstream folders(path);
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    if (!folder.empty() && access((folder + "/" + program).c_str(), X_OK) == 0) return true;
  }
  return false;
}

}  // namespace

bool ProgramAvailable(const std::string& program) {
  if (FoundInPath(program)) return true;
  const char* ci = std::getenv("CI");
  if (ci != nullptr && std::string(ci) == "true") {
    ADD_FAILURE() << program << " is not installed, and CI=true requires every checker";
  }
  return false;
}

std::optional<TracedCall> ParseTracedCall(const std::string& line) {
  // name(arguments) = result: the arguments end at the ")" that closes the
  // first "(" at the same depth, outside strings.
  const std::size_t open = line.find('(');
  if (open == std::string::npos || open == 0) return std::nullopt;
  TracedCall call;
  call.name = line.substr(0, open);
  for (const char c : call.name) {
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return std::nullopt;
  }
  int depth = 0;
  bool quoted = false;
  std::string argument;
  for (std::size_t i = open + 1; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      argument += c;
      if (c == '\\' && i + 1 < line.size()) {
        argument += line[++i];
      } else if (c == '"') {
        quoted = false;
      }
      continue;
    }
    if (c == '"') {
      quoted = true;
    } else if (c == '(' || c == '[' || c == '{') {
      ++depth;
    } else if ((c == ')' || c == ']' || c == '}') && depth > 0) {
      --depth;
    } else if (c == ')' || (c == ',' && depth == 0)) {
      const std::size_t first = argument.find_first_not_of(' ');
      const std::size_t last = argument.find_last_not_of(' ');
      if (first != std::string::npos) {
        call.arguments.push_back(argument.substr(first, last - first + 1));
      }
      argument.clear();
      if (c == ')') return call;
      continue;
    }
    argument += c;
  }
  return std::nullopt;
}

std::optional<std::string> TracedCall::String(std::size_t i) const {
  if (i >= arguments.size()) return std::nullopt;
  const std::string& raw = arguments[i];
  if (raw.size() < 2 || raw.front() != '"' || raw.back() != '"') return std::nullopt;
  const std::string body = raw.substr(1, raw.size() - 2);
  const auto digitsFrom = [&body](std::size_t from, std::size_t most, int base) {
    std::size_t end = from;
    while (end < body.size() && end < from + most &&
           std::string_view(base == 8 ? "01234567" : "0123456789abcdefABCDEF").find(body[end]) !=
               std::string_view::npos) {
      ++end;
    }
    return end;
  };
  std::string text;
  for (std::size_t k = 0; k < body.size(); ++k) {
    if (body[k] != '\\' || k + 1 == body.size()) {
      text += body[k];
      continue;
    }
    const char e = body[++k];
    const std::size_t octalEnd = digitsFrom(k, 3, 8);
    if (e == 'x' && digitsFrom(k + 1, 2, 16) > k + 1) {
      const std::size_t end = digitsFrom(k + 1, 2, 16);
      text += static_cast<char>(std::stoi(body.substr(k + 1, end - k - 1), nullptr, 16));
      k = end - 1;
    } else if (octalEnd > k) {
      text += static_cast<char>(std::stoi(body.substr(k, octalEnd - k), nullptr, 8));
      k = octalEnd - 1;
    } else {
      const std::string_view from = "ntrvf";
      const std::string_view to = "\n\t\r\v\f";
      const std::size_t at = from.find(e);
      text += at == std::string_view::npos ? e : to[at];
    }
  }
  return text;
}

std::vector<std::string> TracedCall::Flags(std::size_t i) const {
  std::vector<std::string> flags;
  if (i >= arguments.size()) return flags;
  std::stringstream names(arguments[i]);
  for (std::string flag; std::getline(names, flag, '|');) flags.push_back(flag);
  return flags;
}

std::optional<TracedRun> RunTraced(const std::vector<std::string>& argv, const std::string& calls,
                                   const std::filesystem::path& traceFile, ProcessOptions options) {
  if (!ProgramAvailable("strace")) return std::nullopt;
  // LeakSanitizer cannot run under a tracer and would fail the run.
  options.env["ASAN_OPTIONS"] = "detect_leaks=0";
  std::vector<std::string> traced{"strace", "-qq",         "-e", "trace=" + calls,
                                  "-e",     "signal=none", "-o", traceFile.string()};
  traced.insert(traced.end(), argv.begin(), argv.end());
  TracedRun run{RunProcess(traced, options), {}};
  std::error_code missing;
  if (std::filesystem::exists(traceFile, missing)) {
    std::stringstream lines(ReadFileBytes(traceFile));
    for (std::string line; std::getline(lines, line);) {
      if (std::optional<TracedCall> call = ParseTracedCall(line)) run.calls.push_back(*call);
    }
  }
  // strace's own complaint (ptrace refused) and no trace: nothing was seen.
  if (run.calls.empty() && run.result.err.starts_with("strace: ")) return std::nullopt;
  return run;
}

std::vector<std::string> RecordedReaderArguments(const std::filesystem::path& record,
                                                 std::chrono::milliseconds patience) {
  const auto give_up = std::chrono::steady_clock::now() + patience;
  while (!std::filesystem::exists(record) && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (!std::filesystem::exists(record)) return {"<reader not started>"};
  std::vector<std::string> arguments;
  std::string text = ReadFileBytes(record);
  for (std::size_t end; (end = text.find('\0')) != std::string::npos; text.erase(0, end + 1)) {
    arguments.push_back(text.substr(0, end));
  }
  return arguments;
}

ScopedEnvironment::~ScopedEnvironment() {
  for (const auto& [name, value] : saved_) {
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }
}

void ScopedEnvironment::Set(const std::string& name, const std::string& value) {
  Set(name, value.c_str());
}

void ScopedEnvironment::Set(const std::string& name, const char* value) {
  if (saved_.count(name) == 0) {
    const char* old = std::getenv(name.c_str());
    saved_[name] = old == nullptr ? std::nullopt : std::optional<std::string>(old);
  }
  if (value == nullptr) {
    ::unsetenv(name.c_str());
  } else {
    ::setenv(name.c_str(), value, 1);
  }
}

}  // namespace quillane::test
