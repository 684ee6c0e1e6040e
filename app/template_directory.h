// Where the program finds its placeholder templates. They sit beside the
// executable in the build tree and in the Windows folder; an installed Linux
// program keeps them in the shared data folder of its prefix,
// <prefix>/share/quillane/ beside <prefix>/bin/quillane.
#ifndef QUILLANE_APP_TEMPLATE_DIRECTORY_H_
#define QUILLANE_APP_TEMPLATE_DIRECTORY_H_

#include <functional>

#include "base/text.h"

namespace quillane {

// The directory of the templates for the program at `executablePath` (a full
// path), ending with a path separator: the executable's own directory when it
// holds "otherimg.dat", else its "../share/quillane/" when that holds it, else
// the executable's own directory, so that the error for the missing template
// names the file beside the executable. `fileExists` is asked about those two
// files only, in that order. A path without a directory part gives the empty
// text (the current directory) without asking.
Text TemplateDirectory(const Text& executablePath,
                       const std::function<bool(const Text&)>& fileExists);

}  // namespace quillane

#endif  // QUILLANE_APP_TEMPLATE_DIRECTORY_H_
