#!/usr/bin/env python3
"""Writes a valid PDF of about SIZE megabytes (10^6 bytes) for the kill test:
one page per image, each image an uncompressed DeviceGray XObject of about
1 MB of pseudo-random samples, and a classic cross-reference table.

    make_big_pdf.py OUTPUT [SIZE_MB] [SEED]
"""
import random
import sys


def main():
    output = sys.argv[1]
    size_mb = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    seed = int(sys.argv[3]) if len(sys.argv) > 3 else 1
    rng = random.Random(seed)
    side = 1000  # 1000 x 1000 samples: 10^6 bytes per image
    images = max(1, size_mb)
    offsets = {}
    with open(output, "wb") as out:
        def obj(number, body):
            offsets[number] = out.tell()
            out.write(b"%d 0 obj\n" % number + body + b"\nendobj\n")

        out.write(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
        pages = [3 + 3 * i for i in range(images)]
        obj(1, b"<</Type/Catalog/Pages 2 0 R>>")
        kids = b" ".join(b"%d 0 R" % p for p in pages)
        obj(2, b"<</Type/Pages/Kids[%s]/Count %d>>" % (kids, images))
        content = b"q 500 0 0 500 50 50 cm /Im Do Q"
        for i, page in enumerate(pages):
            obj(page, b"<</Type/Page/Parent 2 0 R/MediaBox[0 0 600 600]"
                      b"/Resources<</XObject<</Im %d 0 R>>>>/Contents %d 0 R>>"
                % (page + 1, page + 2))
            samples = rng.randbytes(side * side)
            obj(page + 1, b"<</Type/XObject/Subtype/Image/Width %d/Height %d"
                          b"/ColorSpace/DeviceGray/BitsPerComponent 8/Length %d>>\nstream\n"
                % (side, side, len(samples)) + samples + b"\nendstream")
            obj(page + 2, b"<</Length %d>>\nstream\n" % len(content) + content + b"\nendstream")
        size = max(offsets) + 1
        xref = out.tell()
        out.write(b"xref\n0 %d\n0000000000 65535 f \n" % size)
        for number in range(1, size):
            out.write(b"%010d 00000 n \n" % offsets[number])
        out.write(b"trailer\n<</Size %d/Root 1 0 R>>\nstartxref\n%d\n%%%%EOF\n" % (size, xref))


if __name__ == "__main__":
    main()
