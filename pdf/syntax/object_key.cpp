#include "pdf/syntax/object_key.h"

namespace quillane {

Text ObjectKeyToText(ObjectKey key) {
  return IntToText(ObjectNumber(key)) + " " + IntToText(ObjectGeneration(key));
}

}  // namespace quillane
