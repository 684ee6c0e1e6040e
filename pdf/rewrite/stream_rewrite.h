// The new version of one content stream: its data decoded piece by piece
// from the file, read as content syntax with its inline images replaced and
// its operations edited (show_text.h), compressed again with Flate and kept
// in a spill, so that memory stays bounded whatever the stream's size. A
// stream is given a new version only when it decodes, reads completely as
// content syntax and has something replaced; otherwise it is left, and the
// log says why.
#ifndef QUILLANE_PDF_REWRITE_STREAM_REWRITE_H_
#define QUILLANE_PDF_REWRITE_STREAM_REWRITE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "base/log_hook.h"
#include "base/text.h"
#include "fileaccess/fileaccess.h"
#include "pdf/content/content_stream.h"
#include "pdf/objects/document.h"
#include "pdf/objects/document_walk.h"
#include "pdf/objects/key_marks.h"
#include "pdf/syntax/lexer.h"
#include "pdf/syntax/object_key.h"
#include "pdf/update/update_writer.h"

namespace quillane {

// A stream object as the file holds it.
struct StreamInFile {
  ObjectKey Key = kNoObject;
  // The dictionary's bytes, "<<" to ">>", and the dictionary read from them
  // (its offsets count from the first "<").
  Text DictionaryText;
  PdfObject Dictionary;
  // The raw data: [DataStart, DataEnd) of the file.
  Position DataStart = 0;
  Position DataEnd = 0;
};

// What a rewrite changes in a stream.
struct StreamRewriting {
  // Inline images become 1x1 placeholders of this gray.
  bool ReplaceInlineImages = false;
  std::uint8_t Gray = 0xD0;
  // Around each placeholder (ContentEditing).
  Text PlaceholderBefore;
  Text PlaceholderAfter;
  // Asked about every operation; may be empty.
  OperationEditor EditOperation;
  // Bytes whose presence in the decoded data makes the stream worth reading
  // as content ("BI" for inline images, "Tr" for text made visible): a
  // stream without any of them is passed over after a first decoding.
  std::vector<std::string_view> Markers;
  // The stream is a Type 3 glyph description by the document's structure:
  // one with a marker is left with "Type 3 glyph", unread.
  bool Glyph = false;
};

struct StreamRewriteResult {
  // The new version, when the stream has one.
  std::optional<RewrittenObject> Object;
  // The reading, when the stream was read as content.
  std::optional<ContentReading> Reading;
};

// Rewrites `stream` of `file`. Log lines: "Stream left: <key> <reason>" for
// a stream that does not decode (a filter or parameters not supported, data
// damaged, "decoded data too large" for data beyond both 1 GiB and 100 times
// its encoded length), that is not content syntax ("content syntax at
// <offset>") or that is a Type 3 glyph description ("Type 3 glyph"). A
// stream with nothing to replace is left without a line.
// The new version is "N G obj\n", the dictionary byte for byte without its
// /Length, /Filter, /DecodeParms and /DL entries and with "/Length <n>
// /Filter/FlateDecode" before its closing ">>", "\nstream\n", the compressed
// data, "\nendstream\nendobj\n".
StreamRewriteResult RewriteStream(const FileAccess& file, const StreamInFile& stream,
                                  const StreamRewriting& rewriting, const LogHook& log);

// Reads `stream` of `file` as content, `editor` asked about every operation
// and nothing written: the reading, or nothing when the data does not decode
// or holds none of `markers`.
std::optional<ContentReading> ReadStreamContent(const FileAccess& file, const StreamInFile& stream,
                                                const std::vector<std::string_view>& markers,
                                                const OperationEditor& editor);

// False when the dictionary shows a stream that is no content stream, though
// the document draws it as one (a page's /Contents naming an image, a font
// program, metadata): such bytes are left as they are.
bool MayBeContentStream(const PdfObject& dictionary);

// `text`, a stream dictionary read as `dictionary`, without its /Length,
// /Filter, /DecodeParms and /DL entries and with "/Length <length>
// /Filter/FlateDecode" before its closing ">>". Every entry's key starts with
// "/", so the bytes around a removed entry still read as the tokens they were.
Text RewrittenDictionary(std::string_view text, const PdfObject& dictionary, std::size_t length);

// A content stream the document draws, found in the file.
struct DrawnContentStream {
  DrawnStream Drawn;
  std::shared_ptr<const IndirectObject> Object;
  StreamInFile In;
};

// The content streams of `drawn` that can be read from the file, in the
// walk's order, each once: page contents given as an indirect array are
// taken stream by stream; a stream in `images` (logged "Stream left: <key>
// replaced as an image"), one inside an object stream, one whose data
// cannot be found, and one whose dictionary is no content stream's are
// passed over. Each is handed to `visit` as soon as it is found, while the
// bytes around it are still at hand in the file access, and none is kept:
// a pass needs no list of them all.
void EachReadableContentStream(const Document& document, const DrawnStreams& drawn,
                               const KeyMarks& images, const LogHook& log,
                               const std::function<void(DrawnContentStream&)>& visit);

}  // namespace quillane

#endif  // QUILLANE_PDF_REWRITE_STREAM_REWRITE_H_
