#!/usr/bin/env python3
"""Writes the sample documents that the README's first command runs on.

    python3 samples/make_sample.py [OUTPUT_DIR]

OUTPUT_DIR defaults to the folder of this script. Two files are written, with
the same three pages and the same objects:

  sample.pdf             classic cross-reference table
  sample-xrefstream.pdf  cross-reference stream (FlateDecode, PNG predictor,
                         /DecodeParms first in its dictionary)

The pages hold six image XObjects of different kinds (RGB, grey, a soft mask,
a 1-bit stencil mask, an indexed image, a CMYK image), one form XObject that
draws an image, and a document information dictionary. Only the standard
library is used and the output is byte-for-byte reproducible.
"""

import math
import os
import sys
import zlib


def flate(data):
    return zlib.compress(data, 9)


def image(width, height, colour_space, bits, samples, extra=b""):
    """An image XObject body: dictionary plus FlateDecode stream."""
    data = flate(samples)
    dictionary = (b"<</Type/XObject/Subtype/Image/Width %d/Height %d/ColorSpace %s"
                  b"/BitsPerComponent %d%s/Filter/FlateDecode/Length %d>>"
                  % (width, height, colour_space, bits, extra, len(data)))
    return dictionary + b"\nstream\n" + data + b"\nendstream\n"


def stream(dictionary_entries, data):
    return b"<<%s/Length %d>>\nstream\n%s\nendstream\n" % (dictionary_entries, len(data), data)


