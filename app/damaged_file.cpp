#include "app/damaged_file.h"

#include <algorithm>
#include <string_view>

namespace quillane {

namespace {

// Readers look for the header in the first 1024 bytes; junk before it
// shifts the file, and they count every offset from the header then.
constexpr Position kHeaderSearch = 1024;

Position HeaderPosition(const FileAccess& source) {
  const Text start = source.Substring(0, std::min<Position>(kHeaderSearch, source.Size()));
  const std::size_t header = start.find("%PDF-");
  return header == Text::npos ? 0 : static_cast<Position>(header);
}

Text ReferenceText(const PdfObject& value) {
  return ObjectKeyToText(MakeObjectKey(value.Number, value.Generation)) + " R";
}

}  // namespace

std::optional<RebuiltFile> RebuildDamagedFile(const FileAccess& source) {
  CrossReference xref = CrossReference::Reconstruct(source, "damaged");
  const TrailerValue* root = xref.Trailer("Root");
  if (xref.LiveCount() == 0 || root == nullptr || root->Value.Kind != PdfObject::Type::kReference) {
    return std::nullopt;
  }
  FoundObjects found;
  found.OffsetBase = HeaderPosition(source);
  found.Trailer.Root = ReferenceText(root->Value);
  if (const TrailerValue* info = xref.Trailer("Info");
      info != nullptr && info->Value.Kind == PdfObject::Type::kReference) {
    found.Trailer.Info = ReferenceText(info->Value);
  }
  if (const TrailerValue* id = xref.Trailer("ID");
      id != nullptr && id->Value.Kind == PdfObject::Type::kArray) {
    found.Trailer.Id = id->Bytes;
  }
  found.StreamForm = xref.NewestForm() == SectionForm::kStream;
  found.Rows.reserve(xref.LiveCount());
  xref.ForEachLiveEntry([&found](const XrefEntry& entry) {
    if (entry.Number == 0) return;
    XrefRow row;
    row.Number = entry.Number;
    row.Generation = entry.Generation;
    row.InObjectStream = entry.Type == XrefEntryType::kCompressed;
    row.Offset = entry.Offset;
    row.Stream = entry.StreamNumber;
    row.Index = entry.StreamIndex;
    found.Rows.push_back(row);
  });
  // An object found before the header cannot be listed from it.
  found.Rows.erase(std::remove_if(found.Rows.begin(), found.Rows.end(),
                                  [&found](const XrefRow& row) {
                                    return !row.InObjectStream && row.Offset < found.OffsetBase;
                                  }),
                   found.Rows.end());
  std::optional<std::int64_t> encrypt;
  if (const TrailerValue* value = xref.Trailer("Encrypt")) {
    encrypt = value->Value.Kind == PdfObject::Type::kReference ? value->Value.Number : 0;
  }
  return RebuiltFile{std::move(xref), std::move(found), encrypt};
}

}  // namespace quillane
