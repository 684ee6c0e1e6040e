// Text utilities shared by the whole program: the byte-string type and the
// few basic text operations (1-based substring, trim, decimal conversion)
// whose exact semantics the scanners, the writer and the reader integration
// rely on. Everything here is pure: no file, registry or
// global state is touched.
#ifndef QUILLANE_BASE_TEXT_H_
#define QUILLANE_BASE_TEXT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillane {

// A text is a sequence of bytes with an explicit length; any byte value, NUL
// included, may occur in it and no character-set conversion is ever applied.
using Text = std::string;

// Replaces every occurrence of `pattern`, leftmost first and never overlapping;
// the inserted replacement is not scanned again. An empty pattern leaves the
// text unchanged.
Text ReplaceAll(const Text& text, const Text& pattern, const Text& replacement);

// The bytes of `text` from the 1-based `position` to the end; a position below
// 1 gives the whole text, one beyond the end the empty text.
Text TailFrom(const Text& text, std::int64_t position);

// Prefixes "0" bytes until the text is `width` long; a longer text is returned
// unchanged (nothing is cut, signs are not special).
Text PadLeftWithZeros(const Text& text, std::int64_t width);

// True when the last bytes of `text` equal `suffix`, byte for byte. An empty
// suffix always matches; a suffix longer than the text never does.
bool EndsWith(const Text& text, const Text& suffix);

// Substring by 1-based position and count: a position below 1 counts as 1
// (the count is not reduced), the count is cut to what remains, and a position
// beyond the end or a count of 0 or less gives the empty text.
Text Copy(const Text& text, std::int64_t position, std::int64_t count);

// Removes every leading and trailing byte of value 32 or less.
Text Trim(const Text& text);

// True for a blank: space or tab.
inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Removes leading and trailing blanks (spaces and tabs) only, as line-based
// text formats (registry exports, desktop entries) trim their fields.
Text TrimBlanks(const Text& text);

// The pieces of `text` between the `separator` bytes, empty ones included, so
// "a::b" gives "a", "", "b" and the empty text gives one empty piece.
std::vector<Text> SplitText(const Text& text, char separator);

// Plain decimal, "-" for negative values, no leading zeros or blanks.
Text IntToText(std::int64_t value);

// Converts leading spaces, an optional sign and decimal digits to a signed
// 32-bit value; anything else (empty text, trailing bytes, no digits, a value
// out of range) does not convert.
std::optional<std::int32_t> TryTextToInt(const Text& text);

// TryTextToInt, or `fallback` when the text does not convert.
std::int32_t TextToIntDef(const Text& text, std::int32_t fallback);

// TryTextToInt, or throws Error("'<text>' is not a valid integer value").
std::int32_t TextToInt(const Text& text);

}  // namespace quillane

#endif  // QUILLANE_BASE_TEXT_H_
