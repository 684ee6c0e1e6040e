#include "base/text.h"

#include <limits>
#include <string_view>

#include "base/checked_number.h"
#include "base/error.h"

namespace quillane {

Text IntToText(std::int64_t value) { return std::to_string(value); }

Text Copy(const Text& text, std::int64_t position, std::int64_t count) {
  const auto length = static_cast<std::int64_t>(text.size());
  if (position < 1) position = 1;
  if (position > length || count <= 0) return {};
  if (count > length - position + 1) count = length - position + 1;
  return text.substr(static_cast<std::size_t>(position - 1), static_cast<std::size_t>(count));
}

Text TailFrom(const Text& text, std::int64_t position) {
  return Copy(text, position, static_cast<std::int64_t>(text.size()) - position + 1);
}

Text ReplaceAll(const Text& text, const Text& pattern, const Text& replacement) {
  if (pattern.empty()) return text;
  Text result;
  result.reserve(text.size());
  std::size_t position = 0;
  // Every position where the pattern still fits is tried; a match consumes the
  // whole pattern, so occurrences never overlap and the replacement is never
  // rescanned.
  while (position + pattern.size() <= text.size()) {
    if (text.compare(position, pattern.size(), pattern) == 0) {
      result += replacement;
      position += pattern.size();
    } else {
      result += text[position];
      ++position;
    }
  }
  result.append(text, position, Text::npos);
  return result;
}

Text PadLeftWithZeros(const Text& text, std::int64_t width) {
  const std::int64_t missing = width - static_cast<std::int64_t>(text.size());
  if (missing <= 0) return text;
  return Text(static_cast<std::size_t>(missing), '0') + text;
}

bool EndsWith(const Text& text, const Text& suffix) {
  if (suffix.size() > text.size()) return false;
  return text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

Text Trim(const Text& text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= 32) ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= 32) --last;
  return text.substr(first, last - first);
}

Text TrimBlanks(const Text& text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && IsBlank(text[first])) ++first;
  while (last > first && IsBlank(text[last - 1])) --last;
  return text.substr(first, last - first);
}

std::optional<std::int32_t> TryTextToInt(const Text& text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) return std::nullopt;
  // The magnitude may not leave the 32-bit range, which is checked before
  // each digit, so any number of digits is safe.
  const std::int64_t limit =
      negative ? -static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::min())
               : std::numeric_limits<std::int32_t>::max();
  const std::optional<std::int64_t> magnitude =
      DecimalValue(std::string_view(text).substr(i), limit);
  if (!magnitude) return std::nullopt;
  return static_cast<std::int32_t>(negative ? -*magnitude : *magnitude);
}

std::int32_t TextToIntDef(const Text& text, std::int32_t fallback) {
  return TryTextToInt(text).value_or(fallback);
}

std::int32_t TextToInt(const Text& text) {
  if (auto value = TryTextToInt(text)) return *value;
  throw Error("'" + text + "' is not a valid integer value");
}

std::vector<Text> SplitText(const Text& text, char separator) {
  std::vector<Text> pieces;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find(separator, start);
    if (end == Text::npos) {
      pieces.push_back(text.substr(start));
      return pieces;
    }
    pieces.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

}  // namespace quillane
