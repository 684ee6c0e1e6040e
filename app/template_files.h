// Reading the placeholder templates, the data files deployed beside the
// executable, for the update writer (pdf/templates.h), which only ever sees
// their bytes.
#ifndef QUILLANE_APP_TEMPLATE_FILES_H_
#define QUILLANE_APP_TEMPLATE_FILES_H_

#include "base/text.h"
#include "pdf/replace_mode.h"
#include "pdf/templates.h"

namespace quillane {

// Reads "otherimg.dat" from `directory` (which ends with a path separator),
// and in ReplaceTGrayBox then "othertimg.dat" and "othertmsk.dat", in this
// order, each whole; in ReplaceOutline only "otheroimg.dat" and
// "otheromsk.dat". Throws the file-open error of the first file that cannot
// be read: "Cannot open file \"<full path>\". <reason>".
// REQUIRES: mode != ReplaceNone.
PlaceholderTemplates LoadPlaceholderTemplates(ReplaceMode mode, const Text& directory);

}  // namespace quillane

#endif  // QUILLANE_APP_TEMPLATE_FILES_H_
