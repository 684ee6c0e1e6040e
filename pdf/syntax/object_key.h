// The object key: the one integer form in which the program names an indirect
// PDF object (ISO 32000-1, 7.3.10), number * 100000 + generation, and its
// text form.
#ifndef QUILLANE_PDF_SYNTAX_OBJECT_KEY_H_
#define QUILLANE_PDF_SYNTAX_OBJECT_KEY_H_

#include <cstdint>

#include "base/text.h"

namespace quillane {

// Names an indirect object as number * 100000 + generation. Held in 64 bits so
// that object numbers above 21474, common in large documents, keep their
// number instead of wrapping around.
using ObjectKey = std::int64_t;
inline constexpr ObjectKey kNoObject = -1;
inline constexpr ObjectKey kObjectKeyFactor = 100000;

inline constexpr ObjectKey MakeObjectKey(std::int64_t number, std::int64_t generation) {
  return number * kObjectKeyFactor + generation;
}
// Truncating division: the remainder has the sign of the key.
inline constexpr std::int64_t ObjectNumber(ObjectKey key) { return key / kObjectKeyFactor; }
inline constexpr std::int64_t ObjectGeneration(ObjectKey key) { return key % kObjectKeyFactor; }

// "number generation", one blank between: 1200000 gives "12 0", -1 gives "0 -1".
Text ObjectKeyToText(ObjectKey key);

}  // namespace quillane

#endif  // QUILLANE_PDF_SYNTAX_OBJECT_KEY_H_
