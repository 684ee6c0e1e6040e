#!/usr/bin/env python3
"""Makes the small fonts tests/fonts reads, each named after what it exercises.

Written with fontTools (python3-fonttools), an implementation of its own, so
the tests do not read fonts made by the code they test. Run from anywhere;
the fonts are written beside this script:

  character maps: cmap-format12-first.ttf ((3,10) format 12 beside
    (3,1)/(0,3) format 4 and (1,0) format 6, each mapping 'A' elsewhere),
    cmap-format4.ttf ((3,1) format 4 with delta and range-offset segments,
    beside (1,0) format 6), cmap-format0.ttf ((3,1) format 0 only),
    cmap-mac-format6.ttf ((1,0) format 6 only, read for ASCII only);
  outlines: glyphless-diagonal.ttf (every glyph one contour of two off-curve
    corners, as OCR fonts draw them), glyphless-rectangle.ttf (rectangles
    drawn three ways under a .notdef frame), shapes.ttf (one glyph of each
    shape that is no common box);
  containers: cff-outlines.otf ('OTTO'), collection.ttc (two fonts, 1000 and
    2048 units per em), apple-true.ttf (sfnt version 'true').
"""
import os

from fontTools.fontBuilder import FontBuilder
from fontTools.pens.t2CharStringPen import T2CharStringPen
from fontTools.pens.ttGlyphPen import TTGlyphPen
from fontTools.ttLib import TTCollection, newTable
from fontTools.ttLib.tables import _g_l_y_f
from fontTools.ttLib.tables._c_m_a_p import CmapSubtable

HERE = os.path.dirname(os.path.abspath(__file__))


def contour_glyph(contours):
    """A simple glyph of contours, each a list of (x, y, on_curve)."""
    glyph = _g_l_y_f.Glyph()
    coordinates, flags, ends = [], [], []
    for contour in contours:
        for x, y, on in contour:
            coordinates.append((x, y))
            flags.append(1 if on else 0)
        ends.append(len(coordinates) - 1)
    glyph.coordinates = _g_l_y_f.GlyphCoordinates(coordinates)
    glyph.flags = bytearray(flags)
    glyph.endPtsOfContours = ends
    glyph.numberOfContours = len(contours)
    glyph.program = _g_l_y_f.ttProgram.Program()
    glyph.program.fromBytecode(b"")
    return glyph


def empty_glyph():
    return TTGlyphPen(None).glyph()


