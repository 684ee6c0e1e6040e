#include "pdf/raw/scanner.h"

namespace quillane {

namespace {

constexpr int kHeaderSearchSteps = 500;
constexpr std::size_t kMaxHeaderText = 50;

bool IsLineEnd(std::uint8_t c) { return c == '\r' || c == '\n'; }

}  // namespace

Scanner::Scanner(const FileAccess& source, const LogHook& log) : source_(source), log_(log) {}

void Scanner::Log(const Text& line) const {
  if (log_) log_(line);
}

namespace {

// The digits from `p` on that ReadInteger takes, with `p` moved behind them.
Text ReadDigits(const FileAccess& source, Position& p) {
  Position start = -1;
  Position end = -1;
  while (p < source.Size()) {
    const std::uint8_t c = source.ByteAt(p);
    if (start == -1 && IsDigit(c)) start = p;
    if (start != -1 && !IsDigit(c)) {
      end = p;
      break;
    }
    ++p;
  }
  // Digits that run to the end of the data end there.
  if (start != -1 && end == -1) end = p;
  return start == -1 ? Text() : source.Substring(start, end);
}

}  // namespace

std::int32_t Scanner::ReadInteger(Position& p) const { return TextToInt(ReadDigits(source_, p)); }

Text Scanner::ReadToken(Position& p) const {
  Position start = -1;
  Position end = -1;
  while (p < source_.Size()) {
    const std::uint8_t c = source_.ByteAt(p);
    if (start == -1 && !IsWhiteSpace(c)) start = p;
    if (start != -1 && (IsWhiteSpace(c) || IsDelimiter(c))) {
      end = p;
      break;
    }
    ++p;
  }
  if (start == -1) return {};
  if (end == -1) end = p;
  return source_.Substring(start, end);
}

bool Scanner::FindKeyValue(const Text& key, std::int32_t& value, Position& p) const {
  int depth = 0;
  while (p < source_.Size()) {
    const std::uint8_t c = source_.ByteAt(p);
    // The look-ahead byte exists only before the last byte of the data.
    const bool hasNext = p + 1 < source_.Size();
    if (c == '<' && hasNext && source_.RawByteAt(p + 1) == '<') {
      ++depth;
      ++p;
    } else if (c == '>' && hasNext && source_.RawByteAt(p + 1) == '>') {
      --depth;
      if (depth == 0) {
        if (Logging()) Log("reached dict end @ " + IntToText(p));
        return false;
      }
      ++p;
    } else if (c == '/') {
      ++p;
      if (ReadToken(p) == key) {
        value = ReadInteger(p);
        return true;
      }
      // Go on at the byte that ended the name: it may open a nested "<<",
      // close the dictionary or start the next name, and must be counted.
      continue;
    }
    ++p;
  }
  return false;
}

ObjectHeader Scanner::FindObjectKeyBefore(Position p) const {
  // States: 0 looks for the keyword "obj"; 1 skips the blanks between the
  // generation and "obj"; 2 collects the generation; 3 collects everything
  // back to the line start, which must be the object number.
  int state = 0;
  std::int32_t generation = -1;
  Position keyword = -1;
  Text collected;  // Built backwards: each byte is put in front.
  for (int steps = 0; steps < kHeaderSearchSteps; ++steps, --p) {
    if (state == 0) {
      // Positions before the start of the data never match.
      if (p >= 2 && source_.RawByteAt(p - 2) == 'o' && source_.RawByteAt(p - 1) == 'b' &&
          source_.RawByteAt(p) == 'j') {
        state = 1;
        p -= 2;
        keyword = p;
        if (Logging()) Log("obj@" + IntToText(p));
      }
      continue;
    }
    const std::uint8_t c = source_.ByteAt(p);
    if (IsLineEnd(c)) {
      const std::int32_t number = TextToIntDef(Trim(collected), -1);
      if (Logging()) Log("Number: " + IntToText(number) + "#" + IntToText(generation));
      // Object numbers are positive and generations non-negative; a signed
      // header is no header, and taking it would replace another object. A
      // generation of 100000 or more would spill into the number part of the
      // key and name another object too (PDF generations stop at 65535).
      if (number < 0 || generation < 0 || generation >= kObjectKeyFactor) {
        return {kNoObject, keyword};
      }
      return {MakeObjectKey(number, generation), keyword};
    }
    if (IsWhiteSpace(c)) {
      if (state == 2) {
        generation = TextToIntDef(Trim(collected), -1);
        state = 3;
        collected.clear();
      }
    } else if (state == 1) {
      state = 2;
      collected.clear();
    }
    collected.insert(collected.begin(), static_cast<char>(c));
    if (collected.size() > kMaxHeaderText) return {kNoObject, keyword};
  }
  return {kNoObject, keyword};
}

}  // namespace quillane
