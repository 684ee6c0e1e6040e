#include "pdf/image_walk.h"

#include <cstring>

namespace quillane {

namespace {

constexpr std::string_view kSubtype = "Subtype";
constexpr std::string_view kImage = "Image";
constexpr std::string_view kStreamKeyword = "stream";

bool NameEquals(std::string_view bytes, Position start, Position end, std::string_view name) {
  return end - start == static_cast<Position>(name.size()) &&
         bytes.compare(static_cast<std::size_t>(start), name.size(), name) == 0;
}

// The bytes that end a name, white space and delimiters, as one table: the
// walk tests every byte of every name, and two calls per byte would cost more
// than the rest of the walk.
class NameEnds {
 public:
  NameEnds() {
    for (int c = 0; c < 256; ++c) {
      const auto byte = static_cast<std::uint8_t>(c);
      ends_[byte] = IsWhiteSpace(byte) || IsDelimiter(byte);
    }
  }
  bool Test(char c) const { return ends_[static_cast<std::uint8_t>(c)]; }

 private:
  bool ends_[256] = {};
};

class ImageWalk {
 public:
  ImageWalk(FileAccess& source, ReplaceMode mode, const LogHook& log,
            std::vector<ObjectKey>& imageKeys)
      : source_(source), mode_(mode), scanner_(source, log), imageKeys_(imageKeys) {}

  void Run() {
    const std::string_view bytes = source_.LoadedBytes();
    const char* const data = bytes.data();
    const auto size = static_cast<Position>(bytes.size());
    const NameEnds nameEnds;
    // True once a key name "Subtype" was read: the next name is its value.
    bool wantValue = false;
    Position p = 0;
    while (p < size) {
      // Outside a name only a "/" matters; every other byte is passed over,
      // also between "Subtype" and its value, so jump to the next "/".
      const void* slash = std::memchr(data + p, '/', static_cast<std::size_t>(size - p));
      if (slash == nullptr) return;
      const Position start = static_cast<const char*>(slash) - data + 1;
      if (!wantValue) {
        // A key name counts only as exactly "Subtype" ended by white space or
        // by the "/" of the next name (/Subtype/Image). Any other key name
        // needs no further look: the byte that ends it is either a "/", which
        // starts the next name, or a byte passed over like any other, so the
        // search for the next "/" goes on from inside it.
        const Position end = start + static_cast<Position>(kSubtype.size());
        if (end < size && NameEquals(bytes, start, end, kSubtype)) {
          const auto c = static_cast<std::uint8_t>(data[end]);
          if (IsWhiteSpace(c) || c == '/') wantValue = true;
        }
        p = start;
        continue;
      }
      // A value name ends at any white space or delimiter, which is not
      // examined again; a name that runs to the end of the data is never
      // tested.
      Position end = start;
      while (end < size && !nameEnds.Test(data[end])) ++end;
      if (end == size) return;
      if (NameEquals(bytes, start, end, kImage)) HandleHit(end, start);
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
    const std::string_view range = source_.LoadedBytes().substr(
        static_cast<std::size_t>(from), static_cast<std::size_t>(to - from));
    return range.find(kStreamKeyword) != std::string_view::npos;
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
