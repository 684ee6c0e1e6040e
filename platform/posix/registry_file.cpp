#include "platform/posix/registry_file.h"

#include <cstddef>
#include <optional>
#include <utility>

#include "base/byte_classes.h"
#include "base/error.h"

namespace quillane {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
// regedit breaks a hex list after the comma that brings the line to 77
// columns or more; continuation lines start with two blanks.
constexpr std::size_t kHexLineBreak = 77;

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// One to eight hex digits as a 32-bit number; anything else does not convert.
std::optional<std::uint32_t> ParseHex32(const Text& digits) {
  if (digits.empty() || digits.size() > 8) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : digits) {
    if (!IsHexDigit(c)) return std::nullopt;
    value = value * 16 + static_cast<std::uint32_t>(HexDigitValue(c));
  }
  return value;
}

bool StartsWithIgnoringCase(const Text& text, std::size_t pos, const Text& prefix) {
  return text.size() - pos >= prefix.size() &&
         SameRegistryName(text.substr(pos, prefix.size()), prefix);
}

// Cuts the content into lines at LF, dropping the CRs that end a line (that
// of a CR LF, a stray one before it, one at the end of the file). A CR
// elsewhere stays part of its line.
std::vector<Text> SplitLines(const Text& content, std::size_t start, bool& crLf) {
  std::vector<Text> lines;
  crLf = false;
  while (start <= content.size()) {
    const std::size_t end = content.find('\n', start);
    const std::size_t stop = end == Text::npos ? content.size() : end;
    if (end == Text::npos && start == stop) break;
    // Every CR before the line end belongs to the line end: a stray one kept
    // in a comment would come back as part of the next line end once written.
    std::size_t length = stop - start;
    if (length > 0 && content[stop - 1] == '\r' && lines.empty() && end != Text::npos) {
      crLf = true;
    }
    while (length > 0 && content[start + length - 1] == '\r') --length;
    lines.push_back(content.substr(start, length));
    if (end == Text::npos) break;
    start = end + 1;
  }
  return lines;
}

// Reads the lines of one file; every failure names the file and the line.
class Parser {
 public:
  Parser(std::vector<Text> lines, const Text& fileName)
      : lines_(std::move(lines)), fileName_(fileName) {}

  void Run(RegistryFile& file);

 private:
  [[noreturn]] void Fail(const Text& what) const {
    throw Error("Registry file \"" + fileName_ + "\", line " +
                IntToText(static_cast<std::int64_t>(index_ + 1)) + ": " + what);
  }

  void ParseSection(const Text& line, RegistryFile& file);
  RegistryValue ParseValue(const Text& line);
  // Reads a "..." text starting at the quote at `pos`; leaves `pos` behind
  // the closing quote.
  Text ParseQuoted(const Text& line, std::size_t& pos, const char* what);
  Text ParseHexList(Text rest);

  std::vector<Text> lines_;
  Text fileName_;
  std::size_t index_ = 0;  // the line being read, 0-based
};

void Parser::Run(RegistryFile& file) {
  if (lines_.empty() || TrimBlanks(lines_[0]) != kRegistryFileHeader) {
    Fail("the first line is not \"" + Text(kRegistryFileHeader) + "\"");
  }
  std::vector<Text> comments;
  for (index_ = 1; index_ < lines_.size(); ++index_) {
    const Text line = TrimBlanks(lines_[index_]);
    if (line.empty()) continue;
    if (line[0] == ';') {
      comments.push_back(lines_[index_]);
    } else if (line[0] == '[') {
      ParseSection(line, file);
      file.Keys.back().Comments = std::move(comments);
      comments.clear();
    } else if (line[0] == '"' || line[0] == '@') {
      if (file.Keys.empty()) Fail("value outside of a section");
      RegistryValue value = ParseValue(line);
      value.Comments = std::move(comments);
      comments.clear();
      file.Keys.back().Values.push_back(std::move(value));
    } else {
      Fail("unexpected text");
    }
  }
  file.TrailingComments = std::move(comments);
}

void Parser::ParseSection(const Text& line, RegistryFile& file) {
  if (line.size() < 2 || line.back() != ']') Fail("section header without a closing \"]\"");
  const Text path = line.substr(1, line.size() - 2);
  if (!IsWritableKeyPath(path)) Fail("empty key name in section header");
  file.Keys.push_back(RegistrySection{path, {}, {}});
}

