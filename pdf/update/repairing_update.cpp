#include "pdf/update/repairing_update.h"

#include <algorithm>
#include <iterator>
#include <span>

#include "pdf/update/appended_bytes.h"

namespace quillane {

namespace {

constexpr std::int64_t kUsualExtraObjectNumber = 9999;

}  // namespace

std::int64_t WriteRepairingUpdate(FileAccess& source, const FoundObjects& found,
                                  const std::vector<ObjectKey>& imageKeys,
                                  const PlaceholderTemplates& templates,
                                  const std::vector<RewrittenObject>& rewrittenObjects) {
  // Object 0 heads the free list and a generation stops at 65535 (ISO
  // 32000-1, 7.5.4): a header that says otherwise names no object a section
  // can list, and its hit gets no new version; nor does a number too high.
  const auto listable = [](ObjectKey key) {
    return ObjectNumber(key) > 0 && ObjectNumber(key) <= kHighestRepairedNumber &&
           ObjectGeneration(key) >= 0 && ObjectGeneration(key) <= 65535;
  };
  std::vector<ObjectKey> images;
  images.reserve(imageKeys.size());
  std::copy_if(imageKeys.begin(), imageKeys.end(), std::back_inserter(images), listable);
  const auto foundEnd =
      std::upper_bound(found.Rows.begin(), found.Rows.end(), kHighestRepairedNumber,
                       [](std::int64_t number, const XrefRow& row) { return number < row.Number; });
  const std::span<const XrefRow> rowsFound(found.Rows.begin(), foundEnd);
  std::int64_t highest = rowsFound.empty() ? 0 : rowsFound.back().Number;
  for (const ObjectKey key : images) highest = std::max(highest, ObjectNumber(key));
  for (const RewrittenObject& object : rewrittenObjects) {
    if (listable(object.Key)) highest = std::max(highest, ObjectNumber(object.Key));
  }
  std::optional<ObjectKey> extraKey;
  if (templates.extra) {
    extraKey = MakeObjectKey(std::max(highest + 1, kUsualExtraObjectNumber), 1);
  }

  // Built whole before anything is appended, as WriteUpdate does.
  AppendedBytes update(source);
  // The new versions, in the order written, offsets as the section gives
  // them.
  std::vector<XrefRow> added;
  const auto list = [&added, &update, &found](ObjectKey key) {
    XrefRow row;
    row.Number = ObjectNumber(key);
    row.Generation = ObjectGeneration(key);
    row.Offset = update.End() - found.OffsetBase;
    added.push_back(row);
  };
  const ObjectKey bodyExtraKey = extraKey.value_or(ExtraObjectKey);
  for (const ObjectKey key : images) {
    list(key);
    update.Add(ReplacementObjectText(key, templates, bodyExtraKey));
  }
  for (const RewrittenObject& object : rewrittenObjects) {
    if (!listable(object.Key)) continue;
    list(object.Key);
    update.Add(object);
  }
  if (extraKey) {
    list(*extraKey);
    update.Add(ExtraObjectText(templates, *extraKey));
  }

  // The rows found and the new versions merged by number: a new version
  // takes the place of the one found, and of a number written twice the
  // later one is listed.
  std::stable_sort(added.begin(), added.end(),
                   [](const XrefRow& a, const XrefRow& b) { return a.Number < b.Number; });
  std::vector<XrefRow> section;
  section.reserve(rowsFound.size() + added.size());
  bool compressed = false;
  auto next = added.begin();
  for (const XrefRow& row : rowsFound) {
    for (; next != added.end() && next->Number <= row.Number; ++next) {
      if (next + 1 == added.end() || (next + 1)->Number != next->Number) section.push_back(*next);
    }
    if (!section.empty() && section.back().Number == row.Number) continue;
    section.push_back(row);
    if (row.InObjectStream) {
      compressed = true;
    } else {
      section.back().Offset -= found.OffsetBase;
    }
  }
  for (; next != added.end(); ++next) {
    if (next + 1 == added.end() || (next + 1)->Number != next->Number) section.push_back(*next);
  }
  // A table has no entry for an object in an object stream (ISO 32000-1,
  // 7.5.8.3): those need the stream form.
  const bool stream = found.StreamForm || compressed;
  const Position position = update.End() - found.OffsetBase;
  auto listed = static_cast<std::int64_t>(section.size());
  if (stream) {
    const std::int64_t number = (section.empty() ? 0 : section.back().Number) + 1;
    update.Add(CompleteStream(section, found.Trailer, number, position));
    ++listed;
  } else {
    update.Add(CompleteTable(section, found.Trailer, position));
  }
  update.AppendTo(source);
  return listed;
}

}  // namespace quillane
