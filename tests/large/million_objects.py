#!/usr/bin/env python3
"""A document of a million objects through the real quillane, within 64 MiB.

The document is written here, piece by piece: 333,334 pages, each with its
content stream and one image, the pages and the page tree (one flat /Kids of
every page) in object streams, a cross-reference stream. Every hundredth
content stream draws an inline image as well. Each mode runs on it (the plain
update, "/inline", "/inline /showtext"); every run must end well, stay at
most 64 MiB at its peak, and append exactly one new object per image, plus
one per content stream with an inline image under "/inline", and its
cross-reference stream. qpdf, when
installed, must accept the "/inline" output.

    million_objects.py --exe build/dev/quillane
"""

import argparse, array, os, re, shutil, subprocess, sys, tempfile, zlib

PAGES = 333334
PER_STREAM = 100
INLINE_EVERY = 100
LIMIT = 64 << 20


def build(path):
    """Writes the document."""
    # Numbers: 1 catalog, 2 page tree, then per page: page, content, image;
    # the object streams and the cross-reference stream after them.
    page_number = lambda i: 3 + 3 * i
    first_stream = page_number(PAGES)
    offsets = array.array("q", [0] * (first_stream + PAGES // PER_STREAM + 3))
    in_stream = {}  # object number -> (object stream number, index)
    with open(path, "wb") as f:
        f.write(b"%PDF-1.7\n%\xe2\xe3\xcf\xd3\n")

        def obj(number, body):
            offsets[number] = f.tell()
            f.write(b"%d 0 obj\n%s\nendobj\n" % (number, body))

        pending, next_stream = [], [first_stream]

        def packed(number, body):
            pending.append((number, body))
            if len(pending) == PER_STREAM:
                flush()

        def flush():
            if not pending:
                return
            stream = next_stream[0]
            next_stream[0] += 1
            header, data = b"", b""
            for index, (number, body) in enumerate(pending):
                header += b"%d %d " % (number, len(data))
                data += body + b"\n"
                in_stream[number] = (stream, index)
            payload = zlib.compress(header + data)
            obj(stream, b"<</Type/ObjStm/N %d/First %d/Filter/FlateDecode/Length %d>>\nstream\n"
                        b"%s\nendstream" % (len(pending), len(header), len(payload), payload))
            pending.clear()

        packed(1, b"<</Type/Catalog/Pages 2 0 R>>")
        kids = b" ".join(b"%d 0 R" % page_number(i) for i in range(PAGES))
        packed(2, b"<</Type/Pages/Count %d/Kids[%s]>>" % (PAGES, kids))
        del kids
        for i in range(PAGES):
            page = page_number(i)
            content = b"q 10 0 0 10 0 0 cm /A Do Q"
            if i % INLINE_EVERY == 0:
                content += b" BI /W 1 /H 1 /CS /G /BPC 8 ID \x80 EI"
            obj(page + 1, b"<</Length %d>>\nstream\n%s\nendstream" % (len(content), content))
            obj(page + 2, b"<</Type/XObject/Subtype/Image/Width 1/Height 1/ColorSpace/DeviceGray"
                          b"/BitsPerComponent 8/Length 1>>\nstream\n\x40\nendstream")
            packed(page, b"<</Type/Page/Parent 2 0 R/MediaBox[0 0 10 10]"
                         b"/Resources<</XObject<</A %d 0 R>>>>/Contents %d 0 R>>"
                         % (page + 2, page + 1))
        flush()
        xref = next_stream[0]
        offsets[xref] = f.tell()
        rows = bytearray()
        for number in range(xref + 1):
            if number in in_stream:
                stream, index = in_stream[number]
                rows += b"\x02" + stream.to_bytes(4, "big") + index.to_bytes(2, "big")
            elif number == 0:
                rows += b"\x00\x00\x00\x00\x00\xff\xff"
            else:
                rows += b"\x01" + offsets[number].to_bytes(4, "big") + b"\x00\x00"
        payload = zlib.compress(bytes(rows))
        f.write(b"%d 0 obj\n<</Type/XRef/Size %d/W[1 4 2]/Root 1 0 R/Filter/FlateDecode"
                b"/Length %d>>\nstream\n%s\nendstream\nendobj\nstartxref\n%d\n%%%%EOF\n"
                % (xref, xref + 1, len(payload), payload, offsets[xref]))



def appended_objects(source, output):
    """The objects the update appends after the input's bytes, read a line
    at a time: this process stays small."""
    header = re.compile(rb"^\d+ \d+ obj\b")
    with open(output, "rb") as f:
        f.seek(os.path.getsize(source))
        return sum(1 for line in f if header.match(line))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--exe")
    parser.add_argument("--write", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.write:
        build(args.write)
        return 0
    work = tempfile.mkdtemp(prefix="quillane-million-")
    source = os.path.join(work, "in.pdf")
    # Written by a process of its own: a child's peak memory counts its
    # parent's, up to the exec, and the writer holds the index of a million
    # objects.
    subprocess.run([sys.executable, __file__, "--write", source], check=True)
    size = os.path.getsize(source)
    print("document: %d bytes, %d objects" % (size, 3 * PAGES + 2), flush=True)
    # One new version per image (and per rewritten stream), and the update's
    # own cross-reference stream.
    images, inline = PAGES + 1, (PAGES + INLINE_EVERY - 1) // INLINE_EVERY
    failed = False
    for name, options, wanted in (("update", [], images),
                                  ("inline", ["/inline"], images + inline),
                                  ("showtext", ["/inline", "/showtext"], images + inline)):
        output = os.path.join(work, name + ".pdf")
        child = subprocess.Popen([args.exe, "/in", source, "/out", output] + options,
                                 stderr=subprocess.PIPE)
        err = child.stderr.read().decode()
        _, status, usage = os.wait4(child.pid, 0)
        status, peak = os.waitstatus_to_exitcode(status), usage.ru_maxrss << 10
        faults = ["status %d %r" % (status, err)] if status != 0 or err else []
        if peak > LIMIT:
            faults.append("peak memory %d MiB" % (peak >> 20))
        if not faults:
            count = appended_objects(source, output)
            if count != wanted:
                faults.append("%d objects appended, %d wanted" % (count, wanted))
        if not faults and name == "inline" and shutil.which("qpdf"):
            check = subprocess.run(["qpdf", "--check", output], capture_output=True, text=True)
            if check.returncode != 0:
                faults.append("qpdf --check: " + check.stdout[-300:] + check.stderr[-300:])
        print("%-9s peak %3d MiB  %s" % (name, peak >> 20,
                                         "FAILED: " + "; ".join(faults) if faults else "ok"),
              flush=True)
        failed = failed or bool(faults)
        if os.path.exists(output) and not faults:
            os.remove(output)
    if not failed:
        shutil.rmtree(work)
    else:
        print("kept: " + work)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
