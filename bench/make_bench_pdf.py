#!/usr/bin/env python3
"""Writes a large, valid PDF made mostly of image data, for timing Quillane.

    make_bench_pdf.py OUT --mb 200 --images 2000 [--xref table|stream] [--seed N]

Each image is one page: an uncompressed DeviceGray image XObject filled with
pseudo-random bytes (as incompressible as the DCT data of a scanned page),
drawn by a one-line content stream. The image dictionaries are spelled in a
few legal ways (/Subtype /Image, /Subtype/Image, a line break between them)
so the walk meets each. The last cross-reference section is a classic table
with a trailer, or a cross-reference stream. --mb counts 10^6 bytes; the file
lands within about 0.5 % of it.

Python 3 standard library only.
"""

import argparse
import random
import sys

MEGABYTE = 1_000_000
# Bytes of page, content stream, dictionary text and cross-reference entry
# that each image adds besides its samples (an estimate; only the total size
# depends on it).
PER_IMAGE_TEXT = 350
CHUNK = 1 << 24


class Writer:
    """Writes objects in order and records each object's offset."""

    def __init__(self, out):
        self.out = out
        self.position = 0
        self.offsets = {}

    def write(self, data):
        self.out.write(data)
        self.position += len(data)

    def begin(self, number):
        self.offsets[number] = self.position
        self.write(b"%d 0 obj\n" % number)

    def plain(self, number, body):
        self.begin(number)
        self.write(body + b"\nendobj\n")

    def stream(self, number, dictionary, length, fill):
        """A stream of `length` bytes produced by fill(write, length)."""
        self.begin(number)
        self.write(b"<<" + dictionary + b" /Length %d>>\nstream\n" % length)
        fill(self.write, length)
        self.write(b"\nendstream\nendobj\n")


SPELLINGS = (
    b"/Type /XObject /Subtype /Image /Width %d /Height %d"
    b" /ColorSpace /DeviceGray /BitsPerComponent 8",
    b"/Type/XObject/Subtype/Image/Width %d/Height %d/ColorSpace/DeviceGray/BitsPerComponent 8",
    b"\n/Type /XObject\n/Subtype\n/Image\n/Width %d\n/Height %d\n"
    b"/ColorSpace /DeviceGray\n/BitsPerComponent 8\n",
)


def random_fill(rng):
    def fill(write, length):
        while length > 0:
            part = min(length, CHUNK)
            write(rng.randbytes(part))
            length -= part
    return fill


def write_pdf(out, total_bytes, images, xref_kind, seed):
    rng = random.Random(seed)
    w = Writer(out)
    w.write(b"%PDF-1.7\n%\xe2\xe3\xcf\xd3\n")
    catalog, pages = 1, 2
    first = 3  # objects 3i+3, 3i+4, 3i+5: image, content stream, page
    page_numbers = [first + 3 * i + 2 for i in range(images)]
    w.plain(catalog, b"<</Type /Catalog /Pages %d 0 R>>" % pages)
    w.plain(pages, b"<</Type /Pages /Count %d /Kids [%s]>>"
            % (images, b" ".join(b"%d 0 R" % n for n in page_numbers)))

    samples = max(1, (total_bytes - w.position - PER_IMAGE_TEXT * images) // images)
    width = max(1, int(samples ** 0.5))
    height = max(1, samples // width)
    fill = random_fill(rng)
    for i in range(images):
        image, content, page = first + 3 * i, first + 3 * i + 1, first + 3 * i + 2
        w.stream(image, SPELLINGS[i % len(SPELLINGS)] % (width, height), width * height, fill)
        drawing = b"q 540 0 0 720 36 36 cm /Im0 Do Q"
        w.stream(content, b"", len(drawing), lambda write, _n, d=drawing: write(d))
        w.plain(page, b"<</Type /Page /Parent %d 0 R /MediaBox [0 0 612 792]"
                b" /Resources <</XObject <</Im0 %d 0 R>>>> /Contents %d 0 R>>"
                % (pages, image, content))

    size = first + 3 * images
    if xref_kind == "table":
        start = w.position
        rows = [b"0000000000 65535 f\r\n"]
        rows += [b"%010d 00000 n\r\n" % w.offsets[n] for n in range(1, size)]
        w.write(b"xref\r\n0 %d\r\n" % size + b"".join(rows))
        w.write(b"trailer\r\n<</Size %d /Root %d 0 R>>\r\n" % (size, catalog))
    else:
        number = size
        size += 1
        start = w.position
        w.offsets[number] = start
        rows = [b"\x00\x00\x00\x00\x00\xff\xff"]
        rows += [b"\x01" + w.offsets[n].to_bytes(4, "big") + b"\x00\x00"
                 for n in range(1, size)]
        data = b"".join(rows)
        w.begin(number)
        w.write(b"<</Type /XRef /Size %d /W [1 4 2] /Root %d 0 R /Length %d>>\nstream\n"
                % (size, catalog, len(data)))
        w.write(data + b"\nendstream\nendobj\n")
    w.write(b"startxref\r\n%d\r\n%%%%EOF\r\n" % start)
    return w.position


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("--mb", type=float, required=True, help="size in 10^6 bytes")
    parser.add_argument("--images", type=int, default=2000)
    parser.add_argument("--xref", choices=("table", "stream"), default="table")
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    if args.images < 1:
        parser.error("--images must be at least 1")
    with open(args.out, "wb") as out:
        written = write_pdf(out, int(args.mb * MEGABYTE), args.images, args.xref, args.seed)
    print("%s: %d bytes, %d images, %s cross-reference" % (args.out, written, args.images,
                                                            args.xref), file=sys.stderr)


if __name__ == "__main__":
    main()
