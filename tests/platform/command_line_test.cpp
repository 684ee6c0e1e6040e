#include "platform/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace quillane {
namespace {

struct SplitCase {
  Text Line;
  std::vector<Text> Arguments;
};

TEST(SplitCommandLineTest, FollowsTheFrameworkRule) {
  const SplitCase cases[] = {
      {"", {}},
      {"   \t\r\n", {}},
      {"prog", {"prog"}},
      {"  prog   a  b ", {"prog", "a", "b"}},
      // Every byte up to 0x20 separates, not only blanks.
      {Text("a\x01"
            "b\x1f"
            "c\x7f"
            "d",
            7),
       {"a", "b",
        "c\x7f"
        "d"}},
      {"prog \"C:\\My Files\\a.pdf\"", {"prog", "C:\\My Files\\a.pdf"}},
      // Quotes toggle inside an argument and are dropped.
      {"a\"b c\"d", {"ab cd"}},
      {"\"a\"\"b\"", {"ab"}},
      {"x\"\"y", {"xy"}},
      // An open quote runs to the end.
      {"prog \"a b", {"prog", "a b"}},
      // "" where an argument begins is skipped, however often, and yields
      // no empty argument.
      {"prog \"\" x", {"prog", "x"}},
      {"prog \"\"\"\" x", {"prog", "x"}},
      {"prog \"\"abc", {"prog", "abc"}},
      {"prog \"\"\" b\"", {"prog", " b"}},
      {"prog \"\"", {"prog"}},
      {"prog \"", {"prog"}},
      {"prog \"\"\"", {"prog"}},
      {"\"\" prog", {"prog"}},
      // A quoted blank is an argument of its own.
      {"prog \" \" x", {"prog", " ", "x"}},
      // The line ends at a NUL, as the platform's C string does.
      {Text("a b\0c d", 7), {"a", "b"}},
      {Text("\"a\0b\" c", 7), {"a"}},
      // Bytes above 0x7F are ordinary.
      {"r\xC3\xA9sum\xC3\xA9 \xFF", {"r\xC3\xA9sum\xC3\xA9", "\xFF"}},
  };
  for (const SplitCase& c : cases) {
    EXPECT_EQ(SplitCommandLine(c.Line), c.Arguments) << "line: " << c.Line;
  }
}

}  // namespace
}  // namespace quillane