RegistryValue Parser::ParseValue(const Text& line) {
  RegistryValue value;
  std::size_t pos = 0;
  if (line[0] == '@') {
    pos = 1;
  } else {
    value.Name = ParseQuoted(line, pos, "value name without a closing quote");
  }
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  if (pos >= line.size() || line[pos] != '=') Fail("\"=\" expected after the value name");
  ++pos;
  while (pos < line.size() && IsBlank(line[pos])) ++pos;

  if (pos < line.size() && line[pos] == '"') {
    value.Type = kRegSz;
    value.Data = ParseQuoted(line, pos, "text without a closing quote");
    if (pos != line.size()) Fail("unexpected text after the closing quote");
  } else if (StartsWithIgnoringCase(line, pos, "dword:")) {
    const std::optional<std::uint32_t> number = ParseHex32(TrimBlanks(line.substr(pos + 6)));
    if (!number) Fail("bad dword value (one to eight hex digits expected)");
    value.Type = kRegDword;
    for (int shift = 0; shift < 32; shift += 8) {
      value.Data.push_back(static_cast<char>((*number >> shift) & 0xFF));
    }
  } else if (StartsWithIgnoringCase(line, pos, "hex:")) {
    value.Type = kRegBinary;
    value.Data = ParseHexList(line.substr(pos + 4));
  } else if (StartsWithIgnoringCase(line, pos, "hex(")) {
    const std::size_t close = line.find("):", pos + 4);
    const std::optional<std::uint32_t> type =
        close == Text::npos ? std::nullopt : ParseHex32(line.substr(pos + 4, close - pos - 4));
    if (!type) Fail("bad value type in \"" + line.substr(pos) + "\"");
    value.Type = *type;
    value.Data = ParseHexList(line.substr(close + 2));
  } else {
    Fail("unknown value data \"" + line.substr(pos) + "\"");
  }
  return value;
}

Text Parser::ParseQuoted(const Text& line, std::size_t& pos, const char* what) {
  Text text;
  // pos is at the opening quote; every look at pos + 1 is guarded.
  for (++pos; pos < line.size(); ++pos) {
    const char c = line[pos];
    if (c == '"') {
      ++pos;
      return text;
    }
    if (c == '\\' && pos + 1 < line.size() && (line[pos + 1] == '\\' || line[pos + 1] == '"')) {
      ++pos;
      text.push_back(line[pos]);
    } else {
      // regedit escapes only \ and "; any other backslash is kept as written,
      // so a hand-written C:\path means what it says.
      text.push_back(c);
    }
  }
  Fail(what);
}

Text Parser::ParseHexList(Text rest) {
  Text data;
  while (true) {
    rest = TrimBlanks(rest);
    const bool continued = !rest.empty() && rest.back() == '\\';
    if (continued) rest.pop_back();
    // Bytes separated by commas; a comma may end a continued line, as regedit
    // writes it, and an empty list is zero bytes.
    std::size_t start = 0;
    while (start < rest.size()) {
      std::size_t comma = rest.find(',', start);
      const bool last = comma == Text::npos;
      if (last) comma = rest.size();
      const Text token = TrimBlanks(rest.substr(start, comma - start));
      const std::optional<std::uint32_t> byte =
          token.size() <= 2 ? ParseHex32(token) : std::nullopt;
      if (!byte) Fail("bad byte \"" + token + "\" in hex list");
      data.push_back(static_cast<char>(*byte));
      start = comma + 1;
      if (!last && start == rest.size() && !continued) Fail("hex list ends with a comma");
    }
    if (!continued) return data;
    ++index_;
    if (index_ >= lines_.size()) {
      --index_;
      Fail("hex list continues past the end of the file");
    }
    rest = lines_[index_];
  }
}

