#include "pdf/update_writer.h"

#include <algorithm>

#include "base/error.h"

namespace quillane {

namespace {

constexpr std::int64_t kUsualExtraObjectNumber = 9999;
constexpr std::int64_t kStreamRowSize = 7;  // /W [1 4 2]

// The objects the update writes, in order, with where each one starts.
struct Entry {
  ObjectKey key;
  Position position;
};

// The trailer's /Size must exceed every object number the file uses: the
// update adds the stream's own number, and in the translucent mode the extra
// object's.
std::int64_t UpdatedSize(std::int64_t sizeWithoutExtra, std::optional<ObjectKey> extraKey) {
  if (!extraKey) return sizeWithoutExtra;
  return std::max(sizeWithoutExtra, ObjectNumber(*extraKey) + 1);
}

// A 20-byte table entry for an object in use (ISO 32000-1, 7.5.4).
Text TableEntry(const Entry& entry) {
  return IntToText(ObjectNumber(entry.key)) + " 1\r\n" +
         PadLeftWithZeros(IntToText(entry.position), 10) + " " +
         PadLeftWithZeros(IntToText(ObjectGeneration(entry.key)), 5) + " n\r\n";
}

Text XrefTable(const std::vector<Entry>& entries, const TrailerValues& trailer,
               std::optional<ObjectKey> extraKey) {
  Text text = "xref\r\n";
  for (const Entry& entry : entries) text += TableEntry(entry);
  // A section must hold at least one subsection; the free head of the list,
  // object 0, is the one entry that never says anything wrong.
  if (entries.empty()) text += "0 1\r\n0000000000 65535 f\r\n";
  text += "trailer\r\n<<\r\n";
  text += "/Prev " + IntToText(trailer.previousSectionOffset) + "\r\n";
  text += "/Root " + trailer.rootReference + "\r\n";
  text += "/Size " + IntToText(UpdatedSize(trailer.trailerSize, extraKey)) + "\r\n";
  if (!trailer.infoReference.empty()) text += "/Info " + trailer.infoReference + "\r\n";
  text += ">>\r\n";
  return text;
}

// One row of a cross-reference stream with /W [1 4 2]: type 1, the position
// and the generation, most significant byte first (ISO 32000-1, 7.5.8.3).
void AppendStreamRow(Text& data, Position position, std::int64_t generation) {
  const auto offset = static_cast<std::uint32_t>(position);
  const auto gen = static_cast<std::uint16_t>(generation & 0xFFFF);
  data += '\x01';
  data += static_cast<char>((offset >> 24) & 0xFF);
  data += static_cast<char>((offset >> 16) & 0xFF);
  data += static_cast<char>((offset >> 8) & 0xFF);
  data += static_cast<char>(offset & 0xFF);
  data += static_cast<char>((gen >> 8) & 0xFF);
  data += static_cast<char>(gen & 0xFF);
}

Text XrefStream(const std::vector<Entry>& entries, const TrailerValues& trailer,
                std::optional<ObjectKey> extraKey, Position sectionPosition) {
  const std::int64_t streamNumber = trailer.trailerSize;
  const auto rows = static_cast<std::int64_t>(entries.size()) + 1;
  Text text = IntToText(streamNumber) + " 0 obj\r\n<<\r\n/Type/XRef\r\n/W[1 4 2]\r\n";
  text += "/Root " + trailer.rootReference + "\r\n";
  text += "/Prev " + IntToText(trailer.previousSectionOffset) + "\r\n";
  text += "/Length " + IntToText(kStreamRowSize * rows) + "\r\n";
  text += "/Size " + IntToText(UpdatedSize(streamNumber + 1, extraKey)) + "\r\n";
  text += "/Index [";
  for (const Entry& entry : entries) text += IntToText(ObjectNumber(entry.key)) + " 1 ";
  text += IntToText(streamNumber) + " 1]\r\n";
  if (!trailer.infoReference.empty()) text += "/Info " + trailer.infoReference + "\r\n";
  text += ">>\r\nstream\r\n";
  // The rows follow "stream\r\n" directly and "endstream" follows the last
  // row directly; /Length counts exactly the rows.
  for (const Entry& entry : entries) {
    AppendStreamRow(text, entry.position, ObjectGeneration(entry.key));
  }
  AppendStreamRow(text, sectionPosition, 0);
  text += "endstream\r\nendobj\r\n";
  return text;
}

Text EndBlock(Position sectionPosition) {
  return "startxref\r\n" + IntToText(sectionPosition) + "\r\n%%EOF\r\n";
}

}  // namespace

ObjectKey ExtraObjectKeyFor(const TrailerValues& trailer) {
  const std::int64_t first =
      std::int64_t{trailer.trailerSize} + (trailer.lastSectionIsStream ? 1 : 0);
  return MakeObjectKey(std::max(first, kUsualExtraObjectNumber), 1);
}

void WriteUpdate(FileAccess& source, const std::vector<ObjectKey>& imageKeys,
                 const TrailerValues& trailer, const PlaceholderTemplates& templates,
                 const std::vector<RewrittenObject>& rewrittenObjects) {
  std::optional<ObjectKey> extraKey;
  if (templates.extra) extraKey = ExtraObjectKeyFor(trailer);

  // The update is built whole before it is appended, so that an output that
  // would be too large is refused with nothing appended. Every position is the
  // length of what precedes it in the output.
  const Position base = source.Size();
  Text update;
  std::vector<Entry> entries;
  entries.reserve(imageKeys.size() + rewrittenObjects.size() + 1);
  const ObjectKey bodyExtraKey = extraKey.value_or(ExtraObjectKey);
  for (const ObjectKey key : imageKeys) {
    entries.push_back({key, base + static_cast<Position>(update.size())});
    update += ReplacementObjectText(key, templates, bodyExtraKey);
  }
  for (const RewrittenObject& object : rewrittenObjects) {
    entries.push_back({object.key, base + static_cast<Position>(update.size())});
    update += object.text;
  }
  if (extraKey) {
    entries.push_back({*extraKey, base + static_cast<Position>(update.size())});
    update += ExtraObjectText(templates, *extraKey);
  }
  const Position sectionPosition = base + static_cast<Position>(update.size());
  if (trailer.lastSectionIsStream) {
    update += XrefStream(entries, trailer, extraKey, sectionPosition);
  } else {
    update += XrefTable(entries, trailer, extraKey);
  }
  update += EndBlock(sectionPosition);

  if (base + static_cast<Position>(update.size()) >= kMaxFileSize) {
    throw Error("The output would be too large (2 GiB or more).");
  }
  source.Append(update);
}

}  // namespace quillane
