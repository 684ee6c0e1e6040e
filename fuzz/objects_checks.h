// The properties the objects fuzz target checks on every input, shared with
// the test that replays its saved findings
// (tests/pdf/objects/objects_fuzz_test.cpp). The input is a whole file: its
// cross-reference chain is read, and rebuilt by the reconstruction as well;
// each index is then resolved object by object, walked for the content
// streams the pages draw and for the objects the document still uses. The
// check returns an empty text when every property holds, otherwise a
// description of the first one that does not. Header-only, like
// fuzz_checks.h.
#ifndef QUILLANE_FUZZ_OBJECTS_CHECKS_H_
#define QUILLANE_FUZZ_OBJECTS_CHECKS_H_

#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "pdf/objects/cross_reference.h"
#include "pdf/objects/document.h"
#include "pdf/objects/document_walk.h"
#include "support/memory_file_access.h"

namespace quillane::fuzz {

namespace detail {

// Objects resolved one by one per index: enough to reach every object of a
// fuzzed file, few enough to keep each input in milliseconds.
inline constexpr std::size_t kLookups = 4096;

// The document's own bound on its reading (document.cpp), with room for
// the reads that run before a bound is checked.
inline std::int64_t WorkAllowed(std::size_t size) {
  return 64 * static_cast<std::int64_t>(size) + (std::int64_t{64} << 20);
}

// Readers take white space and comments before a header at an entry's
// offset: true when only such bytes stand between `offset` and `header`.
inline bool OnlyBlanksBetween(std::string_view bytes, Position offset, Position header) {
  auto at = static_cast<std::size_t>(offset);
  const auto end = static_cast<std::size_t>(header);
  if (offset < 0 || header < offset || end > bytes.size()) return false;
  while (at < end) {
    const char c = bytes[at];
    if (c == '%') {
      while (at < end && bytes[at] != '\r' && bytes[at] != '\n') ++at;
    } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\0') {
      ++at;
    } else {
      return false;
    }
  }
  return true;
}

inline bool HeaderAt(std::string_view bytes, const XrefEntry& entry) {
  // Leading zeros are part of a number ("097 0 obj").
  const std::string number = std::to_string(entry.Number);
  auto at = static_cast<std::size_t>(entry.Offset);
  while (entry.Number != 0 && at < bytes.size() && bytes[at] == '0') ++at;
  return at < bytes.size() && bytes.substr(at, number.size()) == number;
}

// The properties of one index over `bytes`; `rebuilt` for one made by the
// reconstruction, whose in-use entries must each name a header.
inline std::string CheckIndex(std::string_view bytes, const FileAccess& source, CrossReference xref,
                              bool rebuilt) {
  const auto size = static_cast<Position>(bytes.size());
  std::string failure;
  std::size_t live = 0;
  std::int64_t previous = -1;
  xref.ForEachLiveEntry([&](const XrefEntry& entry) {
    ++live;
    if (!failure.empty()) return;
    if (entry.Number <= previous) failure = "live entries out of number order";
    previous = entry.Number;
    if (entry.Type == XrefEntryType::kInUse) {
      if (entry.Offset < 0 || entry.Offset >= size) {
        failure = "entry " + std::to_string(entry.Number) + " outside the file";
      } else if (rebuilt && !HeaderAt(bytes, entry)) {
        failure = "rebuilt entry " + std::to_string(entry.Number) + " names no header";
      }
    }
  });
  if (!failure.empty()) return failure;
  if (live != xref.LiveCount()) return "LiveCount differs from the live entries";

  std::vector<XrefEntry> entries;
  xref.ForEachLiveEntry([&entries](const XrefEntry& entry) {
    if (entries.size() < kLookups) entries.push_back(entry);
  });
  const Document document(source, std::move(xref));
  for (const XrefEntry& entry : entries) {
    const ObjectLookup lookup = document.Lookup(entry.Key());
    if (!lookup.Object) {
      if (lookup.Reason.empty()) return "a lookup failed without a reason";
      continue;
    }
    const IndirectObject& object = *lookup.Object;
    if (object.Key != entry.Key())
      return "lookup of " + std::to_string(entry.Number) + " gave another key";
    if (entry.Type == XrefEntryType::kInUse) {
      if (!OnlyBlanksBetween(bytes, entry.Offset, object.HeaderStart)) {
        return "object not read at its entry's offset";
      }
      if (object.End <= object.HeaderStart || object.End > size)
        return "object end outside the file";
      if (object.IsStream) {
        const std::optional<StreamExtent> extent = document.Extent(object);
        if (extent && (extent->DataStart > extent->DataEnd || extent->DataEnd > size)) {
          return "stream data outside the file";
        }
      }
    } else if (object.IsStream) {
      return "a stream inside an object stream";
    }
  }

  // Each drawn stream once, each a stream the index lists.
  WalkOptions options;
  const DrawnStreams drawn = WalkDrawnStreams(document, options, LogHook());
  std::set<ObjectKey> seen;
  for (const DrawnStream& stream : drawn.Streams) {
    if (!seen.insert(stream.Key).second) return "a drawn stream listed twice";
    const ObjectLookup lookup = document.Lookup(stream.Key);
    // Page contents are listed unread, from their entries: what they name
    // is known only to the caller that reads them (an indirect array of
    // streams, or no stream at all).
    const bool unread = stream.Kind == DrawnStreamKind::kPageContents;
    if (lookup.Object && !lookup.Object->IsStream && !unread) {
      return "a drawn object that is no stream";
    }
  }
  seen.clear();
  for (const ObjectKey key : ReachableObjects(document)) {
    if (!seen.insert(key).second) return "a reachable object listed twice";
  }
  if (document.BytesRead() > WorkAllowed(bytes.size())) return "reading beyond the work bound";
  return {};
}

}  // namespace detail

// Every property of the cross-reference reader, the reconstruction, the
// resolver and the walks over `bytes`; nothing is thrown by any of them.
inline std::string CheckObjects(std::string_view bytes) {
  try {
    const test::MemoryFileAccess source(bytes);
    CrossReferenceReading reading = CrossReference::Read(source);
    if (reading.Xref) {
      if (!reading.Reason.empty()) return "a read index with a reason";
      if (std::string failure = detail::CheckIndex(bytes, source, std::move(*reading.Xref), false);
          !failure.empty()) {
        return "read: " + failure;
      }
    } else if (reading.Reason.empty()) {
      return "an index refused without a reason";
    }
    CrossReference rebuilt = CrossReference::Reconstruct(source, "fuzz");
    if (!rebuilt.Reconstructed()) return "a reconstruction not marked so";
    if (std::string failure = detail::CheckIndex(bytes, source, std::move(rebuilt), true);
        !failure.empty()) {
      return "rebuilt: " + failure;
    }
  } catch (const std::exception& error) {
    return std::string("threw: ") + error.what();
  }
  return {};
}

}  // namespace quillane::fuzz

#endif  // QUILLANE_FUZZ_OBJECTS_CHECKS_H_