Text EscapeQuoted(const Text& text) {
  Text out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

Text HexByte(unsigned value) {
  return Text{kHexDigits[(value >> 4) & 0xF], kHexDigits[value & 0xF]};
}

Text HexNumber(std::uint32_t value) {
  Text digits;
  do {
    digits.insert(digits.begin(), kHexDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  return digits;
}

bool HasLineBreakOrNul(const Text& text) {
  return text.find_first_of(Text("\r\n\0", 3)) != Text::npos;
}

// One value line, or several for a long hex list.
Text WriteValue(const RegistryValue& value, const Text& eol) {
  Text line = value.Name.empty() ? Text("@") : EscapeQuoted(value.Name);
  line += "=";
  if (value.Type == kRegSz && !HasLineBreakOrNul(value.Data)) {
    return line + EscapeQuoted(value.Data) + eol;
  }
  if (value.Type == kRegDword && value.Data.size() == 4) {
    std::uint32_t number = 0;
    for (std::size_t i = 4; i-- > 0;) {
      number = (number << 8) | static_cast<unsigned char>(value.Data[i]);
    }
    return line + "dword:" + PadLeftWithZeros(HexNumber(number), 8) + eol;
  }
  // Everything else, a text with a line break included, is kept as its raw
  // bytes with its type number.
  line += value.Type == kRegBinary ? Text("hex:") : "hex(" + HexNumber(value.Type) + "):";
  Text out;
  for (std::size_t i = 0; i < value.Data.size(); ++i) {
    line += HexByte(static_cast<unsigned char>(value.Data[i]));
    if (i + 1 == value.Data.size()) break;
    line += ",";
    if (line.size() >= kHexLineBreak) {
      out += line + "\\" + eol;
      line = "  ";
    }
  }
  return out + line + eol;
}

}  // namespace

bool SameRegistryName(const Text& a, const Text& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

bool IsWritableValueName(const Text& name) { return !HasLineBreakOrNul(name); }

bool IsWritableKeyPath(const Text& path) {
  if (path.empty() || HasLineBreakOrNul(path)) return false;
  if (path.front() == '\\' || path.back() == '\\') return false;
  return path.find("\\\\") == Text::npos;
}

RegistryFile RegistryFile::Parse(const Text& content, const Text& fileName) {
  RegistryFile file;
  if (content.empty()) return file;
  std::size_t start = 0;
  if (content.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    file.ByteOrderMark = true;
    start = 3;
  } else if (content.compare(0, 2, "\xFF\xFE") == 0 || content.compare(0, 2, "\xFE\xFF") == 0) {
    throw Error("Registry file \"" + fileName +
                "\", line 1: the file is UTF-16 text; save it as UTF-8");
  }
  Parser parser(SplitLines(content, start, file.CrLf), fileName);
  parser.Run(file);
  return file;
}

Text RegistryFile::Write() const {
  const Text eol = CrLf ? "\r\n" : "\n";
  Text out = ByteOrderMark ? "\xEF\xBB\xBF" : "";
  out += Text(kRegistryFileHeader) + eol;
  for (const RegistrySection& key : Keys) {
    out += eol;
    for (const Text& comment : key.Comments) out += comment + eol;
    out += "[" + key.Path + "]" + eol;
    for (const RegistryValue& value : key.Values) {
      for (const Text& comment : value.Comments) out += comment + eol;
      out += WriteValue(value, eol);
    }
  }
  if (!TrailingComments.empty()) {
    out += eol;
    for (const Text& comment : TrailingComments) out += comment + eol;
  }
  return out;
}

bool RegistryFile::KeyExists(const Text& path) const {
  for (const RegistrySection& key : Keys) {
    if (key.Path.size() < path.size()) continue;
    if (key.Path.size() > path.size() && key.Path[path.size()] != '\\') continue;
    if (SameRegistryName(key.Path.substr(0, path.size()), path)) return true;
  }
  return false;
}

const RegistryValue* RegistryFile::FindValue(const Text& path, const Text& name) const {
  const RegistryValue* found = nullptr;
  for (const RegistrySection& key : Keys) {
    if (!SameRegistryName(key.Path, path)) continue;
    for (const RegistryValue& value : key.Values) {
      if (SameRegistryName(value.Name, name)) found = &value;
    }
  }
  return found;
}

void RegistryFile::AddKey(const Text& path) {
  for (const RegistrySection& key : Keys) {
    if (SameRegistryName(key.Path, path)) return;
  }
  Keys.push_back(RegistrySection{path, {}, {}});
}

void RegistryFile::SetValue(const Text& path, const Text& name, std::uint32_t type,
                            const Text& data) {
  RegistryValue* found = nullptr;
  RegistrySection* lastSection = nullptr;
  for (RegistrySection& key : Keys) {
    if (!SameRegistryName(key.Path, path)) continue;
    lastSection = &key;
    for (RegistryValue& value : key.Values) {
      if (SameRegistryName(value.Name, name)) found = &value;
    }
  }
  if (found != nullptr) {
    found->Type = type;
    found->Data = data;
    return;
  }
  if (lastSection == nullptr) {
    Keys.push_back(RegistrySection{path, {}, {}});
    lastSection = &Keys.back();
  }
  lastSection->Values.push_back(RegistryValue{name, type, data, {}});
}

Text Utf16LeToUtf8(const Text& data) {
  auto unit = [&data](std::size_t i) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(data[i]) |
                                      (static_cast<unsigned char>(data[i + 1]) << 8));
  };
  Text out;
  // i + 1 < size guards every unit read; a surrogate pair also checks i + 3.
  for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
    std::uint32_t code = unit(i);
    if (code >= 0xD800 && code <= 0xDBFF && i + 3 < data.size() && unit(i + 2) >= 0xDC00 &&
        unit(i + 2) <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
      i += 2;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;
    }
    if (code < 0x80) {
      out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (code >> 6)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (code >> 12)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (code >> 18)));
      out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  return out;
}

}  // namespace quillane
