// The properties the fuzz targets check on every input, shared with the test
// that replays the saved findings (tests/fuzz_regressions_test.cpp), so a
// finding fails the ordinary test suite exactly as it failed the fuzzer.
// Each check returns an empty text when every property holds, otherwise a
// description of the first one that does not. Header-only so that both the
// fuzz build and the test build compile it without another library.
#ifndef QUILLANE_FUZZ_FUZZ_CHECKS_H_
#define QUILLANE_FUZZ_FUZZ_CHECKS_H_

#include <algorithm>
#include <cstdint>
#include <exception>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <zlib.h>

#include "app/damaged_file.h"
#include "app/template_files.h"
#include "base/error.h"
#include "pdf/raw/image_walk.h"
#include "pdf/raw/trailer.h"
#include "pdf/update/repairing_update.h"
#include "pdf/update/update_writer.h"
#include "platform/command_line.h"
#include "platform/posix/desktop_entry.h"
#include "platform/posix/registry_file.h"
#include "support/memory_file_access.h"

namespace quillane::fuzz {

using test::MemoryFileAccess;

namespace detail {

inline bool HasPrefix(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

inline bool HasSuffix(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

inline bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// A reader over the appended update that either matches what it expects or
// remembers the first mismatch.
class UpdateReader {
 public:
  UpdateReader(std::string_view output, std::size_t position) : text_(output), pos_(position) {}

  bool Ok() const { return failure_.empty(); }
  const std::string& Failure() const { return failure_; }
  std::size_t Pos() const { return pos_; }
  bool At(std::string_view literal) const { return text_.substr(pos_, literal.size()) == literal; }

  void Expect(std::string_view literal) {
    if (!Ok()) return;
    if (!At(literal)) return Fail("expected \"" + std::string(literal) + "\"");
    pos_ += literal.size();
  }

  // An optional "-" and up to 18 decimal digits.
  std::int64_t Number() {
    if (!Ok()) return 0;
    bool negative = false;
    if (At("-")) {
      negative = true;
      ++pos_;
    }
    std::int64_t value = 0;
    std::size_t digits = 0;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9' && digits < 18) {
      value = value * 10 + (text_[pos_] - '0');
      ++pos_;
      ++digits;
    }
    if (digits == 0) Fail("expected a number");
    return negative ? -value : value;
  }

  // Exactly `width` digits.
  std::int64_t FixedNumber(std::size_t width) {
    if (!Ok()) return 0;
    const std::string_view digits = text_.substr(pos_, width);
    if (digits.size() != width || !AllDigits(digits)) {
      Fail("expected " + std::to_string(width) + " digits");
      return 0;
    }
    pos_ += width;
    return std::stoll(std::string(digits));
  }

  // The rest of the line, up to (not including) its CR LF, which is consumed.
  std::string_view Line() {
    if (!Ok()) return {};
    const std::size_t end = text_.find("\r\n", pos_);
    if (end == std::string_view::npos) {
      Fail("expected a line end");
      return {};
    }
    const std::string_view line = text_.substr(pos_, end - pos_);
    pos_ = end + 2;
    return line;
  }

  std::string_view Bytes(std::size_t count) {
    if (!Ok()) return {};
    if (text_.size() - pos_ < count) {
      Fail("expected " + std::to_string(count) + " more bytes");
      return {};
    }
    const std::string_view bytes = text_.substr(pos_, count);
    pos_ += count;
    return bytes;
  }

  void Fail(const std::string& what) {
    if (Ok()) failure_ = what + " at output offset " + std::to_string(pos_);
  }

 private:
  std::string_view text_;
  std::size_t pos_;
  std::string failure_;
};

// One cross-reference entry as written in the update.
struct WrittenEntry {
  std::int64_t number = 0;
  std::int64_t generation = 0;
  std::int64_t offset = 0;
  bool inUse = true;
};

// True when the object header "<number> <generation> obj" starts at `offset`.
inline bool HeaderAt(std::string_view output, std::int64_t offset, std::int64_t number,
                     std::int64_t generation) {
  if (offset < 0 || static_cast<std::uint64_t>(offset) >= output.size()) return false;
  const std::string header = std::to_string(number) + " " + std::to_string(generation) + " obj";
  return output.substr(static_cast<std::size_t>(offset), header.size()) == header;
}

// Reads the table form at the reader's position, up to and including the
// trailer dictionary.
inline std::vector<WrittenEntry> ReadTable(UpdateReader& in, std::int64_t& size) {
  std::vector<WrittenEntry> entries;
  in.Expect("xref\r\n");
  while (in.Ok() && !in.At("trailer\r\n")) {
    WrittenEntry entry;
    entry.number = in.Number();
    in.Expect(" 1\r\n");
    entry.offset = in.FixedNumber(10);
    in.Expect(" ");
    entry.generation = in.FixedNumber(5);
    if (in.At(" f\r\n")) {
      entry.inUse = false;
      in.Expect(" f\r\n");
    } else {
      in.Expect(" n\r\n");
    }
    entries.push_back(entry);
  }
  in.Expect("trailer\r\n<<\r\n/Prev ");
  in.Number();
  in.Expect("\r\n/Root ");
  in.Line();
  in.Expect("/Size ");
  size = in.Number();
  in.Expect("\r\n");
  if (in.At("/Info ")) in.Line();
  in.Expect(">>\r\n");
  return entries;
}

// Reads the stream form at the reader's position, up to and including
// "endobj". The last entry is the stream's own row.
inline std::vector<WrittenEntry> ReadStream(UpdateReader& in, std::int64_t streamNumber,
                                            std::int64_t& size) {
  in.Expect(std::to_string(streamNumber) + " 0 obj\r\n<<\r\n/Type/XRef\r\n/W[1 4 2]\r\n/Root ");
  in.Line();
  in.Expect("/Prev ");
  in.Number();
  in.Expect("\r\n/Length ");
  const std::int64_t length = in.Number();
  in.Expect("\r\n/Size ");
  size = in.Number();
  in.Expect("\r\n/Index [");
  std::vector<WrittenEntry> entries;
  while (in.Ok() && !in.At("]")) {
    if (!entries.empty()) in.Expect(" ");
    WrittenEntry entry;
    entry.number = in.Number();
    in.Expect(" 1");
    entries.push_back(entry);
  }
  in.Expect("]\r\n");
  if (in.At("/Info ")) in.Line();
  in.Expect(">>\r\nstream\r\n");
  if (!in.Ok()) return entries;
  if (length != 7 * static_cast<std::int64_t>(entries.size())) {
    in.Fail("/Length " + std::to_string(length) + " for " + std::to_string(entries.size()) +
            " /Index pairs");
    return entries;
  }
  for (WrittenEntry& entry : entries) {
    const std::string_view row = in.Bytes(7);
    if (!in.Ok()) break;
    const auto byte = [&row](std::size_t i) { return static_cast<std::uint8_t>(row[i]); };
    if (byte(0) != 1) in.Fail("a stream row whose type is not 1");
    entry.offset = (std::int64_t{byte(1)} << 24) | (byte(2) << 16) | (byte(3) << 8) | byte(4);
    entry.generation = (byte(5) << 8) | byte(6);
  }
  in.Expect("endstream\r\nendobj\r\n");
  return entries;
}

inline std::string Describe(const std::vector<WrittenEntry>& entries) {
  std::string text;
  for (const WrittenEntry& e : entries) {
    text += " " + std::to_string(e.number) + " " + std::to_string(e.generation) + "@" +
            std::to_string(e.offset) + (e.inUse ? "" : "f");
  }
  return text.empty() ? " (none)" : text;
}

// The messages a run may end with on a damaged input.
inline bool IsExpectedRunError(std::string_view message) {
  if (message == "IndexOutOfBounds") return true;
  if (HasPrefix(message, "'") && HasSuffix(message, "' is not a valid integer value")) return true;
  constexpr std::string_view kNoSection = "No cross-reference section found at offset ";
  constexpr std::string_view kDamaged = "; the file may be damaged.";
  if (HasPrefix(message, kNoSection) && HasSuffix(message, kDamaged)) {
    return AllDigits(
        message.substr(kNoSection.size(), message.size() - kNoSection.size() - kDamaged.size()));
  }
  return message == "The output would be too large for a cross-reference table (10 GB or more)." ||
         message ==
             "No startxref offset found at the end of the file; it is not a PDF file or it is "
             "damaged." ||
         message == "The trailer has no /Size entry; the file may be damaged." ||
         message == "The trailer has no /Root reference; the file may be damaged.";
}

// The light mode: same length, and every changed byte lies in a five-byte run
// that read "Image" and now reads "Vexlo"; one run per logged hit.
inline std::string CheckRenamedInPlace(std::string_view input, std::string_view output,
                                       std::size_t hitsLogged) {
  if (output.size() != input.size()) {
    return "light mode changed the length from " + std::to_string(input.size()) + " to " +
           std::to_string(output.size());
  }
  std::size_t renamed = 0;
  for (std::size_t i = 0; i < input.size(); ++i) {
    if (input[i] == output[i]) continue;
    if (input.substr(i, 5) != "Image" || output.substr(i, 5) != "Vexlo") {
      return "light mode changed byte " + std::to_string(i) + " outside an Image name";
    }
    ++renamed;
    i += 4;
  }
  if (renamed != hitsLogged) {
    return "light mode renamed " + std::to_string(renamed) + " names but logged " +
           std::to_string(hitsLogged) + " hits";
  }
  return {};
}

// The default modes: the input unchanged, then one update whose end block
// points at its cross-reference section and whose entries, in order, are the
// recorded images and the extra object, each pointing at its own header.
inline std::string CheckAppendedUpdate(std::string_view input, std::string_view output,
                                       const std::vector<ObjectKey>& imageKeys,
                                       const TrailerValues& trailer, ReplaceMode mode) {
  if (output.size() <= input.size() || output.substr(0, input.size()) != input) {
    return "the output does not start with the input's bytes";
  }
  // The end block: "startxref", the section position, "%%EOF", each with CR LF.
  constexpr std::string_view kEnd = "\r\n%%EOF\r\n";
  const std::size_t startxref = output.rfind("startxref\r\n");
  if (!HasSuffix(output, kEnd) || startxref == std::string_view::npos || startxref < input.size()) {
    return "the update does not end with startxref, a position and %%EOF";
  }
  const std::string_view digits =
      output.substr(startxref + 11, output.size() - kEnd.size() - startxref - 11);
  if (!AllDigits(digits) || digits.size() > 12) return "the last startxref value is not a number";
  const auto section = static_cast<std::size_t>(std::stoll(std::string(digits)));
  if (section < input.size() || section >= startxref) {
    return "the last startxref value " + std::to_string(section) + " lies outside the update";
  }

  // What must be written: the images in order, then the extra object, whose
  // number is 9999 unless the update's first free number lies beyond it.
  std::vector<WrittenEntry> expected;
  for (const ObjectKey key : imageKeys) {
    // A header with a negative number or generation ("7 -5 obj") gives a key
    // that decodes to another object; such an update is written as the key
    // says, and only the end block above is checked.
    if (ObjectNumber(key) < 0 || ObjectGeneration(key) < 0) return {};
    expected.push_back({ObjectNumber(key), ObjectGeneration(key), 0, true});
  }
  const std::int64_t streamNumber = trailer.TrailerSize;
  std::optional<std::int64_t> extraNumber;
  if (HasExtraObject(mode)) {
    const std::int64_t firstFree = streamNumber + (trailer.LastSectionIsStream ? 1 : 0);
    extraNumber = firstFree > 9999 ? firstFree : 9999;
    expected.push_back({*extraNumber, 1, 0, true});
  }

  UpdateReader in(output, section);
  std::int64_t size = 0;
  std::vector<WrittenEntry> written;
  if (trailer.LastSectionIsStream) {
    written = ReadStream(in, streamNumber, size);
    expected.push_back({streamNumber, 0, 0, true});
  } else {
    written = ReadTable(in, size);
    if (expected.empty()) expected.push_back({0, 65535, 0, false});
  }
  if (!in.Ok()) return "unreadable cross-reference section: " + in.Failure();
  if (in.Pos() != startxref) return "bytes between the cross-reference section and startxref";

  if (written.size() != expected.size()) {
    return "entries written:" + Describe(written) + "; expected:" + Describe(expected);
  }
  for (std::size_t i = 0; i < written.size(); ++i) {
    const WrittenEntry& w = written[i];
    const WrittenEntry& e = expected[i];
    // A stream row holds the generation in 16 bits.
    const std::int64_t generation =
        trailer.LastSectionIsStream ? (e.generation & 0xFFFF) : e.generation;
    if (w.number != e.number || w.generation != generation || w.inUse != e.inUse) {
      return "entry " + std::to_string(i) + " is" + Describe({w}) + ", expected" + Describe({e});
    }
    if (!w.inUse) continue;
    if (w.offset < static_cast<std::int64_t>(input.size()) ||
        !HeaderAt(output, w.offset, w.number, e.generation)) {
      return "entry" + Describe({w}) + " does not point at its object header";
    }
  }
  if (trailer.LastSectionIsStream && written.back().offset != static_cast<std::int64_t>(section)) {
    return "the stream's own row does not point at the section";
  }
  if (trailer.LastSectionIsStream && size <= streamNumber) {
    return "/Size " + std::to_string(size) + " does not cover the stream object";
  }
  if (extraNumber && size <= *extraNumber) {
    return "/Size " + std::to_string(size) + " does not cover the extra object " +
           std::to_string(*extraNumber);
  }
  return {};
}

// One in-use or compressed entry of a complete section, as read back.
struct CompleteEntry {
  std::int64_t number = 0;
  int type = 1;             // 0 free, 1 at an offset, 2 in an object stream
  std::int64_t second = 0;  // the offset, or the object stream's number
  std::int64_t third = 0;   // the generation, or the index
};

// True when a header "<number> <generation> obj" starts at `offset`, with
// any white space between its parts and leading zeros in its numbers, as
// the rebuilt table takes them from the file.
inline bool HeaderInFileAt(std::string_view output, std::int64_t offset, std::int64_t number,
                           std::int64_t generation) {
  if (offset < 0 || static_cast<std::uint64_t>(offset) >= output.size()) return false;
  std::size_t p = static_cast<std::size_t>(offset);
  const auto white = [&output, &p] {
    const std::size_t start = p;
    while (p < output.size() &&
           std::string_view(" \t\r\n\f\0", 6).find(output[p]) != std::string_view::npos) {
      ++p;
    }
    return p > start;
  };
  const auto value = [&output, &p](std::int64_t& result) {
    const std::size_t start = p;
    result = 0;
    while (p < output.size() && p - start < 12 && output[p] >= '0' && output[p] <= '9') {
      result = result * 10 + (output[p++] - '0');
    }
    return p > start;
  };
  std::int64_t readNumber = 0;
  std::int64_t readGeneration = 0;
  if (!value(readNumber) || !white() || !value(readGeneration) || !white()) return false;
  return readNumber == number && readGeneration == generation && output.substr(p, 3) == "obj";
}

// Reads a complete table ("xref", subsections, "trailer", a dictionary
// without /Prev) at the reader's position, up to and including ">>".
inline std::vector<CompleteEntry> ReadCompleteTable(UpdateReader& in, std::int64_t& size,
                                                    std::size_t limit) {
  std::vector<CompleteEntry> entries;
  in.Expect("xref\r\n");
  while (in.Ok() && !in.At("trailer\r\n")) {
    const std::int64_t first = in.Number();
    in.Expect(" ");
    const std::int64_t count = in.Number();
    in.Expect("\r\n");
    if (count < 1 || static_cast<std::size_t>(count) > limit) in.Fail("a subsection count");
    for (std::int64_t i = 0; in.Ok() && i < count; ++i) {
      CompleteEntry entry;
      entry.number = first + i;
      entry.second = in.FixedNumber(10);
      in.Expect(" ");
      entry.third = in.FixedNumber(5);
      entry.type = in.At(" f\r\n") ? 0 : 1;
      in.Expect(entry.type == 0 ? " f\r\n" : " n\r\n");
      entries.push_back(entry);
    }
  }
  in.Expect("trailer\r\n<<\r\n/Size ");
  size = in.Number();
  in.Expect("\r\n");
  while (in.Ok() && !in.At(">>\r\n")) {
    if (in.At("/Prev")) in.Fail("a /Prev in a complete section");
    in.Line();
  }
  in.Expect(">>\r\n");
  return entries;
}

// Reads a complete cross-reference stream object at the reader's position,
// up to and including "endobj", its rows inflated.
inline std::vector<CompleteEntry> ReadCompleteStream(UpdateReader& in, std::int64_t& number,
                                                     std::int64_t& size, std::size_t limit) {
  std::vector<CompleteEntry> entries;
  number = in.Number();
  in.Expect(" 0 obj\r\n<<\r\n/Type/XRef\r\n/Size ");
  size = in.Number();
  in.Expect("\r\n/Index [");
  std::vector<std::pair<std::int64_t, std::int64_t>> runs;
  std::int64_t rows = 0;
  while (in.Ok() && !in.At("]")) {
    if (!runs.empty()) in.Expect(" ");
    const std::int64_t first = in.Number();
    in.Expect(" ");
    const std::int64_t count = in.Number();
    rows += count;
    if (count < 1 || static_cast<std::size_t>(rows) > limit) in.Fail("an /Index count");
    runs.emplace_back(first, count);
  }
  in.Expect("]\r\n/W[1 ");
  const std::int64_t second = in.Number();
  in.Expect(" ");
  const std::int64_t third = in.Number();
  in.Expect("]\r\n");
  if (second < 1 || second > 8 || third < 1 || third > 8) in.Fail("field widths");
  while (in.Ok() && !in.At("/Filter/FlateDecode\r\n")) {
    if (in.At("/Prev")) in.Fail("a /Prev in a complete section");
    in.Line();
  }
  in.Expect("/Filter/FlateDecode\r\n/Length ");
  const std::int64_t length = in.Number();
  in.Expect("\r\n>>\r\nstream\r\n");
  if (!in.Ok() || length < 0) return entries;
  const std::string_view data = in.Bytes(static_cast<std::size_t>(length));
  in.Expect("\r\nendstream\r\nendobj\r\n");
  if (!in.Ok()) return entries;
  const auto width = static_cast<std::size_t>(1 + second + third);
  std::string inflated(static_cast<std::size_t>(rows) * width + 1, '\0');
  uLongf inflatedSize = inflated.size();
  if (uncompress(reinterpret_cast<Bytef*>(inflated.data()), &inflatedSize,
                 reinterpret_cast<const Bytef*>(data.data()), data.size()) != Z_OK ||
      inflatedSize != static_cast<uLongf>(rows) * width) {
    in.Fail("stream rows that do not inflate to " + std::to_string(rows) + " rows");
    return entries;
  }
  std::size_t at = 0;
  const auto field = [&inflated, &at](std::int64_t bytes) {
    std::int64_t value = 0;
    for (std::int64_t i = 0; i < bytes; ++i) {
      value = (value << 8) | static_cast<std::uint8_t>(inflated[at++]);
    }
    return value;
  };
  for (const auto& [first, count] : runs) {
    for (std::int64_t i = 0; i < count; ++i) {
      CompleteEntry entry;
      entry.number = first + i;
      entry.type = static_cast<int>(field(1));
      entry.second = field(second);
      entry.third = field(third);
      entries.push_back(entry);
    }
  }
  return entries;
}

// The repairing update of a damaged input: the input unchanged, then one
// update whose end block points at a complete section without /Prev, whose
// offsets count from the header: object 0 free; every object the rebuilt
// table found listed, each in-use entry at its own "N G obj" header; the
// images and the extra object at new versions after the input; objects in
// object streams only in a stream, naming a listed object; /Size above every
// number and within 32 bits; as many in use as the run reported.
inline std::string CheckRepairingUpdate(std::string_view input, std::string_view output,
                                        const std::vector<ObjectKey>& imageKeys,
                                        const FoundObjects& found, ReplaceMode mode,
                                        std::int64_t listed) {
  if (output.size() <= input.size() || output.substr(0, input.size()) != input) {
    return "the output does not start with the input's bytes";
  }
  constexpr std::string_view kEnd = "\r\n%%EOF\r\n";
  const std::size_t startxref = output.rfind("startxref\r\n");
  if (!HasSuffix(output, kEnd) || startxref == std::string_view::npos || startxref < input.size()) {
    return "the repairing update does not end with startxref, a position and %%EOF";
  }
  const std::string_view digits =
      output.substr(startxref + 11, output.size() - kEnd.size() - startxref - 11);
  if (!AllDigits(digits) || digits.size() > 12) return "the last startxref value is not a number";
  const auto base = static_cast<std::size_t>(found.OffsetBase);
  const auto section = static_cast<std::size_t>(std::stoll(std::string(digits))) + base;
  if (section < input.size() || section >= startxref) {
    return "the last startxref value " + std::string(digits) + " lies outside the update";
  }
  UpdateReader in(output, section);
  std::int64_t size = 0;
  std::int64_t streamNumber = -1;
  const bool stream = !in.At("xref\r\n");
  const std::vector<CompleteEntry> entries =
      stream ? ReadCompleteStream(in, streamNumber, size, output.size())
             : ReadCompleteTable(in, size, output.size());
  if (!in.Ok()) return "unreadable complete section: " + in.Failure();
  if (in.Pos() != startxref) return "bytes between the complete section and startxref";

  std::map<std::int64_t, CompleteEntry> byNumber;
  std::int64_t inUse = 0;
  for (const CompleteEntry& entry : entries) {
    if (!byNumber.emplace(entry.number, entry).second) {
      return "object " + std::to_string(entry.number) + " listed twice";
    }
    if (entry.number >= size) return "/Size " + std::to_string(size) + " below an entry";
    if (size > 2147483647) return "/Size " + std::to_string(size) + " beyond 32 bits";
    if (entry.number == 0) {
      if (entry.type != 0) return "object 0 is not free";
      continue;
    }
    if (entry.type == 0) return "a free entry for object " + std::to_string(entry.number);
    ++inUse;
    if (entry.type == 1 &&
        !HeaderInFileAt(output, entry.second + found.OffsetBase, entry.number, entry.third)) {
      return "entry " + std::to_string(entry.number) + " does not point at its object header";
    }
    if (entry.type == 2 && !stream) return "an object stream entry in a table";
  }
  if (byNumber.count(0) == 0) return "object 0 is not listed";
  if (inUse != listed) {
    return std::to_string(inUse) + " objects listed, " + std::to_string(listed) + " reported";
  }
  for (const CompleteEntry& entry : entries) {
    if (entry.type != 2) continue;
    const auto holder = byNumber.find(entry.second);
    if (holder == byNumber.end() || holder->second.type != 1) {
      return "object " + std::to_string(entry.number) + " in an object stream that is not listed";
    }
  }
  for (const XrefRow& row : found.Rows) {
    if (row.Number <= kHighestRepairedNumber && byNumber.count(row.Number) == 0) {
      return "object " + std::to_string(row.Number) + " found but not listed";
    }
  }
  const auto isNew = [&](std::int64_t number, std::int64_t generation) {
    const auto entry = byNumber.find(number);
    return entry != byNumber.end() && entry->second.type == 1 &&
           entry->second.third == generation &&
           static_cast<std::size_t>(entry->second.second) + base >= input.size();
  };
  for (const ObjectKey key : imageKeys) {
    if (ObjectNumber(key) <= 0 || ObjectNumber(key) > kHighestRepairedNumber ||
        ObjectGeneration(key) > 65535) {
      continue;
    }
    if (!isNew(ObjectNumber(key), ObjectGeneration(key))) {
      return "image " + ObjectKeyToText(key) + " has no new version listed";
    }
  }
  if (HasExtraObject(mode)) {
    const auto extra = std::find_if(entries.begin(), entries.end(), [&](const CompleteEntry& e) {
      return e.number >= 9999 && e.type == 1 && e.third == 1 &&
             static_cast<std::size_t>(e.second) + base >= input.size();
    });
    if (extra == entries.end()) return "no extra object listed";
  }
  if (stream) {
    const auto own = byNumber.find(streamNumber);
    if (own == byNumber.end() || own->second.type != 1 ||
        static_cast<std::size_t>(own->second.second) + base != section) {
      return "the stream's own row does not point at the section";
    }
  }
  return {};
}

}  // namespace detail

inline const char* ModeName(ReplaceMode mode) {
  switch (mode) {
    case ReplaceNone:
      return "none";
    case ReplaceTGrayBox:
      return "tgraybox";
    case ReplaceOutline:
      return "outline";
    default:
      return "default";
  }
}

// One run over `input` in memory, ordered as the processing run orders it:
// the trailer (unless ReplaceNone), the image walk, the update (unless
// ReplaceNone). `templateDirectory` holds the three template files and ends
// with "/". Checks that a refused or failed run raised only an Error with one
// of the run's own messages and left the content unchanged (nothing to save),
// and that a completed run's content is what the mode promises.
inline std::string CheckRun(std::string_view input, ReplaceMode mode,
                            const Text& templateDirectory) {
  const std::string where = std::string("mode ") + ModeName(mode) + ": ";
  MemoryFileAccess source(input);
  std::size_t hits = 0;
  std::size_t objects = 0;
  // A hook is installed, as QUILLANE_LOG does, so the log lines are built too.
  const LogHook log = [&hits, &objects](const Text& line) {
    if (detail::HasPrefix(line, "Found image @ ")) ++hits;
    if (detail::HasPrefix(line, "object: ")) ++objects;
  };
  std::vector<ObjectKey> imageKeys;
  TrailerValues trailer;
  // A file whose last section cannot be found is repaired, as the run does.
  std::optional<RebuiltFile> rebuilt;
  std::int64_t listed = 0;
  try {
    if (mode != ReplaceNone) {
      try {
        trailer = ReadTrailer(source, log);
      } catch (const CrossReferenceNotFound&) {
        rebuilt = RebuildDamagedFile(source);
        if (!rebuilt) throw;
      }
      if (trailer.Encrypted || (rebuilt && rebuilt->Encrypt)) {
        if (source.Content() != input) return where + "a refused run changed the content";
        return {};
      }
    }
    if (mode == ReplaceNone) {
      RenameImageSubtypes(source, log);
    } else {
      imageKeys = FindImageObjects(source, log);
      const PlaceholderTemplates templates = LoadPlaceholderTemplates(mode, templateDirectory);
      if (rebuilt) {
        listed = WriteRepairingUpdate(source, rebuilt->Found, imageKeys, templates);
      } else {
        WriteUpdate(source, imageKeys, trailer, templates);
      }
    }
  } catch (const Error& error) {
    if (mode == ReplaceNone) return where + "the light mode failed: " + error.what();
    if (!detail::IsExpectedRunError(error.what())) {
      return where + "unexpected error message: " + error.what();
    }
    if (source.Content() != input) return where + "a failed run changed or extended the content";
    return {};
  } catch (const std::exception& error) {
    return where + "exception outside the program's errors: " + error.what();
  }

  // The reads by position stay linear in the size: each hit looks back a
  // bounded stretch, each trailer lookup reads a dictionary at most once.
  const auto size = static_cast<Position>(input.size());
  if (source.BytesRead() > 1024 * size + (Position{16} << 20)) {
    return where + std::to_string(source.BytesRead()) + " bytes read by position for " +
           std::to_string(size);
  }
  const Text output = source.Content();
  if (mode == ReplaceNone) {
    const std::string failure = detail::CheckRenamedInPlace(input, output, hits);
    return failure.empty() ? failure : where + failure;
  }
  if (imageKeys.size() != objects) {
    return where + std::to_string(imageKeys.size()) + " keys recorded but " +
           std::to_string(objects) + " \"object: \" lines logged";
  }
  const std::string failure =
      rebuilt ? detail::CheckRepairingUpdate(input, output, imageKeys, rebuilt->Found, mode, listed)
              : detail::CheckAppendedUpdate(input, output, imageKeys, trailer, mode);
  return failure.empty() ? failure : where + failure;
}

// CheckRun in each of the four modes; the first failure.
inline std::string CheckRunAllModes(std::string_view input, const Text& templateDirectory) {
  for (const ReplaceMode mode : {ReplaceDefault, ReplaceNone, ReplaceTGrayBox, ReplaceOutline}) {
    std::string failure = CheckRun(input, mode, templateDirectory);
    if (!failure.empty()) return failure;
  }
  return {};
}

namespace detail {

inline bool SameValue(const RegistryValue& a, const RegistryValue& b) {
  return a.Name == b.Name && a.Type == b.Type && a.Data == b.Data && a.Comments == b.Comments;
}

inline std::string CompareRegistries(const RegistryFile& a, const RegistryFile& b) {
  if (a.ByteOrderMark != b.ByteOrderMark || a.CrLf != b.CrLf) return "encoding flags differ";
  if (a.TrailingComments != b.TrailingComments) return "trailing comments differ";
  if (a.Keys.size() != b.Keys.size()) return "number of sections differs";
  for (std::size_t k = 0; k < a.Keys.size(); ++k) {
    const RegistrySection& x = a.Keys[k];
    const RegistrySection& y = b.Keys[k];
    const std::string where = "section " + std::to_string(k) + " [" + x.Path + "]: ";
    if (x.Path != y.Path || x.Comments != y.Comments) return where + "path or comments differ";
    if (x.Values.size() != y.Values.size()) return where + "number of values differs";
    for (std::size_t v = 0; v < x.Values.size(); ++v) {
      if (!SameValue(x.Values[v], y.Values[v])) {
        return where + "value " + std::to_string(v) + " \"" + x.Values[v].Name + "\" differs";
      }
    }
  }
  return {};
}

}  // namespace detail

// Parses `content` as a registry file. A refusal must be an Error naming the
// file and line. A file that parses must survive writing: the written text
// parses back to the same model and is reproduced byte for byte; and a text
// value set as the reader cache is ("PdfReadCmd", the last up to 64 bytes of
// the input as its data) reads back unchanged after another round.
inline std::string CheckRegistryRoundTrip(std::string_view content) {
  const Text name = "fuzz.reg";
  try {
    RegistryFile parsed;
    try {
      parsed = RegistryFile::Parse(Text(content), name);
    } catch (const Error& error) {
      if (!detail::HasPrefix(error.what(), "Registry file \"fuzz.reg\", line ")) {
        return std::string("refusal without file and line: ") + error.what();
      }
      return {};
    }
    const Text written = parsed.Write();
    const RegistryFile again = RegistryFile::Parse(written, name);
    std::string failure = detail::CompareRegistries(parsed, again);
    if (!failure.empty()) return "written file reads back differently: " + failure;
    if (again.Write() != written) return "a written file is not reproduced byte for byte";

    const Text key = "HKEY_CURRENT_USER\\Software\\Bramblecote Software\\quillane";
    const Text data(content.substr(content.size() > 64 ? content.size() - 64 : 0));
    parsed.SetValue(key, "PdfReadCmd", kRegSz, data);
    const RegistryFile updated = RegistryFile::Parse(parsed.Write(), name);
    const RegistryValue* value = updated.FindValue(key, "pdfreadcmd");
    if (value == nullptr || value->Type != kRegSz || value->Data != data) {
      return "a value set before writing does not read back unchanged";
    }
  } catch (const std::exception& error) {
    return std::string("unexpected exception: ") + error.what();
  }
  return {};
}

// Splits `line`; no argument may be empty or hold a double quote, and the
// arguments, each put in double quotes and joined with blanks, split back to
// the same list.
inline std::string CheckCommandLineSplit(std::string_view line) {
  try {
    const std::vector<Text> arguments = SplitCommandLine(Text(line));
    Text joined;
    for (const Text& argument : arguments) {
      if (argument.empty()) return "an empty argument";
      if (argument.find('"') != Text::npos) return "an argument holds a double quote";
      if (argument.find('\0') != Text::npos) return "an argument holds a NUL";
      joined += (joined.empty() ? "\"" : " \"") + argument + "\"";
    }
    if (SplitCommandLine(joined) != arguments) {
      return "the quoted arguments split differently: " + joined;
    }
  } catch (const std::exception& error) {
    return std::string("unexpected exception: ") + error.what();
  }
  return {};
}

// Translates `exec` as a desktop entry's Exec value. The translation must not
// throw, and (for a value without NUL bytes) the command it gives must be one the command-line rule
// splits into the arguments it means: none empty, none with a double quote, and the same list again
// after quoting each one.
inline std::string CheckDesktopExecTranslation(std::string_view exec) {
  try {
    const Text command = TranslateDesktopExec(Text(exec));
    // Every reader of the command sees it as a C string, cut at a NUL; an Exec
    // value holding one only has to translate without failing.
    if (exec.find('\0') != std::string_view::npos) return {};
    const std::vector<Text> arguments = SplitCommandLine(command);
    if (arguments.empty() != command.empty()) return "a command without arguments: " + command;
    std::string failure = CheckCommandLineSplit(command);
    if (!failure.empty()) return "command \"" + command + "\": " + failure;
  } catch (const std::exception& error) {
    return std::string("unexpected exception: ") + error.what();
  }
  return {};
}

}  // namespace quillane::fuzz

#endif  // QUILLANE_FUZZ_FUZZ_CHECKS_H_
