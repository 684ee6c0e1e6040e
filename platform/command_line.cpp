#include "platform/command_line.h"

#include <utility>

namespace quillane {

namespace {

constexpr char kQuote = '"';

bool IsSeparator(char c) { return static_cast<unsigned char>(c) <= 0x20; }

}  // namespace

std::vector<Text> SplitCommandLine(const Text& commandLine) {
  // Everything after a NUL is invisible to the platform, whose command line is
  // a C string.
  const Text line = commandLine.substr(0, commandLine.find('\0'));
  const std::size_t end = line.size();
  std::vector<Text> arguments;
  std::size_t pos = 0;
  while (true) {
    // Step 1: skip separators and every "" pair that stands where an argument
    // would begin. Each look at pos + 1 is guarded by pos + 1 < end.
    while (true) {
      while (pos < end && IsSeparator(line[pos])) ++pos;
      if (pos + 1 < end && line[pos] == kQuote && line[pos + 1] == kQuote) {
        pos += 2;
      } else {
        break;
      }
    }
    // Step 2: gather the argument up to the next separator outside quotes.
    Text argument;
    bool quoted = false;
    for (; pos < end && (quoted || !IsSeparator(line[pos])); ++pos) {
      if (line[pos] == kQuote) {
        quoted = !quoted;
      } else {
        argument.push_back(line[pos]);
      }
    }
    // The framework ends the list at the first empty argument; that only
    // happens at the end of the line (or after a lone quote that ends it).
    if (argument.empty()) break;
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

}  // namespace quillane