def triangle(size):
    return contour_glyph([[(0, 0, True), (size, 0, True), (size // 2, size, True)]])


def box(x0, y0, x1, y1):
    return contour_glyph([[(x0, y0, True), (x0, y1, True), (x1, y1, True), (x1, y0, True)]])


def composite(base_name, dx):
    glyph = _g_l_y_f.Glyph()
    component = _g_l_y_f.GlyphComponent()
    component.glyphName = base_name
    component.x, component.y = dx, 0
    component.flags = 0x0004  # ROUND_XY_TO_GRID
    glyph.components = [component]
    glyph.numberOfContours = -1
    return glyph


def build(glyphs, cmaps, units_per_em=1000, name="QuillaneTest"):
    """A TrueType font of `glyphs` (name, glyph) and `cmaps`
    [(platform, encoding, format, {code: name})]."""
    order = [name for name, _ in glyphs]
    builder = FontBuilder(units_per_em, isTTF=True)
    builder.setupGlyphOrder(order)
    builder.setupCharacterMap({})
    builder.setupGlyf(dict(glyphs))
    builder.setupHorizontalMetrics({n: (500 + 10 * i, 0) for i, n in enumerate(order)})
    builder.setupHorizontalHeader(ascent=800, descent=-200)
    builder.setupNameTable({"familyName": name, "styleName": "Regular", "psName": name + "-Regular"})
    builder.setupOS2(sTypoAscender=750, sTypoDescender=-250, sCapHeight=700, sxHeight=500,
                     usWeightClass=700, fsType=0x0004)
    builder.setupPost(italicAngle=-12.5, isFixedPitch=1)
    font = builder.font
    font["hmtx"].metrics = {n: (500 + 10 * i, 0) for i, n in enumerate(order)}
    table = newTable("cmap")
    table.tableVersion = 0
    table.tables = []
    for platform, encoding, fmt, mapping in cmaps:
        subtable = CmapSubtable.newSubtable(fmt)
        subtable.platformID, subtable.platEncID, subtable.language = platform, encoding, 0
        subtable.cmap = dict(mapping)
        table.tables.append(subtable)
    font["cmap"] = table
    return font


def save(font, name):
    font.save(os.path.join(HERE, name))


def letters():
    return [(".notdef", empty_glyph())] + [(c, triangle(100 * (i + 1))) for i, c in enumerate("ABCDE")]


def main():
    save(build(letters(), [
        (3, 10, 12, {0x41: "A", 0x1F600: "E"}),
        (3, 1, 4, {0x41: "B", 0x42: "B"}),
        (0, 3, 4, {0x41: "C"}),
        (1, 0, 6, {0x41: "D"}),
    ]), "cmap-format12-first.ttf")
    # 'A' and 'B' take consecutive glyphs (one segment with a delta), 'C' and
    # 'D' do not (a segment through the glyph index array); U+03A9 stands apart.
    save(build(letters(), [
        (3, 1, 4, {0x41: "A", 0x42: "B", 0x43: "D", 0x44: "C", 0x3A9: "E"}),
        (1, 0, 6, {0x41: "E"}),
    ]), "cmap-format4.ttf")
    save(build(letters(), [(3, 1, 0, {0x41: "C", 0xE9: "D"})]), "cmap-format0.ttf")
    save(build(letters(), [(1, 0, 6, {0x41: "A", 0x8E: "B"})]), "cmap-mac-format6.ttf")

    diagonal = contour_glyph([[(0, 0, False), (1000, 1000, False)]])
    save(build([(".notdef", empty_glyph())] + [("g%d" % i, diagonal) for i in range(1, 5)],
               [(1, 0, 6, {0x41 + i: "g%d" % (1 + i % 4) for i in range(8)})]),
         "glyphless-diagonal.ttf")
    frame = contour_glyph([[(0, 0, True), (0, 800, True), (500, 800, True), (500, 0, True)],
                           [(50, 50, True), (450, 50, True), (450, 750, True), (50, 750, True)]])
    closed = contour_glyph([[(0, -200, True), (0, 800, True), (500, 800, True), (500, -200, True),
                             (0, -200, True)]])
    off_curve = contour_glyph([[(500, 800, False), (500, -200, False), (0, -200, False),
                                (0, 800, False)]])
    save(build([(".notdef", frame), ("box", box(0, -200, 500, 800)), ("closed", closed),
                ("space", empty_glyph()), ("offcurve", off_curve)],
               [(3, 1, 4, {0x41: "box", 0x42: "closed", 0x20: "space", 0x43: "offcurve"})]),
         "glyphless-rectangle.ttf")
    hourglass = contour_glyph([[(0, 0, True), (500, 800, True), (500, 0, True), (0, 800, True)]])
    line = contour_glyph([[(0, 0, True), (500, 0, True)]])
    save(build([(".notdef", empty_glyph()), ("box", box(0, 0, 500, 700)),
                ("wide", box(0, 0, 900, 700)), ("triangle", triangle(600)),
                ("hourglass", hourglass), ("line", line), ("composite", composite("box", 50)),
                ("empty", empty_glyph())],
               [(3, 1, 4, {0x41 + i: n for i, n in enumerate(
                   ["box", "wide", "triangle", "hourglass", "line", "composite", "empty"])})]),
         "shapes.ttf")

    cff = FontBuilder(1000, isTTF=False)
    cff.setupGlyphOrder([".notdef", "A"])
    cff.setupCharacterMap({0x41: "A"})
    pen = T2CharStringPen(500, None)
    pen.moveTo((0, 0))
    pen.lineTo((500, 0))
    pen.lineTo((250, 700))
    pen.closePath()
    cff.setupCFF("QuillaneCff", {"FullName": "QuillaneCff"},
                 {".notdef": T2CharStringPen(500, None).getCharString(), "A": pen.getCharString()},
                 {})
    cff.setupHorizontalMetrics({".notdef": (500, 0), "A": (500, 0)})
    cff.setupHorizontalHeader(ascent=800, descent=-200)
    cff.setupNameTable({"familyName": "QuillaneCff", "styleName": "Regular"})
    cff.setupOS2()
    cff.setupPost()
    cff.font.save(os.path.join(HERE, "cff-outlines.otf"))

    collection = TTCollection()
    collection.fonts = [build(letters(), [(3, 1, 4, {0x41: "A"})], 1000, "First"),
                        build(letters(), [(3, 1, 4, {0x41: "B"})], 2048, "Second")]
    collection.save(os.path.join(HERE, "collection.ttc"))
    apple = build(letters(), [(3, 1, 4, {0x41: "A"})], name="AppleTrue")
    apple.sfntVersion = "true"
    save(apple, "apple-true.ttf")


if __name__ == "__main__":
    main()
