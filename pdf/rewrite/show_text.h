// Invisible text made visible: the edits of one content stream that draw the
// text of an OCR layer (render mode 3, or 7 with clipping, ISO 32000-1,
// 9.3.6) instead of hiding it. The edits are the only bytes that change:
//  - the render mode: 3 becomes 0 (fill), 7 becomes 4 (fill and clip);
//  - inside a text object that shows such text, a fill colour too light to
//    see, or a graphics state that makes filling transparent, gives way to
//    black (an opaque DeviceGray 0, and the graphics state "QuillaneOpaque"),
//    and is set again after the object's ET;
//  - the words of a font replaced by the text font (a glyphless OCR font)
//    get the horizontal scaling (Tz) that makes them span their box again
//    with the text font's widths, and the scaling in effect back after them;
//  - such a word shown under a mirrored text matrix (a right-to-left line as
//    Tesseract writes it: its letters in reading order, advancing leftwards)
//    is drawn in its box under the matrix made unmirrored, its codes in
//    reverse, so the letters read right to left as they should instead of
//    being mirror images; the text position is then set back to where the
//    word leaves it (the matrix as it was, and the word's advance as a TJ
//    displacement). Only a word shown right after the text matrix or line
//    was set (Tm, Td, TD, T*), with one string and no character or word
//    spacing, is drawn so; any other stays mirrored;
//  - an image drawn on a page whose text is shown is painted in the blend
//    mode Multiply (the graphics state "QuillaneMultiply", ISO 32000-1,
//    11.3.5): its placeholder then darkens the text drawn under it but never
//    hides it, whatever the mode (gray box, translucent box, outline).
// The caller adds the two graphics states to the stream's resources.
#ifndef QUILLANE_PDF_REWRITE_SHOW_TEXT_H_
#define QUILLANE_PDF_REWRITE_SHOW_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "pdf/content/content_stream.h"
#include "pdf/rewrite/to_unicode.h"

namespace quillane {

// The resource names of the graphics states the edits use.
inline constexpr char kMultiplyState[] = "QuillaneMultiply";
inline constexpr char kOpaqueState[] = "QuillaneOpaque";

// A glyphless font drawn with the text font instead: the advance of each
// code before and after, in thousandths of text space (as /W gives them).
struct ReplacedFontWidths {
  ToUnicodeMap Codes;
  std::function<double(std::uint32_t code)> OldWidth;
  std::function<double(std::uint32_t code)> NewWidth;
};

// What the editor asks of the resources the stream is drawn with.
struct ShowTextResources {
  // The font a /Font resource name selects, when it is a glyphless font the
  // text font replaces; null otherwise.
  std::function<const ReplacedFontWidths*(std::string_view name)> ReplacedFont;
  // The /XObject resource name names an image the update replaces (its
  // placeholder).
  std::function<bool(std::string_view name)> IsImage;
  // The /ExtGState resource name makes filling transparent (a /ca below
  // 0.5) or is unknown.
  std::function<bool(std::string_view name)> HidesFill;
};

struct ShowTextEditing {
  // Images are painted in the blend mode Multiply: the page shows text.
  bool WrapImages = false;
  ShowTextResources Resources;
};

// The editor of one content stream, given to ReadContent as its
// OperationEditor (Editor()). The state it keeps (render mode, scaling,
// font, fill colour, graphics states, with q and Q) starts as a page's
// content starts; a form inherits it from where it is drawn, which the
// editor does not know: there it assumes the text visible in a dark colour
// until the stream says otherwise.
class ShowTextEditor {
 public:
  explicit ShowTextEditor(ShowTextEditing editing);

  OperationEditor Editor();

  // The stream shows text in render mode 3 or 7 (and so has edits).
  bool DrawsInvisibleText() const { return drawsInvisibleText_; }
  // Images wrapped in the blend mode Multiply.
  std::size_t WrappedImages() const { return wrappedImages_; }
  // The opaque graphics state was used.
  bool UsesOpaqueState() const { return usesOpaqueState_; }
  // The codes shown in each replaced font, by resource name, and those shown
  // under a mirrored text matrix (right-to-left lines as Tesseract writes
  // them).
  const std::map<Text, std::set<std::uint32_t>>& CodesShown() const { return codesShown_; }
  const std::map<Text, std::set<std::uint32_t>>& CodesMirrored() const { return codesMirrored_; }
  // Words under a mirrored matrix drawn unmirrored.
  std::size_t MirroredWords() const { return mirroredWords_; }

 private:
  struct State {
    int RenderMode = 0;
    double Scaling = 100;
    Text Font;
    // The operations that set the fill colour space and colour, as written;
    // empty for the colour the stream started with.
    Text ColourSpace;
    Text Colour;
    // The fill colour is too light to see, as far as the stream tells.
    bool LightFill = false;
    // The graphics-state operations met, as written, and whether one of
    // them makes filling transparent.
    Text GraphicsStates;
    bool TransparentFill = false;
    bool Mirrored = false;
    double FontSize = 0;
    double CharSpacing = 0;
    double WordSpacing = 0;
    double Leading = 0;
  };
  // Sets the line and text matrices (ISO 32000-1, 9.4.2): `m` for Tm, the
  // line matrix moved by (tx, ty) for Td.
  void SetTextMatrix(const std::vector<double>& m);
  void MoveLine(double tx, double ty);
  // The bytes that draw a mirrored word of `codes`, whose advance is
  // `advance` thousandths of an em, at horizontal scaling `scaling`.
  std::optional<Text> ShowMirrored(const State& state, const std::vector<ToUnicodeMap::Code>& codes,
                                   double scaling, double advance);

  std::optional<Text> Edit(const ContentOperation& operation);
  std::optional<Text> EditShow(const ContentOperation& operation);

  ShowTextEditing editing_;
  std::vector<State> states_{State{}};
  bool inText_ = false;
  // The text object shows invisible text and its edits made the fill dark,
  // or opaque: after its ET the stream's own colour and graphics states are
  // set again.
  bool overridden_ = false;
  bool darkened_ = false;
  bool madeOpaque_ = false;
  bool drawsInvisibleText_ = false;
  std::size_t wrappedImages_ = 0;
  bool usesOpaqueState_ = false;
  std::map<Text, std::set<std::uint32_t>> codesShown_;
  std::map<Text, std::set<std::uint32_t>> codesMirrored_;
  // The text object's line matrix, and whether the text matrix is still it
  // (nothing shown since it was set); false when an operand did not read.
  double lineMatrix_[6] = {1, 0, 0, 1, 0, 0};
  bool atLineStart_ = false;
  std::size_t mirroredWords_ = 0;
};

// A number for a content stream: at most four decimals, no exponent, no
// trailing zeros ("112.5", "100", "-0.25").
Text ContentNumber(double value);

}  // namespace quillane

#endif  // QUILLANE_PDF_REWRITE_SHOW_TEXT_H_
