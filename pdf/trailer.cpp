#include "pdf/trailer.h"

#include <algorithm>

#include "base/error.h"

namespace quillane {

namespace {

// "startxref" is followed by the offset and "%%EOF", so its final "f" lies
// within the last 99 bytes of a well-formed file (ISO 32000-1, 7.5.5).
constexpr Position kEndMarkerWindow = 100;

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
    if (!IsDigit(static_cast<std::uint8_t>(c))) return false;
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
  values.previousSectionOffset = scanner.ReadOffset(p);

  p = values.previousSectionOffset;
  SkipWhiteSpaceAndComments(source, p);
  const Text header = scanner.ReadToken(p);
  if (scanner.Logging()) scanner.Log("xref header: '" + header + "'");
  if (header == "xref") {
    values.lastSectionIsStream = false;
  } else if (IsAllDigits(header) && IsCrossReferenceStream(source, values.previousSectionOffset)) {
    values.lastSectionIsStream = true;
  } else {
    throw Error("No cross-reference section found at offset " +
                IntToText(values.previousSectionOffset) + "; the file may be damaged.");
  }

  // The trailer dictionary follows the table's entries; a stream's own
  // dictionary follows its header line.
  while (p < size && source.ByteAt(p) != '<') ++p;
  const Position dictionary = p;

  Position sizeAt = dictionary;
  scanner.FindKeyValue("Size", values.trailerSize, sizeAt);

  std::int32_t encrypt = -1;
  Position encryptAt = dictionary;
  scanner.FindKeyValue("Encrypt", encrypt, encryptAt);
  if (encrypt != -1) {
    if (scanner.Logging()) scanner.Log("Encrypt obj: " + IntToText(encrypt));
    values.encrypted = true;
    return values;
  }

  std::int32_t root = 0;
  scanner.FindKeyValue("Root", root, p);
  Text token;
  values.rootReference = ReadReference(scanner, root, p, token);

  // The update repeats the document information of the previous trailer
  // (ISO 32000-1, 7.5.6), so readers keep title and author.
  std::int32_t info = -1;
  Position infoAt = dictionary;
  if (scanner.FindKeyValue("Info", info, infoAt)) {
    Text reference = ReadReference(scanner, info, infoAt, token);
    if (token == "R") values.infoReference = std::move(reference);
  }
  return values;
}

}  // namespace quillane