def rgb_gradient(size):
    out = bytearray()
    for y in range(size):
        for x in range(size):
            out += bytes((x * 255 // (size - 1), y * 255 // (size - 1), 160))
    return bytes(out)


def grey_checker(size, cell):
    return bytes(40 if (x // cell + y // cell) % 2 else 220
                 for y in range(size) for x in range(size))


def radial_mask(size):
    centre = (size - 1) / 2
    out = bytearray()
    for y in range(size):
        for x in range(size):
            distance = math.hypot(x - centre, y - centre) / centre
            out.append(max(0, min(255, int(255 * (1.0 - distance)))))
    return bytes(out)


def stencil(size):
    # One bit per sample, rows padded to whole bytes.
    rows = bytearray()
    for y in range(size):
        bits = 0
        for x in range(size):
            bits = (bits << 1) | (1 if (x + y) % 4 < 2 else 0)
        rows += bits.to_bytes(size // 8, "big")
    return bytes(rows)


def indexed(size):
    return bytes((x // 4 + y // 4) % 4 for y in range(size) for x in range(size))


def cmyk(size):
    return bytes(v for y in range(size) for x in range(size)
                 for v in (x * 32 % 256, y * 32 % 256, 0, 30))


def document_objects():
    """Object number -> body (what stands between "N 0 obj" and "endobj")."""
    page_size = b"[0 0 400 300]"
    text1 = (b"BT /F1 18 Tf 30 260 Td (Quillane sample, page 1) Tj ET\n"
             b"q 160 0 0 160 30 60 cm /ImRGB Do Q\n"
             b"q 120 0 0 120 230 80 cm /ImGrey Do Q\n")
    text2 = (b"BT /F1 18 Tf 30 260 Td (Page 2: a form and a stencil mask) Tj ET\n"
             b"q 1 0 0 1 30 40 cm /Fm1 Do Q\n"
             b"q 0.8 0.1 0.1 rg 120 0 0 120 240 60 cm /ImStencil Do Q\n")
    text3 = (b"BT /F1 18 Tf 30 260 Td (Page 3: indexed, CMYK, reused RGB) Tj ET\n"
             b"q 100 0 0 100 30 80 cm /ImIndexed Do Q\n"
             b"q 100 0 0 100 150 80 cm /ImCMYK Do Q\n"
             b"q 100 0 0 100 270 80 cm /ImRGB Do Q\n")
    form = b"q 180 0 0 180 0 0 cm /ImMasked Do Q\n0 0 1 RG 2 w 0 0 180 180 re S\n"
    font = b"<</Type/Font/Subtype/Type1/BaseFont/Helvetica>>"
    return {
        1: b"<</Type/Catalog/Pages 2 0 R>>\n",
        2: b"<</Type/Pages/Kids[3 0 R 4 0 R 5 0 R]/Count 3>>\n",
        3: b"<</Type/Page/Parent 2 0 R/MediaBox " + page_size +
           b"/Resources<</Font<</F1 6 0 R>>/XObject<</ImRGB 10 0 R/ImGrey 11 0 R>>>>"
           b"/Contents 7 0 R>>\n",
        4: b"<</Type/Page/Parent 2 0 R/MediaBox " + page_size +
           b"/Resources<</Font<</F1 6 0 R>>/XObject<</Fm1 13 0 R/ImStencil 14 0 R>>>>"
           b"/Contents 8 0 R>>\n",
        5: b"<</Type/Page/Parent 2 0 R/MediaBox " + page_size +
           b"/Resources<</Font<</F1 6 0 R>>/XObject<</ImIndexed 15 0 R/ImCMYK 16 0 R"
           b"/ImRGB 10 0 R>>>>/Contents 9 0 R>>\n",
        6: font + b"\n",
        7: stream(b"", text1),
        8: stream(b"", text2),
        9: stream(b"", text3),
        10: image(32, 32, b"/DeviceRGB", 8, rgb_gradient(32)),
        # "/Subtype /Image" with a blank and with a line break: both forms occur.
        11: image(16, 16, b"/DeviceGray", 8, grey_checker(16, 4)).replace(
            b"/Subtype/Image", b"/Subtype /Image"),
        12: image(32, 32, b"/DeviceGray", 8, radial_mask(32)).replace(
            b"/Subtype/Image", b"/Subtype\n/Image"),
        13: stream(b"/Type/XObject/Subtype/Form/BBox[0 0 180 180]"
                   b"/Resources<</XObject<</ImMasked 17 0 R>>>>", form),
        14: flate_stencil(),
        15: image(16, 16, b"[/Indexed/DeviceRGB 3<FF0000 00A000 0000FF F0C000>]", 8,
                  indexed(16)),
        16: image(8, 8, b"/DeviceCMYK", 8, cmyk(8)),
        17: image(32, 32, b"/DeviceRGB", 8, rgb_gradient(32)[::-1], b"/SMask 12 0 R"),
        18: b"<</Title(Quillane sample)/Author(Quillane project)/Producer(make_sample.py)>>\n",
    }


def flate_stencil():
    data = flate(stencil(16))
    return (b"<</Type/XObject/Subtype/Image/Width 16/Height 16/ImageMask true"
            b"/Decode[1 0]/Filter/FlateDecode/Length %d>>\nstream\n" % len(data)
            + data + b"\nendstream\n")


def assemble(objects):
    """Header and objects; returns the bytes and each object's offset."""
    out = bytearray(b"%PDF-1.5\n%\xe2\xe3\xcf\xd3\n")
    offsets = {}
    for number in sorted(objects):
        offsets[number] = len(out)
        out += b"%d 0 obj\n" % number + objects[number] + b"endobj\n"
    return out, offsets


def with_table(objects):
    out, offsets = assemble(objects)
    size = max(objects) + 1
    section = len(out)
    out += b"xref\n0 %d\n" % size + b"0000000000 65535 f\r\n"
    for number in range(1, size):
        out += b"%010d 00000 n\r\n" % offsets[number]
    out += (b"trailer\n<</Size %d/Root 1 0 R/Info 18 0 R>>\nstartxref\n%d\n%%%%EOF\n"
            % (size, section))
    return bytes(out)


def png_up_rows(rows):
    """PNG "Up" predictor (filter type 2) over equal-length rows."""
    out = bytearray()
    previous = bytes(len(rows[0]))
    for row in rows:
        out.append(2)
        out += bytes((a - b) & 0xFF for a, b in zip(row, previous))
        previous = row
    return bytes(out)


def with_stream(objects):
    out, offsets = assemble(objects)
    number = max(objects) + 1
    size = number + 1
    offsets[number] = len(out)
    rows = [bytes((0,)) + (0).to_bytes(4, "big") + (65535).to_bytes(2, "big")]
    rows += [bytes((1,)) + offsets[n].to_bytes(4, "big") + bytes(2) for n in range(1, size)]
    data = flate(png_up_rows(rows))
    out += (b"%d 0 obj\n<</DecodeParms<</Columns 7/Predictor 12>>/Filter/FlateDecode"
            b"/Type/XRef/W[1 4 2]/Size %d/Root 1 0 R/Info 18 0 R/Length %d>>\nstream\n"
            % (number, size, len(data)))
    out += data + b"\nendstream\nendobj\n"
    out += b"startxref\n%d\n%%%%EOF\n" % offsets[number]
    return bytes(out)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    objects = document_objects()
    for name, data in (("sample.pdf", with_table(objects)),
                       ("sample-xrefstream.pdf", with_stream(objects))):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
