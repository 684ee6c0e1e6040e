#include "pdf/templates.h"

namespace quillane {

Text ReplacementObjectText(ObjectKey key, const PlaceholderTemplates& templates,
                           ObjectKey extraKey) {
  Text text = IntToText(ObjectNumber(key)) + " " + IntToText(ObjectGeneration(key)) + " obj\n";
  if (HasExtraObject(templates.mode)) {
    text += ReplaceAll(templates.body, kExtraObjectPlaceholder, ObjectKeyToText(extraKey));
  } else {
    text += templates.body;
  }
  text += "endobj\n";
  return text;
}

Text ExtraObjectText(const PlaceholderTemplates& templates, ObjectKey extraKey) {
  return ReplaceAll(*templates.extra, kExtraObjectPlaceholder, ObjectKeyToText(extraKey));
}

}  // namespace quillane
