// Reading the placeholder templates, the data files deployed beside the
// executable, for the update writer and the inline-image rewrite
// (pdf/update/templates.h), each file once.
#ifndef QUILLANE_APP_TEMPLATE_FILES_H_
#define QUILLANE_APP_TEMPLATE_FILES_H_

#include "base/text.h"
#include "pdf/update/replace_mode.h"
#include "pdf/update/templates.h"

namespace quillane {

// Reads the templates of `mode` from `directory` (which ends with a path
// separator), each whole: "otherimg.dat", then in ReplaceTGrayBox
// "othertimg.dat" and "othertmsk.dat"; in ReplaceOutline "otheroimg.dat" and
// "otheromsk.dat", with "otherimg.dat" before them only when `inlineImages`
// asks for the gray of inline-image placeholders (PlaceholderGray of
// "otherimg.dat", set in every mode then). Throws the file-open error of the
// first file that cannot be read: "Cannot open file \"<full path>\". <reason>".
// REQUIRES: mode != ReplaceNone.
PlaceholderTemplates LoadPlaceholderTemplates(ReplaceMode mode, const Text& directory,
                                              bool inlineImages = false);

}  // namespace quillane

#endif  // QUILLANE_APP_TEMPLATE_FILES_H_
