#!/usr/bin/env python3
"""Writes the templates of the outline replacement mode.

    python3 data/make_outline_templates.py [OUTPUT_DIR]

OUTPUT_DIR defaults to the folder of this script. Two files are written:

  otheroimg.dat  body of every replacement object: a 1 x 1 DeviceGray image
                 of the frame's gray whose /SMask refers to the extra object
                 as "${EXTRAOBJNR} R"
  otheromsk.dat  the whole extra object ("${EXTRAOBJNR} obj" ... "endobj"):
                 a 256 x 256 1-bit DeviceGray soft mask, opaque on a
                 one-sample frame and on both diagonals, transparent elsewhere

The image is painted into the unit square that the page maps onto the
picture's area (ISO 32000-1, 8.9.4); its soft mask is stretched over the same
square whatever its own dimensions (11.6.5.3), so one gray sample coloured
through a 256 x 256 mask draws the frame and the cross over the whole picture
and leaves the page content behind it visible. With 256 samples a line across
a full page (792 points) is about 3 points wide.

Only the standard library is used and the output is byte-for-byte
reproducible. The program never looks inside these files; a user may replace
them with other valid PDF object bodies.
"""

import os
import sys
import zlib

# The frame's gray, 0 (black) to 255 (white). Round a small picture one mask
# sample is a hairline (a quarter point for a one-inch picture), and a
# printer's halftone screen breaks a light gray on so thin a line into loose
# dots. In a halftoned 600 dpi Ghostscript preview (pbmraw) 0x40 is the
# lightest gray whose frame stays unbroken round a one-inch picture (0x48
# already shows gaps there, 0x80 round a two-inch one). Frame and diagonals
# cover about 2.3 % of the picture, so at 0x40 (75 % coverage) the toner is
# under a tenth of the default placeholder's light box, and on screen the
# frame stays lighter than black text it crosses.
FRAME_GRAY = 0x40

# Samples per side of the mask; one sample is 1/MASK_SIZE of the picture.
MASK_SIZE = 256

# 1 bit per sample: the mask is either opaque or transparent, and 1-bit rows
# deflate to 876 bytes against 1230 for 8-bit ones.
MASK_BITS = 1

PLACEHOLDER = b"${EXTRAOBJNR}"


def flate(data):
    return zlib.compress(data, 9)


def opaque(x, y, size):
    """True where the mask lets the gray through: frame and both diagonals."""
    last = size - 1
    return x in (0, last) or y in (0, last) or x == y or x + y == last


def mask_samples(size, bits):
    """The mask's rows, top row first (ISO 32000-1, 8.9.3), each row padded to
    a whole byte; an opaque sample has all its bits set."""
    full = (1 << bits) - 1
    out = bytearray()
    for y in range(size):
        accumulator = 0
        filled = 0
        row = bytearray()
        for x in range(size):
            accumulator = (accumulator << bits) | (full if opaque(x, y, size) else 0)
            filled += bits
            if filled == 8:
                row.append(accumulator)
                accumulator = 0
                filled = 0
        if filled:
            row.append(accumulator << (8 - filled))
        out += row
    return bytes(out)


def image_dictionary(width, height, bits, extra, length):
    return (b"<</Type/XObject/Subtype/Image/Width %d/Height %d/ColorSpace/DeviceGray"
            b"/BitsPerComponent %d%s/Filter/FlateDecode/Length %d>>"
            % (width, height, bits, extra, length))


def body_template(gray):
    data = flate(bytes((gray,)))
    return (image_dictionary(1, 1, 8, b"/SMask " + PLACEHOLDER + b" R", len(data))
            + b"\nstream\n" + data + b"\nendstream\n")


def mask_template(size, bits):
    data = flate(mask_samples(size, bits))
    return (PLACEHOLDER + b" obj\n" + image_dictionary(size, size, bits, b"", len(data))
            + b"\nstream\n" + data + b"\nendstream\nendobj\n")


def main(argv):
    folder = argv[1] if len(argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for name, content in (("otheroimg.dat", body_template(FRAME_GRAY)),
                          ("otheromsk.dat", mask_template(MASK_SIZE, MASK_BITS))):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(content)
        print("%s: %d bytes" % (name, len(content)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
