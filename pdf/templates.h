// The placeholder templates: the bytes of the data files deployed beside the
// executable, which become the body of every replacement object
// ("otherimg.dat"; "othertimg.dat" in the translucent mode, "otheroimg.dat"
// in the outline mode) and, in those two modes, one extra object shared by
// all placeholders ("othertmsk.dat", "otheromsk.dat"). They arrive here as bytes (app/ reads the
// files); the program never looks inside them and only substitutes "${EXTRAOBJNR}" with the extra
// object's number and generation.
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
  // The whole extra object; present (possibly empty) only in the modes with
  // one (HasExtraObject).
  std::optional<Text> extra;
};

// "N G obj\n" + body + "endobj\n"; in the modes with an extra object the body has every
// placeholder replaced by the text of `extraKey`.
Text ReplacementObjectText(ObjectKey key, const PlaceholderTemplates& templates,
                           ObjectKey extraKey);

// The extra object with every placeholder replaced by the text of `extraKey`.
// REQUIRES: templates.extra is present.
Text ExtraObjectText(const PlaceholderTemplates& templates, ObjectKey extraKey);

}  // namespace quillane

#endif  // QUILLANE_PDF_TEMPLATES_H_
