// How a run replaces the images it finds.
#ifndef QUILLANE_PDF_UPDATE_REPLACE_MODE_H_
#define QUILLANE_PDF_UPDATE_REPLACE_MODE_H_

#include <cstdint>

namespace quillane {

enum ReplaceMode : std::uint8_t {
  // An incremental update replaces each image with the "otherimg.dat" body.
  ReplaceDefault = 0,
  // No update: each image's subtype name "Image" is renamed "Vexlo" in place.
  ReplaceNone = 1,
  // Like ReplaceDefault with "othertimg.dat" and one shared soft-mask object
  // from "othertmsk.dat": a translucent gray box.
  ReplaceTGrayBox = 2,
  // Like ReplaceTGrayBox with "otheroimg.dat" and one shared soft mask from
  // "otheromsk.dat" that shows only a thin frame and the two diagonals: the
  // page behind stays visible and a printer lays down almost no toner.
  ReplaceOutline = 3,
};

// True for the modes whose placeholders share one extra object (a soft mask).
inline constexpr bool HasExtraObject(ReplaceMode mode) {
  return mode == ReplaceTGrayBox || mode == ReplaceOutline;
}

}  // namespace quillane

#endif  // QUILLANE_PDF_UPDATE_REPLACE_MODE_H_
