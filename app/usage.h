// The usage text: the forms of the command line, the options, the modes, the
// exit statuses and where the settings live, as "--help" prints it on POSIX
// and the usage box shows it on Windows.
#ifndef QUILLANE_APP_USAGE_H_
#define QUILLANE_APP_USAGE_H_

#include "base/text.h"
#include "platform/platform.h"

namespace quillane {

// The usage text for the conventions of `style`, lines ending with "\n".
Text UsageText(platform::CommandLineStyle style);

}  // namespace quillane

#endif  // QUILLANE_APP_USAGE_H_
