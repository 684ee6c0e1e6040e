#include "app/template_files.h"

#include "platform/platform.h"

namespace quillane {

PlaceholderTemplates LoadPlaceholderTemplates(ReplaceMode mode, const Text& directory) {
  PlaceholderTemplates templates;
  templates.mode = mode;
  if (mode == ReplaceOutline) {
    templates.body = platform::ReadWholeFile(directory + "otheroimg.dat");
    templates.extra = platform::ReadWholeFile(directory + "otheromsk.dat");
    return templates;
  }
  // "otherimg.dat" is read in both other modes, so a deployment without it
  // fails even in the translucent mode, which does not use it.
  templates.body = platform::ReadWholeFile(directory + "otherimg.dat");
  if (mode == ReplaceTGrayBox) {
    templates.body = platform::ReadWholeFile(directory + "othertimg.dat");
    templates.extra = platform::ReadWholeFile(directory + "othertmsk.dat");
  }
  return templates;
}

}  // namespace quillane
