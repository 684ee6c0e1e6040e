#include "pdf/raw/image_walk.h"

#include <cstring>

#include "base/byte_classes.h"
#include "pdf/raw/scanner.h"

namespace quillane {

namespace {

constexpr std::string_view kSubtype = "Subtype";
constexpr std::string_view kImage = "Image";
constexpr std::string_view kStreamKeyword = "stream";

// The loaded bytes as the walk moves over them: one view of FileAccess at a
// time, asked for again only when the walk needs bytes beyond it.
class LoadedCursor {
 public:
  explicit LoadedCursor(const FileAccess& source) : source_(source) {}

  // Makes the view hold [p, p + count) and returns true; false when the data
  // ends before p + count. REQUIRES: count <= kMinimumLoadedView.
  bool Cover(Position p, Position count) {
    if (p < start_ || p + count > End()) {
      view_ = source_.LoadedBytesFrom(p);
      start_ = p;
    }
    return p + count <= End();
  }
  Position End() const { return start_ + static_cast<Position>(view_.size()); }
  // REQUIRES: the view holds p.
  const char* At(Position p) const { return view_.data() + (p - start_); }

 private:
  const FileAccess& source_;
  Position start_ = 0;
  std::string_view view_;
};

bool NameEquals(const char* bytes, std::string_view name) {
  return std::memcmp(bytes, name.data(), name.size()) == 0;
}

// The one pass: calls `onHit(nameStart, end)` for each hit, `end` being the
// byte that ended the name "Image".
template <typename OnHit>
void WalkHits(const FileAccess& source, OnHit onHit) {
  LoadedCursor cursor(source);
  // True once a key name "Subtype" was read: the next name is its value.
  bool wantValue = false;
  Position p = 0;
  while (cursor.Cover(p, 1)) {
    // Outside a name only a "/" matters; every other byte is passed over,
    // also between "Subtype" and its value, so jump to the next "/".
    const char* from = cursor.At(p);
    const void* slash = std::memchr(from, '/', static_cast<std::size_t>(cursor.End() - p));
    if (slash == nullptr) {
      p = cursor.End();
      continue;
    }
    const Position start = p + (static_cast<const char*>(slash) - from) + 1;
    if (!wantValue) {
      // A key name counts only as exactly "Subtype" ended by white space or
      // by the "/" of the next name (/Subtype/Image). Any other key name
      // needs no further look: the byte that ends it is either a "/", which
      // starts the next name, or a byte passed over like any other, so the
      // search for the next "/" goes on from inside it.
      const auto length = static_cast<Position>(kSubtype.size());
      if (cursor.Cover(start, length + 1) && NameEquals(cursor.At(start), kSubtype)) {
        const auto c = static_cast<std::uint8_t>(*cursor.At(start + length));
        if (IsWhiteSpace(c) || c == '/') wantValue = true;
      }
      p = start;
      continue;
    }
    // A value name ends at any white space or delimiter, which is not
    // examined again; a name that runs to the end of the data is never
    // tested. It may run on over several views.
    Position end = start;
    bool ended = false;
    while (!ended && cursor.Cover(end, 1)) {
      const char* const first = cursor.At(end);
      const char* const last = first + (cursor.End() - end);
      const char* c = first;
      // White space and delimiters end a name: one table lookup a byte.
      while (c < last && IsRegular(*c)) ++c;
      ended = c < last;
      end += c - first;
    }
    if (!ended) return;
    const auto length = static_cast<Position>(kImage.size());
    if (end - start == length && cursor.Cover(start, length) &&
        NameEquals(cursor.At(start), kImage)) {
      onHit(start, end);
    }
    wantValue = false;
    p = end + 1;
  }
}

// True when "stream" lies wholly within [from, to): the hit is then part of
// stream data (page content, or objects packed in an object stream), and
// replacing the enclosing object would destroy it.
bool StreamKeywordBetween(const FileAccess& source, Position from, Position to) {
  if (to - from < static_cast<Position>(kStreamKeyword.size())) return false;
  return source.Substring(from, to).find(kStreamKeyword) != Text::npos;
}

void LogHit(const Scanner& scanner, Position end) {
  if (scanner.Logging()) scanner.Log("Found image @ " + IntToText(end));
}

}  // namespace

std::vector<ObjectKey> FindImageObjects(const FileAccess& source, const LogHook& log) {
  const Scanner scanner(source, log);
  std::vector<ObjectKey> keys;
  WalkHits(source, [&](Position /*nameStart*/, Position end) {
    LogHit(scanner, end);
    const ObjectHeader header = scanner.FindObjectKeyBefore(end);
    if (header.Key == kNoObject) return;
    if (StreamKeywordBetween(source, header.Keyword + 3, end)) return;
    if (scanner.Logging()) scanner.Log("object: " + IntToText(header.Key));
    keys.push_back(header.Key);
  });
  return keys;
}

void RenameImageSubtypes(FileAccess& source, const LogHook& log) {
  const Scanner scanner(source, log);
  WalkHits(source, [&](Position nameStart, Position end) {
    LogHit(scanner, end);
    source.Overwrite(nameStart, "Vexlo");
  });
}

}  // namespace quillane
