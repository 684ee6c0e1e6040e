#!/usr/bin/env python3
"""Checks a subset made by TrueTypeFont::Subset with fontTools, an independent
reader of TrueType fonts:

  check_subset.py ORIGINAL SUBSET keep|strip GLYPH...

The subset must read with every table checksum right (fontTools raises on a
wrong one) and the whole file summing to head's magic number; every table must
decompile; its tables are exactly head, hhea, maxp, loca, glyf and hmtx, plus
the original's 'cvt ', fpgm and prep when the hinting is kept. Its glyphs are
those of the original up to the highest one kept (glyph 0, the GLYPHs and the
components of kept composites): a kept glyph has the original's contours,
points, flags, components, advance and left side bearing, and the original's
instructions when they are kept or none when stripped; every other glyph is
empty with advance 0. Prints one line with the figures; exit status 0 when
everything holds, 1 with the first failure, 77 when fontTools is missing.
"""
import struct
import sys

try:
    from fontTools.ttLib import TTFont
except ImportError:
    print("fontTools is not installed (python3-fonttools)")
    sys.exit(77)


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def outline(font, glyph):
    """What a glyph draws, in a form that compares."""
    if glyph.isComposite():
        return ("composite", [(font.getGlyphID(c.glyphName), c.x, c.y, c.flags & ~0x0100,
                               getattr(c, "transform", None)) for c in glyph.components])
    if glyph.numberOfContours == 0:
        return ("empty",)
    return ("simple", list(glyph.endPtsOfContours), list(glyph.coordinates),
            [flag & 1 for flag in glyph.flags])


def instructions(glyph):
    program = getattr(glyph, "program", None)
    return program.getBytecode() if program else b""


def main():
    original_path, subset_path, hinting = sys.argv[1:4]
    asked = {int(g) for g in sys.argv[4:]}
    data = open(subset_path, "rb").read()
    total = sum(struct.unpack(">%dI" % (len(data) // 4), data[: len(data) // 4 * 4]))
    if len(data) % 4:
        total += int.from_bytes(data[len(data) // 4 * 4:].ljust(4, b"\0"), "big")
    if total & 0xFFFFFFFF != 0xB1B0AFBA:
        fail("the file does not sum to 0xB1B0AFBA (checksumAdjustment)")
    subset = TTFont(subset_path, checkChecksums=2)
    original = TTFont(original_path)
    for tag in subset.keys():
        subset[tag]  # decompiles the table
    expected = {"head", "hhea", "maxp", "loca", "glyf", "hmtx"}
    if hinting == "keep":
        expected |= {t for t in ("cvt ", "fpgm", "prep") if t in original}
    if set(subset.reader.keys()) != expected:
        fail("tables %s, expected %s" % (sorted(subset.reader.keys()), sorted(expected)))
    if subset["head"].indexToLocFormat not in (0, 1):
        fail("indexToLocFormat")

    original_glyf, subset_glyf = original["glyf"], subset["glyf"]
    original_order = original.getGlyphOrder()
    kept, pending = set(), [0] + sorted(g for g in asked if g < len(original_order))
    while pending:
        glyph = pending.pop()
        if glyph in kept:
            continue
        kept.add(glyph)
        source = original_glyf[original_order[glyph]]
        if source.isComposite():
            pending += [original.getGlyphID(c.glyphName) for c in source.components]
    count = max(kept) + 1
    if subset["maxp"].numGlyphs != count:
        fail("numGlyphs %d, expected %d" % (subset["maxp"].numGlyphs, count))
    subset_order = subset.getGlyphOrder()
    for glyph in range(count):
        name = subset_order[glyph]
        mine = subset_glyf[name]
        advance, bearing = subset["hmtx"][name]
        if glyph not in kept:
            if mine.numberOfContours != 0 or advance != 0:
                fail("glyph %d was dropped but is not empty" % glyph)
            continue
        theirs = original_glyf[original_order[glyph]]
        theirs.expand(original_glyf)
        mine.expand(subset_glyf)
        if outline(original, theirs) != outline(subset, mine):
            fail("glyph %d draws differently" % glyph)
        want = instructions(theirs) if hinting == "keep" else b""
        if instructions(mine) != want:
            fail("glyph %d: instructions %d bytes, expected %d" % (glyph, len(instructions(mine)), len(want)))
        if (advance, bearing) != tuple(original["hmtx"][original_order[glyph]]):
            fail("glyph %d: metrics %s, expected %s" % (glyph, (advance, bearing),
                                                         original["hmtx"][original_order[glyph]]))
    print("ok: %d glyphs, %d kept, %d bytes, tables %s" % (count, len(kept), len(data),
                                                          " ".join(sorted(expected))))


if __name__ == "__main__":
    main()
