#include "pdf/trailer.h"

#include <algorithm>
#include <optional>

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
// as ReadInteger reads it, with `p` left behind it. A file without such digits,
// or with more than fit, is no PDF that can be updated; an empty file, where
// `p` is -1, has none.
std::int32_t ReadStartxrefOffset(const FileAccess& source, Position& p) {
  const Position size = source.Size();
  Position start = std::max<Position>(p, 0);
  while (start < size && !IsDigit(source.ByteAt(start))) ++start;
  Position end = start;
  while (end < size && IsDigit(source.ByteAt(end))) ++end;
  const std::optional<std::int32_t> offset =
      start < end ? TryTextToInt(source.Substring(start, end)) : std::nullopt;
  if (!offset) throw Error(kNoStartxrefOffset);
  p = end;
  return *offset;
}

// First position in [from, to) where `needle` starts and ends inside the
// range, or `to` when there is none.
Position FindBytes(const FileAccess& source, std::string_view needle, Position from, Position to) {
  const std::string_view loaded = source.LoadedBytes();
  if (from >= to) return to;
  if (static_cast<Position>(loaded.size()) == source.Size()) {
    const std::string_view range =
        loaded.substr(static_cast<std::size_t>(from), static_cast<std::size_t>(to - from));
    const std::size_t hit = range.find(needle);
    return hit == std::string_view::npos ? to : from + static_cast<Position>(hit);
  }
  const auto length = static_cast<Position>(needle.size());
  for (Position p = from; p + length <= to; ++p) {
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
  values.previousSectionOffset = ReadStartxrefOffset(source, p);

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

  // Without /Size and /Root the new trailer could not be written
  // (ISO 32000-1, 7.5.5, Table 15: both are required).
  Position sizeAt = dictionary;
  if (!scanner.FindKeyValue("Size", values.trailerSize, sizeAt)) throw Error(kNoSize);

  std::int32_t encrypt = -1;
  Position encryptAt = dictionary;
  scanner.FindKeyValue("Encrypt", encrypt, encryptAt);
  if (encrypt != -1) {
    if (scanner.Logging()) scanner.Log("Encrypt obj: " + IntToText(encrypt));
    values.encrypted = true;
    return values;
  }

  std::int32_t root = 0;
  if (!scanner.FindKeyValue("Root", root, p)) throw Error(kNoRoot);
  Text token;
  values.rootReference = ReadReference(scanner, root, p, token);
  if (token != "R") throw Error(kNoRoot);

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
