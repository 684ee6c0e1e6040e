#include "pdf/templates.h"

#include "platform/platform.h"

namespace quillane {

PlaceholderTemplates LoadPlaceholderTemplates(ReplaceMode mode, const Text& programDirectory) {
  PlaceholderTemplates templates;
  templates.mode = mode;
  // "otherimg.dat" is read in both modes, so a deployment without it fails
  // even in the translucent mode, which does not use it.
  templates.body = platform::ReadWholeFile(programDirectory + "otherimg.dat");
  if (mode == ReplaceTGrayBox) {
    templates.body = platform::ReadWholeFile(programDirectory + "othertimg.dat");
    templates.extra = platform::ReadWholeFile(programDirectory + "othertmsk.dat");
  }
  return templates;
}

Text ReplacementObjectText(ObjectKey key, const PlaceholderTemplates& templates,
                           ObjectKey extraKey) {
  Text text = IntToText(ObjectNumber(key)) + " " + IntToText(ObjectGeneration(key)) + " obj\n";
  if (templates.mode == ReplaceTGrayBox) {
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
