// The log hook: how diagnostic lines leave the layer that writes them. A run
// hands one hook down to every step; the program installs none unless
// QUILLANE_LOG asks for the lines.
#ifndef QUILLANE_BASE_LOG_HOOK_H_
#define QUILLANE_BASE_LOG_HOOK_H_

#include <functional>

#include "base/text.h"

namespace quillane {

// Receives the diagnostic lines, one call per line without its line end; an
// empty hook drops them, and callers then do not even format them.
using LogHook = std::function<void(const Text&)>;

}  // namespace quillane

#endif  // QUILLANE_BASE_LOG_HOOK_H_
