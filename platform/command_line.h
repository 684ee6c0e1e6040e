// Splitting of a command line into arguments, by the rule of the Windows
// framework the program was built with: Quillane's own command line on Windows
// (GetCommandLineW in UTF-8) and the reader command it starts on POSIX go through
// it, so one rule decides what a quoted path becomes on either platform.
#ifndef QUILLANE_PLATFORM_COMMAND_LINE_H_
#define QUILLANE_PLATFORM_COMMAND_LINE_H_

#include <vector>

#include "base/text.h"

namespace quillane {

// Splits `commandLine` into its arguments, argument 0 (the program) included.
//  - Bytes of value 0x20 or less (space and every control character) separate
//    arguments; runs of them count as one separator.
//  - A double quote opens a quoted stretch that the next double quote closes;
//    separators inside it belong to the argument, the quotes themselves are
//    dropped, so a"b c"d is the one argument ab cd. A stretch left open runs to
//    the end.
//  - A pair of double quotes "" at the start of an argument is skipped, as
//    often as it occurs, so "" never yields an empty argument.
//  - The line ends at its first NUL byte, as the C string a platform hands over
//    would.
// No argument is ever empty; a double quote cannot be part of an argument.
std::vector<Text> SplitCommandLine(const Text& commandLine);

}  // namespace quillane

#endif  // QUILLANE_PLATFORM_COMMAND_LINE_H_
