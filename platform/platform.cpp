// The parts of the seam that are the same on every system, written once over
// the per-system primitives.
#include "platform/platform.h"

#include <algorithm>
#include <optional>

#include "platform/file_copies.h"

namespace quillane::platform {

namespace {

std::optional<Text> subjectOfMessages;

}  // namespace

MessageSubject::MessageSubject(const Text& input) { subjectOfMessages = input; }

MessageSubject::~MessageSubject() { subjectOfMessages.reset(); }

const Text* MessageSubject::Current() { return subjectOfMessages ? &*subjectOfMessages : nullptr; }

void ShowErrorBox(const Text& message) {
  Text text = message;
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
  ShowMessageBox(text, MessageIcon::kError, true);
}

Text DirectoryOf(const Text& path) {
  std::size_t cut = path.size();
  while (cut > 0 && !IsPathSeparator(path[cut - 1])) --cut;
  return path.substr(0, cut);
}

Text FileNameOf(const Text& path) { return path.substr(DirectoryOf(path).size()); }

Text ReadWholeFile(const Text& path) {
  const InputFile file(path);
  Text content(static_cast<std::size_t>(file.Size()), '\0');
  file.ReadExactly(0, content.data(), file.Size());
  return content;
}

void CopyThroughMemory(const InputFile& input, OutputFile& output, std::int64_t offset,
                       std::int64_t count) {
  constexpr std::int64_t kPiece = std::int64_t{1} << 20;
  std::unique_ptr<char[]> buffer;
  while (count > 0) {
    const std::int64_t piece = std::min(count, kPiece);
    if (!buffer) buffer = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(piece));
    input.ReadExactly(offset, buffer.get(), piece);
    output.Write(buffer.get(), piece);
    offset += piece;
    count -= piece;
  }
}

}  // namespace quillane::platform
