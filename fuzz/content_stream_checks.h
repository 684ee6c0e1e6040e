// The properties the content-stream fuzz target checks on every input, shared
// with the test that replays its saved findings
// (tests/content_stream_fuzz_test.cpp). The input is used twice: as decoded
// content-stream bytes (the reading and the rewrite) and as a file (the walk
// over stream objects). Each check returns an empty text when every property
// holds, otherwise a description of the first one that does not.
// Header-only, like fuzz_checks.h.
#ifndef QUILLANE_FUZZ_CONTENT_STREAM_CHECKS_H_
#define QUILLANE_FUZZ_CONTENT_STREAM_CHECKS_H_

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/content/content_stream.h"
#include "pdf/filters/stream_filters.h"
#include "pdf/rewrite/inline_images.h"
#include "pdf/syntax/lexer.h"
#include "support/memory_file_access.h"

namespace quillane::fuzz {

using test::MemoryFileAccess;

namespace detail {

// `rewritten` is `data` with each of `images` replaced by the placeholder,
// every other byte kept, and reads again as content syntax with exactly the
// placeholders as its inline images.
inline std::string CheckRewrite(std::string_view data, const std::vector<InlineImage>& images,
                                std::string_view rewritten, std::uint8_t gray) {
  const Text placeholder = PlaceholderInlineImage(gray);
  std::size_t kept = 0;  // in `data`
  std::size_t at = 0;    // in `rewritten`
  for (const InlineImage& image : images) {
    if (image.Begin < kept || image.End <= image.Begin || image.End > data.size()) {
      return "inline images out of order or outside the data";
    }
    if (data.substr(image.Begin, 2) != "BI" || data.substr(image.End - 2, 2) != "EI") {
      return "an inline image that is not BI ... EI at " + std::to_string(image.Begin);
    }
    const std::string_view between = data.substr(kept, image.Begin - kept);
    if (rewritten.substr(at, between.size()) != between) {
      return "bytes before the inline image at " + std::to_string(image.Begin) + " changed";
    }
    at += between.size();
    if (rewritten.substr(at, placeholder.size()) != placeholder) {
      return "no placeholder for the inline image at " + std::to_string(image.Begin);
    }
    at += placeholder.size();
    kept = image.End;
  }
  if (rewritten.substr(at) != data.substr(kept)) return "bytes after the last inline image changed";

  const ContentReading again = ReadContentStream(rewritten);
  if (!again.Complete) {
    return "the rewritten data does not read, at " + std::to_string(again.Failure);
  }
  if (again.InlineImages.size() != images.size()) return "the rewritten data has other images";
  for (const InlineImage& image : again.InlineImages) {
    if (rewritten.substr(image.Begin, image.End - image.Begin) != placeholder) {
      return "a rewritten inline image is not the placeholder";
    }
  }
  return {};
}

// One rewritten object: "N G obj\n", a dictionary whose /Length is the
// data's length and whose /Filter is /FlateDecode, "\nstream\n", the data,
// which decodes to content whose inline images are all placeholders, and
// "\nendstream\nendobj\n". The dictionary is read as a reader reads it: its
// strings may hold any bytes, "stream" included.
inline std::string CheckRewrittenObject(const RewrittenObject& object, std::uint8_t gray,
                                        std::size_t& images) {
  const std::string_view text = object.Bytes;
  const std::string header = std::to_string(ObjectNumber(object.Key)) + " " +
                             std::to_string(ObjectGeneration(object.Key)) + " obj\n";
  constexpr std::string_view kEnd = "\nendstream\nendobj\n";
  if (text.substr(0, header.size()) != header) return "object " + header + ": no header";
  Lexer lexer(text, header.size());
  const std::optional<PdfObject> dictionary = ReadObject(lexer, true);
  if (!dictionary || dictionary->Kind != PdfObject::Type::kDictionary ||
      text.substr(dictionary->End, 8) != "\nstream\n") {
    return "object " + header + ": no dictionary and stream keyword";
  }
  const PdfObject* length = dictionary->Find("Length");
  const PdfObject* filter = dictionary->Find("Filter");
  const std::size_t dataStart = dictionary->End + 8;
  if (length == nullptr || filter == nullptr || !filter->IsName("FlateDecode") ||
      length->Integer().value_or(-1) != static_cast<std::int64_t>(text.size()) -
                                            static_cast<std::int64_t>(dataStart) -
                                            static_cast<std::int64_t>(kEnd.size()) ||
      text.substr(text.size() - kEnd.size()) != kEnd) {
    return "object " + header + ": /Length or /Filter do not describe the data";
  }
  const DecodedData decoded = DecodeStreamData(
      text.substr(dataStart, text.size() - kEnd.size() - dataStart), {{"FlateDecode"}});
  if (!decoded.Data) return "object " + header + ": data does not inflate";
  const ContentReading reading = ReadContentStream(*decoded.Data);
  if (!reading.Complete || reading.InlineImages.empty()) {
    return "object " + header + ": rewritten content does not read or has no images";
  }
  for (const InlineImage& image : reading.InlineImages) {
    if (decoded.Data->substr(image.Begin, image.End - image.Begin) !=
        PlaceholderInlineImage(gray)) {
      return "object " + header + ": an inline image is not the placeholder";
    }
  }
  images += reading.InlineImages.size();
  return {};
}

}  // namespace detail

// Every property for one input; the first that fails.
inline std::string CheckContentStream(std::string_view input) {
  try {
    const std::uint8_t gray = input.empty() ? 0 : static_cast<std::uint8_t>(input.back());

    // As content-stream bytes.
    const ContentReading reading = ReadContentStream(input);
    if (!reading.Complete) {
      if (reading.Failure > input.size()) return "failure offset beyond the data";
      if (!reading.InlineImages.empty()) return "an incomplete reading lists inline images";
    } else {
      const Text rewritten = ReplaceInlineImages(input, reading.InlineImages, gray);
      std::string failure = detail::CheckRewrite(input, reading.InlineImages, rewritten, gray);
      if (!failure.empty()) return failure;
    }
    // Compression round trip on a bounded prefix, to keep executions fast.
    const std::string_view head = input.substr(0, 4096);
    const DecodedData roundTrip = DecodeStreamData(FlateCompress(head), {{"FlateDecode"}});
    if (!roundTrip.Data || *roundTrip.Data != head) return "Flate does not round-trip";

    // As a file.
    MemoryFileAccess source(input);
    std::size_t logged = 0;
    std::size_t loggedImages = 0;
    const LogHook log = [&logged, &loggedImages](const Text& line) {
      constexpr std::string_view kPrefix = "Inline images: ";
      if (line.compare(0, kPrefix.size(), kPrefix) != 0) return;
      ++logged;
      loggedImages += std::stoul(line.substr(line.find('#') + 1));
    };
    const std::vector<RewrittenObject> objects = RewriteInlineImageStreams(source, gray, {}, log);
    if (objects.size() != logged) return "rewritten objects and log lines differ";
    std::size_t images = 0;
    for (const RewrittenObject& object : objects) {
      std::string failure = detail::CheckRewrittenObject(object, gray, images);
      if (!failure.empty()) return failure;
    }
    if (images != loggedImages) return "logged image counts differ from the placeholders";
  } catch (const std::exception& error) {
    return std::string("exception: ") + error.what();
  }
  return {};
}

}  // namespace quillane::fuzz

#endif  // QUILLANE_FUZZ_CONTENT_STREAM_CHECKS_H_
