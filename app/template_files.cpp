#include "app/template_files.h"

#include "platform/platform.h"

namespace quillane {

PlaceholderTemplates LoadPlaceholderTemplates(ReplaceMode mode, const Text& directory,
                                              bool inlineImages) {
  PlaceholderTemplates templates;
  templates.Mode = mode;
  // "otherimg.dat" is read in both other modes, so a deployment without it
  // fails even in the translucent mode, which does not use it as a body.
  if (mode != ReplaceOutline || inlineImages) {
    const Text defaultBody = platform::ReadWholeFile(directory + "otherimg.dat");
    if (inlineImages) templates.InlineGray = PlaceholderGray(defaultBody);
    templates.body = defaultBody;
  }
  if (mode == ReplaceOutline) {
    templates.body = platform::ReadWholeFile(directory + "otheroimg.dat");
    templates.extra = platform::ReadWholeFile(directory + "otheromsk.dat");
  } else if (mode == ReplaceTGrayBox) {
    templates.body = platform::ReadWholeFile(directory + "othertimg.dat");
    templates.extra = platform::ReadWholeFile(directory + "othertmsk.dat");
  }
  return templates;
}

}  // namespace quillane
