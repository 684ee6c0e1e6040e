// A test-side maker of scanned pages with an OCR text layer, as the usual OCR
// tools write them (tests/conformance/ocr_layers.md): one page of 200 x 100
// points, a 2 x 2 gray picture over the whole page, and its words drawn in
// render mode 3 with a glyphless Type 0 font like Tesseract's (codes the
// UTF-16 units of the letters, /ToUnicode the identity, every code drawn as
// the same box glyph, /DW 500) or with a non-embedded Helvetica.
//
// Objects: 1 catalog, 2 pages, 3 page (/Resources direct: /Font /F1 unless
// the layer is in a form, /XObject /Im1, and /Tx when the layer is in a form), 4 page
// contents, 5 font, 6 picture, 7 the form holding the layer (with its own /Resources), 8
// CIDFont, 9 /ToUnicode, 10 descriptor, 11 CIDToGIDMap, 12 font program (the
// test font glyphless-rectangle.ttf); with object streams, 1, 2, 3, 5, 8 and
// 10 are in object stream 13.
#ifndef QUILLANE_TESTS_SUPPORT_OCR_LAYER_H_
#define QUILLANE_TESTS_SUPPORT_OCR_LAYER_H_

#include <string>
#include <vector>

#include "support/pdf_builder.h"

namespace quillane::test {

struct OcrLayer {
  enum class Font { kGlyphless, kHelvetica };
  Font TextFont = Font::kGlyphless;
  // The words, each drawn with its own show operator: ASCII for Helvetica,
  // any text of the Basic Multilingual Plane (UTF-32) for the glyphless font.
  std::vector<std::u32string> Words = {U"Hi", U"World"};
  // The line drawn right to left as Tesseract draws one: under a mirrored
  // matrix from the page's right side ("-1 0 0 1 190 50 Tm").
  bool RightToLeft = false;
  // The render mode the text is drawn in.
  int RenderMode = 3;
  // The text before the picture (under it), as OCRmyPDF draws it; otherwise
  // after it, as Tesseract does.
  bool TextUnderPicture = false;
  // The layer in a form XObject that the page contents draw.
  bool InForm = false;
  // Bytes the page contents end with (an inline image, say).
  std::string ExtraContents;
  XrefForm Xref = XrefForm::kTable;
  bool ObjectStreams = false;
};

// The text drawing of `layer`, as it stands in the page contents or form:
// "BT\n3 Tr 1 0 0 1 10 50 Tm /F1 20 Tf 100 Tz [ <hex> ] TJ\n40 0 Td ...ET\n"
// for the glyphless font (each word but the last with a trailing space
// code), "BT\n/F1 20 Tf 3 Tr 1 0 0 1 10 50 Tm 90 Tz (Hi ) Tj\n40 0 Td ...ET\n"
// for Helvetica.
std::string OcrTextDrawing(const OcrLayer& layer);

// The page contents: "q 200 0 0 100 0 0 cm /Im1 Do Q\n" and the text
// drawing (or "q /Tx Do Q\n"), in the order the layer says, then the extra
// contents.
std::string OcrPageContents(const OcrLayer& layer);

std::string OcrLayerDocument(const OcrLayer& layer);

}  // namespace quillane::test

#endif  // QUILLANE_TESTS_SUPPORT_OCR_LAYER_H_
