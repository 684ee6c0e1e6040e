#include "pdf/update/update_writer.h"

#include <algorithm>

#include "base/error.h"
#include "pdf/update/appended_bytes.h"

namespace quillane {

namespace {

constexpr std::int64_t kUsualExtraObjectNumber = 9999;
// The offset field of a table entry has 10 digits (ISO 32000-1, 7.5.4).
constexpr std::size_t kTableOffsetDigits = 10;
// Stream rows hold offsets in 4 bytes unless one needs more.
constexpr int kUsualOffsetBytes = 4;

// The objects the update writes, in order, with where each one starts.
struct Entry {
  ObjectKey Key;
  Position At;
};

// The trailer's /Size must exceed every object number the file uses: the
// update adds the stream's own number, and in the translucent mode the extra
// object's.
std::int64_t UpdatedSize(std::int64_t sizeWithoutExtra, std::optional<ObjectKey> extraKey) {
  if (!extraKey) return sizeWithoutExtra;
  return std::max(sizeWithoutExtra, ObjectNumber(*extraKey) + 1);
}

// A 20-byte table entry for an object in use (ISO 32000-1, 7.5.4). An
// offset of more than 10 digits cannot be written in one.
Text TableEntry(const Entry& entry) {
  const Text offset = IntToText(entry.At);
  if (offset.size() > kTableOffsetDigits) {
    throw Error("The output would be too large for a cross-reference table (10 GB or more).");
  }
  return IntToText(ObjectNumber(entry.Key)) + " 1\r\n" +
         PadLeftWithZeros(offset, static_cast<std::int64_t>(kTableOffsetDigits)) + " " +
         PadLeftWithZeros(IntToText(ObjectGeneration(entry.Key)), 5) + " n\r\n";
}

Text XrefTable(const std::vector<Entry>& entries, const TrailerValues& trailer,
               std::optional<ObjectKey> extraKey) {
  Text text = "xref\r\n";
  for (const Entry& entry : entries) text += TableEntry(entry);
  // A section must hold at least one subsection; the free head of the list,
  // object 0, is the one entry that never says anything wrong.
  if (entries.empty()) text += "0 1\r\n0000000000 65535 f\r\n";
  text += "trailer\r\n<<\r\n";
  text += "/Prev " + IntToText(trailer.PreviousSectionOffset) + "\r\n";
  text += "/Root " + trailer.RootReference + "\r\n";
  text += "/Size " + IntToText(UpdatedSize(trailer.TrailerSize, extraKey)) + "\r\n";
  if (!trailer.InfoReference.empty()) text += "/Info " + trailer.InfoReference + "\r\n";
  text += ">>\r\n";
  return text;
}

// The bytes a row gives the offset: 4, or as many as the largest offset
// needs.
int OffsetBytes(const std::vector<Entry>& entries, Position sectionPosition) {
  Position largest = sectionPosition;
  for (const Entry& entry : entries) largest = std::max(largest, entry.At);
  int bytes = kUsualOffsetBytes;
  while (bytes < 8 && (static_cast<std::uint64_t>(largest) >> (8 * bytes)) != 0) ++bytes;
  return bytes;
}

// One row of a cross-reference stream with /W [1 <offsetBytes> 2]: type 1,
// the offset and the generation, most significant byte first (ISO 32000-1,
// 7.5.8.3).
void AppendStreamRow(Text& data, Position position, std::int64_t generation, int offsetBytes) {
  const auto offset = static_cast<std::uint64_t>(position);
  const auto gen = static_cast<std::uint16_t>(generation & 0xFFFF);
  data += '\x01';
  for (int shift = 8 * (offsetBytes - 1); shift >= 0; shift -= 8) {
    data += static_cast<char>((offset >> shift) & 0xFF);
  }
  data += static_cast<char>((gen >> 8) & 0xFF);
  data += static_cast<char>(gen & 0xFF);
}

Text XrefStream(const std::vector<Entry>& entries, const TrailerValues& trailer,
                std::optional<ObjectKey> extraKey, Position sectionPosition) {
  const std::int64_t streamNumber = trailer.TrailerSize;
  const auto rows = static_cast<std::int64_t>(entries.size()) + 1;
  const int offsetBytes = OffsetBytes(entries, sectionPosition);
  Text text = IntToText(streamNumber) + " 0 obj\r\n<<\r\n/Type/XRef\r\n";
  text += "/W[1 " + IntToText(offsetBytes) + " 2]\r\n";
  text += "/Root " + trailer.RootReference + "\r\n";
  text += "/Prev " + IntToText(trailer.PreviousSectionOffset) + "\r\n";
  text += "/Length " + IntToText((1 + offsetBytes + 2) * rows) + "\r\n";
  text += "/Size " + IntToText(UpdatedSize(streamNumber + 1, extraKey)) + "\r\n";
  text += "/Index [";
  for (const Entry& entry : entries) text += IntToText(ObjectNumber(entry.Key)) + " 1 ";
  text += IntToText(streamNumber) + " 1]\r\n";
  if (!trailer.InfoReference.empty()) text += "/Info " + trailer.InfoReference + "\r\n";
  text += ">>\r\nstream\r\n";
  // The rows follow "stream\r\n" directly and "endstream" follows the last
  // row directly; /Length counts exactly the rows.
  for (const Entry& entry : entries) {
    AppendStreamRow(text, entry.At, ObjectGeneration(entry.Key), offsetBytes);
  }
  AppendStreamRow(text, sectionPosition, 0, offsetBytes);
  text += "endstream\r\nendobj\r\n";
  return text;
}

Text EndBlock(Position sectionPosition) {
  return "startxref\r\n" + IntToText(sectionPosition) + "\r\n%%EOF\r\n";
}

}  // namespace

ObjectKey ExtraObjectKeyFor(const TrailerValues& trailer) {
  const std::int64_t first =
      std::int64_t{trailer.TrailerSize} + (trailer.LastSectionIsStream ? 1 : 0);
  return MakeObjectKey(std::max(first, kUsualExtraObjectNumber), 1);
}

void WriteUpdate(FileAccess& source, const std::vector<ObjectKey>& imageKeys,
                 const TrailerValues& trailer, const PlaceholderTemplates& templates,
                 const std::vector<RewrittenObject>& rewrittenObjects) {
  std::optional<ObjectKey> extraKey;
  if (templates.extra) extraKey = ExtraObjectKeyFor(trailer);

  // Built whole before it is appended: a table that cannot hold its
  // offsets is refused with nothing appended.
  AppendedBytes update(source);
  std::vector<Entry> entries;
  entries.reserve(imageKeys.size() + rewrittenObjects.size() + 1);
  const ObjectKey bodyExtraKey = extraKey.value_or(ExtraObjectKey);
  for (const ObjectKey key : imageKeys) {
    entries.push_back({key, update.End()});
    update.Add(ReplacementObjectText(key, templates, bodyExtraKey));
  }
  for (const RewrittenObject& object : rewrittenObjects) {
    entries.push_back({object.Key, update.End()});
    update.Add(object);
  }
  if (extraKey) {
    entries.push_back({*extraKey, update.End()});
    update.Add(ExtraObjectText(templates, *extraKey));
  }
  const Position sectionPosition = update.End();
  if (trailer.LastSectionIsStream) {
    update.Add(XrefStream(entries, trailer, extraKey, sectionPosition));
  } else {
    update.Add(XrefTable(entries, trailer, extraKey));
  }
  update.Add(EndBlock(sectionPosition));
  update.AppendTo(source);
}

}  // namespace quillane
