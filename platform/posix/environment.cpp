// The POSIX process environment: arguments, paths, environment variables,
// and message boxes as lines on standard error.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/posix_util.h"

namespace quillane::platform {

namespace posix {

Text PosixErrorText(int error) { return std::strerror(error); }

std::pair<Text, Text> SplitFolder(const Text& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == Text::npos) return {".", path};
  return {slash == 0 ? Text("/") : path.substr(0, slash), path.substr(slash + 1)};
}

void CreateFolders(const Text& folder) {
  for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    const Text part = folder.substr(0, slash);
    if (!part.empty()) ::mkdir(part.c_str(), 0777);
    if (slash == Text::npos) break;
  }
}

}  // namespace posix

// ---------------------------------------------------------------------------
// Message boxes

void ShowMessageBox(const Text& text, MessageIcon /*icon*/, bool /*applicationOwned*/) {
  const Text* subject = MessageSubject::Current();
  WriteStandardError("Quillane: " + (subject != nullptr ? *subject + ": " : Text()) + text + "\n");
}

CommandLineStyle NativeCommandLineStyle() { return CommandLineStyle::kPosix; }

void WriteStandardOutput(const Text& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void WriteStandardError(const Text& text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

// ---------------------------------------------------------------------------
// Arguments, paths and environment

std::vector<Text> CommandLineArguments(int argc, char** argv) {
  std::vector<Text> arguments;
  arguments.reserve(static_cast<std::size_t>(argc > 1 ? argc - 1 : 0));
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  return arguments;
}

Text ExecutablePath() {
  std::vector<char> buffer(256);
  while (true) {
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return "";
    if (static_cast<std::size_t>(length) < buffer.size()) {
      return Text(buffer.data(), static_cast<std::size_t>(length));
    }
    buffer.resize(buffer.size() * 2);
  }
}

Text TemporaryDirectory() {
  Text folder = GetEnvironment("TMPDIR");
  if (folder.empty()) folder = "/tmp";
  if (folder.back() != '/') folder += '/';
  return folder;
}

bool IsPathSeparator(char c) { return c == '/'; }

bool FileExists(const Text& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

void DeleteFile(const Text& path) { ::unlink(path.c_str()); }

Text ExpandFileName(const Text& path) {
  Text absolute = path;
  if (!posix::IsAbsolutePath(path)) {
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
      if (errno != ERANGE) return path;
      buffer.resize(buffer.size() * 2);
    }
    absolute = Text(buffer.data()) + "/" + path;
  }
  // Resolve "." and ".." by name only; symbolic links stay as written.
  std::vector<Text> parts;
  for (const Text& part : SplitText(absolute, '/')) {
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
  }
  Text result;
  for (const Text& part : parts) result += "/" + part;
  if (result.empty()) return "/";
  // A folder named with its final separator keeps it, as on Windows.
  if (absolute.back() == '/') result += '/';
  return result;
}

Text GetEnvironment(const Text& name) {
  const char* value = std::getenv(name.c_str());
  return value == nullptr ? Text() : Text(value);
}

Text LowerCase(const Text& text) {
  Text lower = text;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

}  // namespace quillane::platform
