#include "pdf/objects/key_marks.h"

namespace quillane {

KeyMarks::KeyMarks(const CrossReference& xref) : xref_(xref), slots_(xref.EntryCount(), false) {}

KeyMarks::KeyMarks(const CrossReference& xref, const std::vector<ObjectKey>& keys)
    : KeyMarks(xref) {
  for (const ObjectKey key : keys) Mark(key);
}

bool KeyMarks::Mark(ObjectKey key) {
  if (const std::optional<std::size_t> slot = xref_.LiveSlotOf(key)) {
    if (slots_[*slot]) return false;
    slots_[*slot] = true;
    return true;
  }
  return others_.insert(key).second;
}

bool KeyMarks::Contains(ObjectKey key) const {
  if (const std::optional<std::size_t> slot = xref_.LiveSlotOf(key)) return slots_[*slot];
  return others_.count(key) != 0;
}

}  // namespace quillane
