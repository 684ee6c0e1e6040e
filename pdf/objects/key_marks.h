// A set of object keys over one document's table: a bit per entry for the
// keys the table lists live (the common case, one array access), a hash set
// for the rest (free, unlisted, another generation). A walk over twenty
// thousand pages asks it twice a page.
#ifndef QUILLANE_PDF_OBJECTS_KEY_MARKS_H_
#define QUILLANE_PDF_OBJECTS_KEY_MARKS_H_

#include <unordered_set>
#include <vector>

#include "pdf/objects/cross_reference.h"
#include "pdf/syntax/object_key.h"

namespace quillane {

class KeyMarks {
 public:
  // `xref` must outlive the set.
  explicit KeyMarks(const CrossReference& xref);
  KeyMarks(const CrossReference& xref, const std::vector<ObjectKey>& keys);

  // Marks `key`; false when it was marked already.
  bool Mark(ObjectKey key);
  bool Contains(ObjectKey key) const;

 private:
  const CrossReference& xref_;
  std::vector<bool> slots_;
  std::unordered_set<ObjectKey> others_;
};

}  // namespace quillane

#endif  // QUILLANE_PDF_OBJECTS_KEY_MARKS_H_
