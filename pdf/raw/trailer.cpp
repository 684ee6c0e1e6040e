#include "pdf/raw/trailer.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "base/checked_number.h"
#include "base/error.h"

namespace quillane {

namespace {

// "startxref" is followed by the offset and "%%EOF", so its final "f" lies
// within the last 99 bytes of a well-formed file (ISO 32000-1, 7.5.5).
constexpr Position kEndMarkerWindow = 100;

constexpr char kNoStartxrefOffset[] =
    "No startxref offset found at the end of the file; it is not a PDF file or it is damaged.";
constexpr char kNoSize[] = "The trailer has no /Size entry; the file may be damaged.";
constexpr char kNoRoot[] = "The trailer has no /Root reference; the file may be damaged.";

// The offset after "startxref": the first run of digits at or after `p`, read
// as ReadInteger reads it, with `p` left behind it. Any value that fits 32
// bits is taken, as it always was; a larger one only when it names a byte of
// the file (a file of 2 GiB or more). A file without such digits, or with more
// than that, is no PDF that can be updated; an empty file, where `p` is -1,
// has none.
Position ReadStartxrefOffset(const FileAccess& source, Position& p) {
  const Position size = source.Size();
  const Position limit = std::max<Position>(std::numeric_limits<std::int32_t>::max(), size - 1);
  Position start = std::max<Position>(p, 0);
  while (start < size && !IsDigit(source.ByteAt(start))) ++start;
  Position end = start;
  Position value = 0;
  bool fits = true;
  // Checked before each step, so any number of digits is safe.
  for (; end < size && IsDigit(source.ByteAt(end)); ++end) {
    if (fits) fits = AddDecimalDigit(value, source.ByteAt(end) - '0', limit);
  }
  if (start == end || !fits) throw CrossReferenceNotFound(kNoStartxrefOffset);
  p = end;
  return value;
}

// First position in [from, to) where `needle` starts and ends inside the
// range, or `to` when there is none. The loaded bytes are searched view by
// view, each new view starting where the needle could still begin.
Position FindBytes(const FileAccess& source, std::string_view needle, Position from, Position to) {
  const auto length = static_cast<Position>(needle.size());
  Position p = from;
  while (p + length <= to) {
    const std::string_view view = source.LoadedBytesFrom(p);
    if (static_cast<Position>(view.size()) < length) break;
    const std::string_view range = view.substr(0, static_cast<std::size_t>(to - p));
    const std::size_t hit = range.find(needle);
    if (hit != std::string_view::npos) return p + static_cast<Position>(hit);
    p += static_cast<Position>(range.size()) - length + 1;
  }
  // The last bytes of the loaded file and those appended after them.
  for (; p + length <= to; ++p) {
    if (source.Substring(p, p + length) == needle) return p;
  }
  return to;
}

bool IsAllDigits(const Text& token) {
  if (token.empty()) return false;
  for (const char c : token) {
    if (!IsDigit(c)) return false;
  }
  return true;
}

// Comments are skipped like white space where the section should start, so
// a "%" line written there does not hide the "xref" keyword or object number.
void SkipWhiteSpaceAndComments(const FileAccess& source, Position& p) {
  while (p < source.Size()) {
    const std::uint8_t c = source.ByteAt(p);
    if (IsWhiteSpace(c)) {
      ++p;
    } else if (c == '%') {
      while (p < source.Size() && source.ByteAt(p) != '\r' && source.ByteAt(p) != '\n') ++p;
    } else {
      break;
    }
  }
}

// A cross-reference stream is an object whose dictionary, before its
// "stream" keyword, holds /Type /XRef (ISO 32000-1, 7.5.8.2).
bool IsCrossReferenceStream(const FileAccess& source, Position offset) {
  const Position size = source.Size();
  const Position limit = std::min(FindBytes(source, "stream", offset, size),
                                  FindBytes(source, "endobj", offset, size));
  return FindBytes(source, "/XRef", offset, limit) != limit;
}

// Number, blank, generation, blank, token: the reference as written after a
// key whose object number the lookup has just read. `token` receives the
// final token (normally "R").
Text ReadReference(const Scanner& scanner, std::int32_t number, Position& p, Text& token) {
  Text reference = IntToText(number) + " ";
  reference += IntToText(scanner.ReadInteger(p)) + " ";
  token = scanner.ReadToken(p);
  return reference + token;
}

}  // namespace

TrailerValues ReadTrailer(const FileAccess& source, const LogHook& log) {
  const Scanner scanner(source, log);
  TrailerValues values;
  const Position size = source.Size();

  Position p = size - 1;
  while (p > 0 && p > size - kEndMarkerWindow) {
    if (source.ByteAt(p) == 'f') break;
    --p;
  }
  if (scanner.Logging()) scanner.Log("(startxre)f @ " + IntToText(p));
  values.PreviousSectionOffset = ReadStartxrefOffset(source, p);

  p = values.PreviousSectionOffset;
  SkipWhiteSpaceAndComments(source, p);
  const Text header = scanner.ReadToken(p);
  if (scanner.Logging()) scanner.Log("xref header: '" + header + "'");
  if (header == "xref") {
    values.LastSectionIsStream = false;
  } else if (IsAllDigits(header) && IsCrossReferenceStream(source, values.PreviousSectionOffset)) {
    values.LastSectionIsStream = true;
  } else {
    throw CrossReferenceNotFound("No cross-reference section found at offset " +
                                 IntToText(values.PreviousSectionOffset) +
                                 "; the file may be damaged.");
  }

  // The trailer dictionary follows the table's entries; a stream's own
  // dictionary follows its header line.
  while (p < size && source.ByteAt(p) != '<') ++p;
  const Position dictionary = p;

  // Without /Size and /Root the new trailer could not be written
  // (ISO 32000-1, 7.5.5, Table 15: both are required).
  Position sizeAt = dictionary;
  if (!scanner.FindKeyValue("Size", values.TrailerSize, sizeAt)) throw Error(kNoSize);

  std::int32_t encrypt = -1;
  Position encryptAt = dictionary;
  scanner.FindKeyValue("Encrypt", encrypt, encryptAt);
  if (encrypt != -1) {
    if (scanner.Logging()) scanner.Log("Encrypt obj: " + IntToText(encrypt));
    values.Encrypted = true;
    return values;
  }

  std::int32_t root = 0;
  if (!scanner.FindKeyValue("Root", root, p)) throw Error(kNoRoot);
  Text token;
  values.RootReference = ReadReference(scanner, root, p, token);
  if (token != "R") throw Error(kNoRoot);

  // The update repeats the document information of the previous trailer
  // (ISO 32000-1, 7.5.6), so readers keep title and author.
  std::int32_t info = -1;
  Position infoAt = dictionary;
  if (scanner.FindKeyValue("Info", info, infoAt)) {
    Text reference = ReadReference(scanner, info, infoAt, token);
    if (token == "R") values.InfoReference = std::move(reference);
  }
  return values;
}

}  // namespace quillane
