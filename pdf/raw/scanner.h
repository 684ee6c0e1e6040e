// Byte-level scanners over the run's file, for the reading of the last
// trailer and the image walk, which walk bytes as specified: integers,
// tokens, the integer value of a dictionary key, and the header line (number,
// generation, "obj") of the object that encloses a position. This is not a
// parser: each scanner moves a position over raw bytes (ISO 32000-1, 7.2
// Lexical conventions, with the byte classes of base/byte_classes.h) and
// leaves it where it stopped. The document's objects are read by the lexer
// (pdf/syntax) instead.
#ifndef QUILLANE_PDF_RAW_SCANNER_H_
#define QUILLANE_PDF_RAW_SCANNER_H_

#include <cstdint>

#include "base/byte_classes.h"
#include "base/log_hook.h"
#include "base/text.h"
#include "fileaccess/fileaccess.h"
#include "pdf/syntax/object_key.h"

namespace quillane {

// Where a header line was found by FindObjectKeyBefore.
struct ObjectHeader {
  ObjectKey Key = kNoObject;
  // Position of the "o" of the header's "obj" keyword, -1 when none was found.
  Position Keyword = -1;
};

class Scanner {
 public:
  // Both must outlive the scanner.
  Scanner(const FileAccess& source, const LogHook& log);

  // Skips every byte up to the first decimal digit (signs included, so a
  // value is never negative) and converts the run of digits that follows;
  // `p` is left on the first byte after it. Throws "'<digits>' is not a valid
  // integer value" when no digit is found before the end of the data or the
  // digits do not fit 32 bits.
  std::int32_t ReadInteger(Position& p) const;

  // Skips white space and returns the bytes up to the next white space or
  // delimiter; `p` is left on that byte. A token that would begin with a
  // delimiter is empty and `p` stays on the delimiter.
  Text ReadToken(Position& p) const;

  // REQUIRES: `p` is at the "<<" that opens the dictionary. Looks for the name
  // `key` at any depth of the dictionary; when found, sets `value` to the
  // first integer after it, leaves `p` just behind that integer and returns
  // true. Otherwise returns false with `value` unchanged, after logging
  // "reached dict end @ <p>" when the dictionary's closing ">>" was reached.
  bool FindKeyValue(const Text& key, std::int32_t& value, Position& p) const;

  // Walks back from `p`, at most 500 bytes, to the header line "N G obj" of
  // the object that encloses `p`; the line must start after a CR or LF and
  // hold at most 50 bytes before "obj". Logs "obj@" and "Number: " lines.
  // The key is kNoObject when no such header is found, when its number or
  // generation is not a non-negative 32-bit integer, or when the generation
  // is 100000 or more (the key could not hold it).
  ObjectHeader FindObjectKeyBefore(Position p) const;

  void Log(const Text& line) const;
  bool Logging() const { return static_cast<bool>(log_); }

 private:
  const FileAccess& source_;
  const LogHook& log_;
};

}  // namespace quillane

#endif  // QUILLANE_PDF_RAW_SCANNER_H_
