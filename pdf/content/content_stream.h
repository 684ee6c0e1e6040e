// Content streams (ISO 32000-1, 7.8.2) read as syntax, piece by piece, and
// rewritten as they are read: inline images (8.9.7) become a 1x1 gray
// placeholder, and an editor may give any operation new bytes. The reading
// is strict on purpose: a rewrite counts only when every byte of the stream
// reads as content syntax, so that bytes that merely look like an inline
// image are never touched. Memory stays bounded whatever the stream's size:
// only the operation being read (its operands and operator) and the
// look-ahead after a candidate "EI" are held, never the stream.
#ifndef QUILLANE_PDF_CONTENT_CONTENT_STREAM_H_
#define QUILLANE_PDF_CONTENT_CONTENT_STREAM_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "base/text.h"

namespace quillane {

// One inline image: from the "B" of its "BI" to one past the "I" of its "EI".
// Offsets count decoded bytes from the stream's start.
struct InlineImage {
  std::size_t Begin = 0;
  std::size_t End = 0;
};

struct ContentReading {
  // Every byte reads as content syntax: numbers, names, strings, arrays,
  // dictionaries, comments and the operators of ISO 32000-1, Annex A (any
  // keyword between BX and EX), each array and dictionary closed, no
  // operator inside one, and every BI followed by a dictionary, ID, data and
  // EI.
  bool Complete = false;
  // When not complete: the offset of the first byte that does not read.
  std::size_t Failure = 0;
  // The inline images in stream order; complete only when `Complete` is.
  std::vector<InlineImage> InlineImages;
  // The first operator read is d0 or d1: the stream is the glyph description
  // of a Type 3 font (ISO 32000-1, 9.6.5: "the first operator in a glyph
  // description shall be d0 or d1"), which draws a letter, not a picture.
  // Set as soon as that operator is read, also when the reading fails later.
  bool GlyphDescription = false;
  // The bytes the reading went over, look-aheads after candidate "EI"s
  // included: bounded by 9 times the data's size plus 64 KiB.
  std::size_t BytesExamined = 0;
  // Operations the editor gave new bytes.
  std::size_t EditedOperations = 0;
};

// Hands out the next decoded bytes: at most `capacity` into `buffer`; 0 at
// the end of the data.
using ContentInput = std::function<std::size_t(char* buffer, std::size_t capacity)>;

// Receives the rewritten stream in pieces, in order.
using ContentOutput = std::function<void(std::string_view bytes)>;

// One operation as the reader meets it: its operator (never BI, ID, EI, BX or
// EX) and its bytes, from the first byte of its first operand (or of the
// operator when it has none) to the last byte of the operator; comments
// between them included.
struct ContentOperation {
  std::string_view Operator;
  std::string_view Bytes;
  // Where Bytes start in the decoded stream.
  std::size_t Start = 0;
};

// Decides how an operation is written: nothing keeps its bytes, a text
// replaces them in the output.
using OperationEditor = std::function<std::optional<Text>(const ContentOperation&)>;

struct ContentEditing {
  // Each inline image is written as PlaceholderInlineImage(Gray); otherwise
  // inline images are written as they are.
  bool ReplaceInlineImages = false;
  std::uint8_t Gray = 0xD0;
  // Written before and after each placeholder (a graphics state it is drawn
  // in, "q /Name gs " and " Q"); empty for none.
  Text PlaceholderBefore;
  Text PlaceholderAfter;
  // Asked about every operation; may be empty.
  OperationEditor EditOperation;
  // The rewritten stream: every byte of the input, but the inline images
  // replaced and the operations edited. May be empty: the stream is only
  // read. What it received is of use only when the reading is complete.
  ContentOutput Output;
};

// An operation, or the look-ahead after a candidate "EI", that would need
// more than this many bytes held fails the reading (16 MiB: a line of text
// or a path takes kilobytes).
inline constexpr std::size_t kMaxHeldContent = std::size_t{16} << 20;

// Reads the decoded stream that `input` delivers and writes it through
// `editing`. The data of an inline image ends:
// - without a filter, after H rows of ceil(W * BPC * components / 8) bytes
//   (components from DeviceGray, DeviceRGB, DeviceCMYK, Indexed or ImageMask;
//   a colour space named in the resources gives no size), where white space
//   and EI must follow;
// - otherwise (or without a size), at the first "EI" followed by white space
//   and then by the end of the data or by operands and an operator that read
//   as content syntax; with ASCIIHexDecode or ASCII85Decode first, that "EI"
//   is looked for only after the filter's end-of-data marker. A PDF 2.0 /L
//   (or /Length) entry is taken when EI stands there.
// Keys and names may be spelled in full or abbreviated (ISO 32000-1, 8.9.7,
// Tables 93 and 94). The work is linear in the data; memory is bounded by
// kMaxHeldContent and the input's pieces.
ContentReading ReadContent(const ContentInput& input, const ContentEditing& editing);

// ReadContent over bytes in memory, only read.
ContentReading ReadContentStream(std::string_view data);

// "BI /W 1 /H 1 /CS /G /BPC 8 ID ", the one sample byte `gray`, " EI": an
// inline image of one DeviceGray pixel whose size every reader computes the
// same way, with or without looking for EI.
Text PlaceholderInlineImage(std::uint8_t gray);

// `data` with each of `images` replaced by PlaceholderInlineImage(gray);
// every byte outside them is kept as it is.
// REQUIRES: `images` lie within `data`, in order, without overlapping.
Text ReplaceInlineImages(std::string_view data, const std::vector<InlineImage>& images,
                         std::uint8_t gray);

}  // namespace quillane

#endif  // QUILLANE_PDF_CONTENT_CONTENT_STREAM_H_
