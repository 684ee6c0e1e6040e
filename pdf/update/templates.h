// The placeholder templates: the bytes of the data files deployed beside the
// executable, which become the body of every replacement object
// ("otherimg.dat"; "othertimg.dat" in the translucent mode, "otheroimg.dat"
// in the outline mode) and, in those two modes, one extra object shared by
// all placeholders ("othertmsk.dat", "otheromsk.dat"). They arrive here as
// bytes (app/ reads the files) and are copied as they are, except that
// "${EXTRAOBJNR}" becomes the extra object's number and generation. The one
// look inside is PlaceholderGray: the gray that inline-image placeholders
// take from "otherimg.dat".
#ifndef QUILLANE_PDF_UPDATE_TEMPLATES_H_
#define QUILLANE_PDF_UPDATE_TEMPLATES_H_

#include <cstdint>
#include <optional>
#include <string_view>

#include "base/text.h"
#include "pdf/syntax/object_key.h"
#include "pdf/update/replace_mode.h"

namespace quillane {

inline constexpr char kExtraObjectPlaceholder[] = "${EXTRAOBJNR}";
// The extra object's usual key: object 9999, generation 1. A document whose
// numbers already reach 9999 gets the first free number instead (see
// ExtraObjectKeyFor in update_writer.h).
inline constexpr ObjectKey ExtraObjectKey = MakeObjectKey(9999, 1);

// The gray of placeholders when the template gives none: the light gray of
// the "otherimg.dat" that ships with the program.
inline constexpr std::uint8_t kFallbackGray = 0xD0;

struct PlaceholderTemplates {
  ReplaceMode Mode = ReplaceDefault;
  // Body of each replacement object, byte for byte.
  Text body;
  // The whole extra object; present (possibly empty) only in the modes with
  // one (HasExtraObject).
  std::optional<Text> extra;
  // The gray of the placeholders of inline images (PlaceholderGray of
  // "otherimg.dat"); kFallbackGray when the run rewrites no inline images.
  std::uint8_t InlineGray = kFallbackGray;
};

// The gray level of the placeholder picture in `templateBytes`, the content
// of "otherimg.dat" (a dictionary, "stream", the data): its first sample
// when it is DeviceGray (or the luminance of its first pixel when it is
// DeviceRGB) at 8 bits per component, the data decoded through its filters;
// kFallbackGray for any other template.
std::uint8_t PlaceholderGray(std::string_view templateBytes);

// "N G obj\n" + body + "endobj\n"; in the modes with an extra object the body has every
// placeholder replaced by the text of `extraKey`.
Text ReplacementObjectText(ObjectKey key, const PlaceholderTemplates& templates,
                           ObjectKey extraKey);

// The extra object with every placeholder replaced by the text of `extraKey`.
// REQUIRES: templates.extra is present.
Text ExtraObjectText(const PlaceholderTemplates& templates, ObjectKey extraKey);

}  // namespace quillane

#endif  // QUILLANE_PDF_UPDATE_TEMPLATES_H_
