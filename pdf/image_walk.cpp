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

class ImageWalk {
 public:
  ImageWalk(FileAccess& source, ReplaceMode mode, const LogHook& log,
            std::vector<ObjectKey>& imageKeys)
      : source_(source), mode_(mode), scanner_(source, log), imageKeys_(imageKeys) {}

  void Run() {
    const std::string_view bytes = source_.LoadedBytes();
    const auto size = static_cast<Position>(bytes.size());
    bool inName = false;
    bool wantValue = false;
    Position nameStart[2] = {0, 0};
    for (Position p = 0; p < size; ++p) {
      if (!inName) {
        // Outside a name only a "/" matters, so jump straight to the next one.
        const void* slash = std::memchr(bytes.data() + p, '/', static_cast<std::size_t>(size - p));
        if (slash == nullptr) break;
        p = static_cast<const char*>(slash) - bytes.data();
        inName = true;
        nameStart[wantValue ? 1 : 0] = p + 1;
        continue;
      }
      const auto c = static_cast<std::uint8_t>(bytes[static_cast<std::size_t>(p)]);
      if (!wantValue) {
        if (IsWhiteSpace(c) || c == '/') {
          inName = false;
          if (NameEquals(bytes, nameStart[0], p, kSubtype)) wantValue = true;
          // A "/" that ends a name starts the next one: /Subtype/Image.
          if (c == '/') --p;
        } else if (IsDelimiter(c)) {
          inName = false;
          wantValue = false;
        }
      } else if (IsWhiteSpace(c) || IsDelimiter(c)) {
        if (NameEquals(bytes, nameStart[1], p, kImage)) HandleHit(p, nameStart[1]);
        inName = false;
        wantValue = false;
      }
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
