#include "pdf/image_walk.h"

#include <cstring>

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

class ImageWalk {
 public:
  ImageWalk(FileAccess& source, ReplaceMode mode, const LogHook& log,
            std::vector<ObjectKey>& imageKeys)
      : source_(source), mode_(mode), scanner_(source, log), imageKeys_(imageKeys) {}

  void Run() {
    LoadedCursor cursor(source_);
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
        HandleHit(end, start);
      }
      wantValue = false;
      p = end + 1;
    }
  }

 private:
  void HandleHit(Position p, Position nameStart) {
    if (scanner_.Logging()) scanner_.Log("Found image @ " + IntToText(p));
    if (mode_ == ReplaceNone) {
      // Same length, so every offset in the file stays valid.
      source_.Overwrite(nameStart, "Vexlo");
      return;
    }
    const ObjectHeader header = scanner_.FindObjectKeyBefore(p);
    if (header.key == kNoObject) return;
    if (StreamKeywordBetween(header.keyword + 3, p)) return;
    if (scanner_.Logging()) scanner_.Log("object: " + IntToText(header.key));
    imageKeys_.push_back(header.key);
  }

  // True when "stream" lies wholly within [from, to): the hit is then part of
  // stream data (page content, or objects packed in an object stream), and
  // replacing the enclosing object would destroy it.
  bool StreamKeywordBetween(Position from, Position to) const {
    if (to - from < static_cast<Position>(kStreamKeyword.size())) return false;
    return source_.Substring(from, to).find(kStreamKeyword) != Text::npos;
  }

  FileAccess& source_;
  const ReplaceMode mode_;
  const Scanner scanner_;
  std::vector<ObjectKey>& imageKeys_;
};

}  // namespace

void WalkImages(FileAccess& source, ReplaceMode mode, const LogHook& log,
                std::vector<ObjectKey>& imageKeys) {
  ImageWalk(source, mode, log, imageKeys).Run();
}

}  // namespace quillane
