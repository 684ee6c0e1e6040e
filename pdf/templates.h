// The placeholder templates: files beside the executable whose bytes become
// the body of every replacement object ("otherimg.dat", or "othertimg.dat" in
// the translucent mode) and, in the translucent mode, one extra object shared
// by all placeholders ("othertmsk.dat"). The program never looks inside them;
// it only substitutes "${EXTRAOBJNR}" with the extra object's number and
// generation.
#ifndef QUILLANE_PDF_TEMPLATES_H_
#define QUILLANE_PDF_TEMPLATES_H_

#include <optional>

#include "base/text.h"
#include "pdf/object_key.h"
#include "pdf/replace_mode.h"

namespace quillane {

inline constexpr char kExtraObjectPlaceholder[] = "${EXTRAOBJNR}";
// The extra object's usual key: object 9999, generation 1. A document whose
// numbers already reach 9999 gets the first free number instead (see
// ExtraObjectKeyFor in update_writer.h).
inline constexpr ObjectKey ExtraObjectKey = MakeObjectKey(9999, 1);

struct PlaceholderTemplates {
  ReplaceMode mode = ReplaceDefault;
  // Body of each replacement object, byte for byte.
  Text body;
  // The whole extra object; present (possibly empty) only in ReplaceTGrayBox.
  std::optional<Text> extra;
};

// Reads "otherimg.dat" from `programDirectory` (which ends with a path
// separator), and in ReplaceTGrayBox then "othertimg.dat" and "othertmsk.dat".
// Throws the file-open error of the first file that cannot be read.
// REQUIRES: mode != ReplaceNone.
PlaceholderTemplates LoadPlaceholderTemplates(ReplaceMode mode, const Text& programDirectory);

// "N G obj\n" + body + "endobj\n"; in ReplaceTGrayBox the body has every
// placeholder replaced by the text of `extraKey`.
Text ReplacementObjectText(ObjectKey key, const PlaceholderTemplates& templates,
                           ObjectKey extraKey);

// The extra object with every placeholder replaced by the text of `extraKey`.
// REQUIRES: templates.extra is present.
Text ExtraObjectText(const PlaceholderTemplates& templates, ObjectKey extraKey);

}  // namespace quillane

#endif  // QUILLANE_PDF_TEMPLATES_H_
