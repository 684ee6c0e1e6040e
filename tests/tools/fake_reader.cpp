// Stands in for the user's PDF reader in the reader-integration tests. It is
// started through the registered command like a real reader, stays alive for a
// while, then records what it was given. Environment:
//   QUILLANE_FAKE_READER_RECORD    file that receives the arguments, each
//                                  followed by a NUL byte (an argument may
//                                  hold a line break, never a NUL)
//   QUILLANE_FAKE_READER_DELAY_MS  milliseconds to stay alive first (default 0)
//   QUILLANE_FAKE_READER_SNAPSHOT  receives a copy of the file named by the
//                                  last argument, if that file exists
// The record is written last and renamed into place, so a test that sees it
// knows the reader has finished looking at its document.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string delay = Environment("QUILLANE_FAKE_READER_DELAY_MS");
  if (!delay.empty())
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(delay.c_str())));

  std::error_code ignored;
  const std::string snapshot = Environment("QUILLANE_FAKE_READER_SNAPSHOT");
  if (!snapshot.empty() && argc > 1 && std::filesystem::is_regular_file(argv[argc - 1], ignored)) {
    std::filesystem::copy_file(argv[argc - 1], snapshot,
                               std::filesystem::copy_options::overwrite_existing, ignored);
  }

  const std::string record = Environment("QUILLANE_FAKE_READER_RECORD");
  if (record.empty()) return 0;
  const std::string partial = record + ".partial";
  {
    std::ofstream out(partial, std::ios::binary);
    for (int i = 1; i < argc; ++i) out << argv[i] << '\0';
  }
  std::filesystem::rename(partial, record, ignored);
  return ignored ? 1 : 0;
}
