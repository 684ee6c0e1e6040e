#!/usr/bin/env python3
"""Checks the outline replacement mode by rendering its output and by running
it over the shared corpus.

    python3 tests/conformance/outline_render_check.py [--exe PATH]
        [--select simulate|option|registry] [--templates DIR]
        [--corpus DIR | --no-corpus] [--jobs N] [--pictures DIR]

--exe       the quillane executable (default: build/dev/quillane)
--select    how the outline mode is chosen:
              option    "/outline" on the command line
              registry  "ReplaceObject" = "outline" in the registry file
              simulate  (default) the translucent mode ("ReplaceObject" =
                        "tgraybox") of a copy of the executable whose
                        othertimg.dat and othertmsk.dat are the outline
                        templates, for builds that do not know the mode yet
--templates where otheroimg.dat and otheromsk.dat are (default: data/)
--pictures  also writes the README's mode pictures (default.png, light.png,
            tgraybox.png, outline.png) of one sample page into DIR

Checks, each printed with its figures; the exit status is 1 when one fails:
  1. A one-page document whose only content is one full-page picture, in both
     cross-reference forms, rendered at 72 dpi: in the outline mode at most
     5 % of the pixels are non-white, in the default mode the placeholder
     fills the page; the frame is dark along all four edges of the picture
     and along both diagonals. pdftoppm decides; pdftocairo, mutool draw and
     Ghostscript are measured too when installed.
  2. Over the corpus: every run ends cleanly, the output starts with the
     input, qpdf --check accepts every output whose input it accepts (no new
     warnings), and pdfimages -list shows, for every object the run
     replaced, only the 1 x 1 gray placeholder with its 256 x 256 mask.

Needs Python 3, qpdf and poppler-utils; the standard library only.
"""

import argparse
import concurrent.futures
import csv
import glob
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
ENCRYPTED = "Quillane: Quillane cannot handle this file, because the file is secured/encrypted.\n"
MODES = ("default", "light", "tgraybox", "outline")
MAX_OUTLINE_SHARE = 0.05
MIN_DEFAULT_SHARE = 0.99
# A pixel at most this light counts as part of the frame: clearly darker
# than the white page, whatever gray the templates use.
DARK = 200


def run(argv, env=None, timeout=300):
    try:
        done = subprocess.run(argv, env=env, capture_output=True, timeout=timeout)
        return done.returncode, done.stdout, done.stderr.decode("latin-1")
    except subprocess.TimeoutExpired:
        return None, b"", "timeout"
    except FileNotFoundError:
        return None, b"", "not installed"


# ---------------------------------------------------------------------------
# Running quillane in each mode

class Runner:
    """Runs one executable in the four modes, each run in its own folder."""

    def __init__(self, exe, select, templates, work):
        self.exe = os.path.abspath(exe)
        self.select = select
        self.work = work
        self.outline_exe = self.exe
        if select == "simulate":
            # The program looks for its templates beside its own executable
            # (a copy, since a link would resolve to the original folder).
            folder = os.path.join(work, "simulated-outline")
            os.makedirs(folder)
            self.outline_exe = os.path.join(folder, os.path.basename(self.exe))
            shutil.copy2(self.exe, self.outline_exe)
            shutil.copy2(os.path.join(os.path.dirname(self.exe), "otherimg.dat"), folder)
            shutil.copy2(os.path.join(templates, "otheroimg.dat"),
                         os.path.join(folder, "othertimg.dat"))
            shutil.copy2(os.path.join(templates, "otheromsk.dat"),
                         os.path.join(folder, "othertmsk.dat"))

    def run(self, mode, path):
        """(outcome, output path or None, log lines, stderr); outcome is ok,
        refused, error or bad."""
        folder = tempfile.mkdtemp(dir=self.work)
        value = {"tgraybox": "tgraybox", "outline": {"simulate": "tgraybox",
                                                     "registry": "outline"}.get(self.select)}
        registry = os.path.join(folder, "registry.reg")
        with open(registry, "w", newline="") as f:
            f.write("Windows Registry Editor Version 5.00\r\n\r\n"
                    "[HKEY_CURRENT_USER\\Software\\Bramblecote Software\\quillane]\r\n")
            if value.get(mode):
                f.write('"ReplaceObject"="%s"\r\n' % value[mode])
        exe = self.outline_exe if mode == "outline" else self.exe
        options = {"light": ["/noother"], "outline": ["/outline"] if self.select == "option" else []}
        out = os.path.join(folder, "out.pdf")
        log = os.path.join(folder, "run.log")
        env = dict(os.environ, QUILLANE_REGISTRY=registry, QUILLANE_LOG=log)
        status, _, err = run([exe] + options.get(mode, []) + ["/in", path, "/out", out], env)
        lines = []
        if os.path.exists(log):
            with open(log, "rb") as f:
                lines = f.read().decode("latin-1").split("\n")
        output = out if os.path.exists(out) else None
        if status == 0 and err == "" and output:
            outcome = "ok"
        elif status == 0 and err == ENCRYPTED and not output and mode != "light":
            outcome = "refused"
        elif status == 1 and err.startswith("Quillane: ") and err.count("\n") == 1 and not output:
            outcome = "error"
        else:
            outcome = "bad"
        return outcome, output, lines, err


# ---------------------------------------------------------------------------
# Test documents

def flate(data):
    return zlib.compress(data, 9)


def document(objects, form):
    """A PDF 1.5 file of numbered object bodies (1 = catalogue) with a classic
    table or an uncompressed cross-reference stream."""
    out = bytearray(b"%PDF-1.5\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for number, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n%s\nendobj\n" % (number, body)
    start = len(out)
    size = len(objects) + 1
    if form == "table":
        out += b"xref\n0 %d\n0000000000 65535 f \n" % size
        out += b"".join(b"%010d 00000 n \n" % offset for offset in offsets)
        out += b"trailer\n<</Size %d/Root 1 0 R>>\n" % size
    else:
        rows = struct.pack(">BIH", 0, 0, 65535)
        rows += b"".join(struct.pack(">BIH", 1, offset, 0) for offset in offsets + [start])
        out += (b"%d 0 obj\n<</Type/XRef/Size %d/W[1 4 2]/Root 1 0 R/Length %d>>\nstream\n"
                % (size, size + 1, len(rows)) + rows + b"\nendstream\nendobj\n")
    out += b"startxref\n%d\n%%%%EOF\n" % start
    return bytes(out)


def photo(width, height):
    """A photo-like RGB picture: sky, sun, hills and a little grain."""
    out = bytearray()
    seed = 12345
    for y in range(height):
        for x in range(width):
            seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
            grain = (seed >> 16) % 13 - 6
            u, v = x / width, y / height
            hill = 0.55 + 0.12 * ((u * 7.0) % 2.0 - 1.0) ** 2 + 0.08 * u
            if (u - 0.72) ** 2 + ((v - 0.25) * height / width) ** 2 < 0.008:
                rgb = (250, 220, 120)
            elif v > hill:
                rgb = (60 + int(60 * v), 120 + int(40 * u), 50)
            else:
                rgb = (110 + int(80 * v), 160 + int(60 * v), 235)
            out += bytes(max(0, min(255, c + grain)) for c in rgb)
    return bytes(out)


def image_object(width, height, samples):
    data = flate(samples)
    return (b"<</Type/XObject/Subtype/Image/Width %d/Height %d/ColorSpace/DeviceRGB"
            b"/BitsPerComponent 8/Filter/FlateDecode/Length %d>>\nstream\n"
            % (width, height, len(data)) + data + b"\nendstream")


def page_document(width, height, content, form, picture):
    stream = b"<</Length %d>>\nstream\n%s\nendstream" % (len(content), content)
    return document([
        b"<</Type/Catalog/Pages 2 0 R>>",
        b"<</Type/Pages/Kids[3 0 R]/Count 1>>",
        b"<</Type/Page/Parent 2 0 R/MediaBox[0 0 %d %d]/Resources<</XObject<</Im0 4 0 R>>"
        b"/Font<</F1 6 0 R/F2 7 0 R>>>>/Contents 5 0 R>>" % (width, height),
        picture,
        stream,
        b"<</Type/Font/Subtype/Type1/BaseFont/Helvetica>>",
        b"<</Type/Font/Subtype/Type1/BaseFont/Helvetica-Bold>>",
    ], form)


def full_page_document(form):
    """Letter page whose only content is one picture filling it."""
    return page_document(612, 792, b"q 612 0 0 792 0 0 cm /Im0 Do Q", form,
                         image_object(160, 120, photo(160, 120)))


def sample_page_document():
    """A small page with text behind, beside and below a picture, for the
    README's pictures of the modes."""
    words = (b"Quillane takes the pictures out of a document and leaves the text as it "
             b"was, so that the pages stay readable and print quickly. ").split() * 8
    lines, line = [], b""
    for word in words:
        if len(line) + len(word) > 54:
            lines.append(b"(%s) Tj T*" % line)
            line = b""
        line += word + b" "
    text = (b"BT /F2 16 Tf 20 266 Td (Field notes, spring) Tj ET "
            b"BT /F1 9 Tf 11 TL 20 246 Td " + b" ".join(lines[:21]) + b" ET ")
    content = text + b"q 170 0 0 128 110 36 cm /Im0 Do Q"
    return page_document(300, 290, content, "table", image_object(160, 120, photo(160, 120)))


# ---------------------------------------------------------------------------
# Rendering

def read_pnm(data):
    """(width, height, gray bytes) of a binary PGM (P5) or PBM (P4)."""
    fields, i = [], 0
    while len(fields) < (3 if data[:2] == b"P4" else 4):
        while data[i:i + 1].isspace():
            i += 1
        if data[i:i + 1] == b"#":
            i = data.index(b"\n", i)
            continue
        j = i
        while not data[j:j + 1].isspace():
            j += 1
        fields.append(data[i:j])
        i = j
    width, height = int(fields[1]), int(fields[2])
    pixels = data[i + 1:]
    if fields[0] == b"P4":
        stride = (width + 7) // 8
        gray = bytearray()
        for y in range(height):
            row = pixels[y * stride:(y + 1) * stride]
            gray += bytes(0 if row[x >> 3] >> (7 - (x & 7)) & 1 else 255 for x in range(width))
        pixels = bytes(gray)
    return width, height, pixels[:width * height]


def read_png_gray(data):
    """(width, height, gray bytes) of an 8-bit gray PNG, with or without alpha
    (what pdftocairo -gray writes)."""
    pos, idat = 8, b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            if depth != 8 or colour not in (0, 4):
                raise ValueError("unexpected PNG depth %d colour type %d" % (depth, colour))
            step = 1 if colour == 0 else 2
        elif kind == b"IDAT":
            idat += body
    raw = zlib.decompress(idat)
    stride = width * step
    previous = bytearray(stride)
    gray = bytearray()
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):
            a = line[x - step] if x >= step else 0
            b = previous[x]
            c = previous[x - step] if x >= step else 0
            if kind == 1:
                line[x] = (line[x] + a) & 255
            elif kind == 2:
                line[x] = (line[x] + b) & 255
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        gray += line[::step]
        previous = line
    return width, height, bytes(gray)


RENDERERS = {
    "pdftoppm": lambda pdf, dpi, out: (
        ["pdftoppm", "-gray", "-r", str(dpi), "-singlefile", pdf, out], out + ".pgm", read_pnm),
    "pdftocairo": lambda pdf, dpi, out: (
        ["pdftocairo", "-png", "-gray", "-r", str(dpi), "-singlefile", pdf, out],
        out + ".png", read_png_gray),
    "mutool": lambda pdf, dpi, out: (
        ["mutool", "draw", "-q", "-r", str(dpi), "-c", "gray", "-o", out + ".pgm", pdf, "1"],
        out + ".pgm", read_pnm),
    "gs": lambda pdf, dpi, out: (
        ["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pgmraw", "-r%d" % dpi,
         "-dLastPage=1", "-sOutputFile=" + out + ".pgm", pdf], out + ".pgm", read_pnm),
}


def render(renderer, pdf, dpi):
    """(width, height, gray bytes) of the first page, or None when the
    renderer is not installed or fails."""
    out = tempfile.mktemp(dir=os.path.dirname(pdf))
    argv, path, reader = RENDERERS[renderer](pdf, dpi, out)
    status, _, _ = run(argv)
    if status != 0 or not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        return reader(f.read())


def non_white_share(image):
    width, height, pixels = image
    return 1 - pixels.count(255) / (width * height)


def frame_coverage(image):
    """Shares of the positions along each edge (middle 90 %) and along each
    diagonal with a dark pixel within one mask sample of the line."""
    width, height, pixels = image
    band_x, band_y = width // 256 + 2, height // 256 + 2

    def dark(x, y):
        return 0 <= x < width and 0 <= y < height and pixels[y * width + x] <= DARK

    def share(points):
        return sum(1 for hit in points if hit) / len(points)

    xs = range(width // 20, width - width // 20)
    ys = range(height // 20, height - height // 20)
    edges = {
        "top": share([any(dark(x, y) for y in range(band_y)) for x in xs]),
        "bottom": share([any(dark(x, height - 1 - y) for y in range(band_y)) for x in xs]),
        "left": share([any(dark(x, y) for x in range(band_x)) for y in ys]),
        "right": share([any(dark(width - 1 - x, y) for x in range(band_x)) for y in ys]),
    }
    for name, flip in (("diagonal \\", False), ("diagonal /", True)):
        hits = []
        for y in ys:
            x = y * width // height
            x = width - 1 - x if flip else x
            hits.append(any(dark(x + dx, y) for dx in range(-band_x, band_x + 1)))
        edges[name] = share(hits)
    return edges


# ---------------------------------------------------------------------------
# The checks

def check_full_page(runner, work, failures):
    renderers = [r for r in RENDERERS if shutil.which(RENDERERS[r]("x", 72, "x")[0][0])]
    print("## One full-page picture, non-white pixels at 72 dpi\n")
    print("| Form | Mode | " + " | ".join(renderers) + " | pdftoppm 300 dpi |")
    print("|---|---|" + "---|" * (len(renderers) + 1))
    for form in ("table", "stream"):
        path = os.path.join(work, "full-page-%s.pdf" % form)
        with open(path, "wb") as f:
            f.write(full_page_document(form))
        for mode in ("input", "default", "tgraybox", "outline"):
            if mode == "input":
                output = path
            else:
                outcome, output, _, err = runner.run(mode, path)
                if outcome != "ok":
                    failures.append("full page, %s, %s: %s %s" % (form, mode, outcome, err))
                    continue
            cells = []
            for renderer in renderers:
                image = render(renderer, output, 72)
                if image is None:
                    cells.append("failed")
                    failures.append("full page, %s, %s: %s failed" % (form, mode, renderer))
                    continue
                share = non_white_share(image)
                cells.append("%.2f %%" % (100 * share))
                if mode == "outline":
                    if renderer == "pdftoppm" and share > MAX_OUTLINE_SHARE:
                        failures.append("full page, %s, outline: %.2f %% non-white with pdftoppm"
                                        % (form, 100 * share))
                    coverage = frame_coverage(image)
                    thin = {k: v for k, v in coverage.items() if v < 0.99}
                    if thin:
                        failures.append("full page, %s, outline, %s: frame not dark along %s"
                                        % (form, renderer, thin))
                if mode == "default" and renderer == "pdftoppm" and share < MIN_DEFAULT_SHARE:
                    failures.append("full page, %s, default: only %.2f %% non-white"
                                    % (form, 100 * share))
            high = render("pdftoppm", output, 300)
            cells.append("%.2f %%" % (100 * non_white_share(high)) if high else "failed")
            print("| %s | %s | %s |" % (form, mode, " | ".join(cells)))
    print()


def pdfimages_rows(path):
    """(type, width, height, colour, bpc, object) of each listed image, or
    None when pdfimages fails."""
    status, out, _ = run(["pdfimages", "-list", path])
    if status != 0:
        return None
    rows = []
    for line in out.decode("latin-1").splitlines()[2:]:
        fields = line.split()
        if len(fields) >= 12 and fields[10].isdigit():
            rows.append((fields[2], fields[3], fields[4], fields[5], fields[7], int(fields[10])))
    return rows


def placeholders_only(rows_in, rows_out, replaced):
    """True when the output lists, for every replaced object, the 1 x 1 gray
    placeholder followed by its 256 x 256 mask, and nothing else that the
    input did not list."""
    known = set(rows_in)
    for i, row in enumerate(rows_out):
        kind, width, height, colour, bpc, number = row
        if number not in replaced:
            if row not in known:
                return False
        elif kind == "smask":
            previous = rows_out[i - 1] if i else None
            if (width, height, colour) != ("256", "256", "gray") or previous is None \
                    or previous[5] != number:
                return False
        else:
            following = rows_out[i + 1] if i + 1 < len(rows_out) else None
            if (width, height, colour) != ("1", "1", "gray") or following is None \
                    or following[0] != "smask" or following[5] != number:
                return False
    return True


def check_corpus_file(runner, corpus, name):
    path = os.path.join(corpus, name)
    with open(path, "rb") as f:
        source = f.read()
    qpdf_in = run(["qpdf", "--check", path])[0]
    rows_in = pdfimages_rows(path)
    outcome, output, lines, err = runner.run("outline", path)
    result = dict(outcome=outcome, qpdf=None, shown=None, problems=[])
    if outcome == "bad":
        result["problems"].append("unclean end: %r" % err[:200])
    if output is None:
        return name, result
    with open(output, "rb") as f:
        if not f.read().startswith(source):
            result["problems"].append("output does not start with the input")
    if qpdf_in in (0, 3):
        qpdf_out = run(["qpdf", "--check", output])[0]
        result["qpdf"] = qpdf_out in (0, 3) and (qpdf_in == 3 or qpdf_out == 0)
        if not result["qpdf"]:
            result["problems"].append("qpdf --check: input %s, output %s" % (qpdf_in, qpdf_out))
    replaced = {int(line[8:]) // 100000 for line in lines if line.startswith("object: ")}
    if rows_in is not None and any(row[5] in replaced for row in rows_in):
        rows_out = pdfimages_rows(output)
        result["shown"] = rows_out is not None and any(r[5] in replaced for r in rows_out) \
            and placeholders_only(rows_in, rows_out, replaced)
        if not result["shown"]:
            result["problems"].append("pdfimages -list shows more than the placeholders")
    return name, result


def check_corpus(runner, corpus, jobs, failures):
    with open(os.path.join(corpus, "MANIFEST.tsv"), newline="") as f:
        names = [row["file"] for row in csv.DictReader(f, delimiter="\t")]
    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        results = dict(pool.map(lambda name: check_corpus_file(runner, corpus, name), names))
    count = lambda key, value: sum(1 for r in results.values() if r[key] == value)
    print("## Outline mode over the corpus\n")
    print("| Files | Saved | Refused, encrypted | Error | Unclean | qpdf-clean kept "
          "| Only placeholders listed |")
    print("|---|---|---|---|---|---|---|")
    print("| %d | %d | %d | %d | %d | %d of %d | %d of %d |" % (
        len(names), count("outcome", "ok"), count("outcome", "refused"),
        count("outcome", "error"), count("outcome", "bad"), count("qpdf", True),
        len(names) - count("qpdf", None), count("shown", True), len(names) - count("shown", None)))
    print()
    for name in names:
        for problem in results[name]["problems"]:
            print("- %s: %s" % (name, problem))
            failures.append("%s: %s" % (name, problem))


# ---------------------------------------------------------------------------
# The README's pictures

def png_gray(width, height, pixels, bits):
    """A gray PNG at `bits` per pixel (4 or 8), each row with the filter that
    leaves the smallest sum of residues."""
    levels = (1 << bits) - 1
    rows = []
    for y in range(height):
        row = pixels[y * width:(y + 1) * width]
        if bits == 8:
            rows.append(bytes(row))
            continue
        packed = bytearray()
        for x in range(0, width, 2):
            high = (row[x] * levels + 127) // 255
            low = (row[x + 1] * levels + 127) // 255 if x + 1 < width else 0
            packed.append(high << 4 | low)
        rows.append(bytes(packed))
    raw = bytearray()
    previous = bytes(len(rows[0]))
    for row in rows:
        candidates = [b"\x00" + row,
                      b"\x01" + bytes((row[i] - (row[i - 1] if i else 0)) & 255
                                      for i in range(len(row))),
                      b"\x02" + bytes((row[i] - previous[i]) & 255 for i in range(len(row)))]
        raw += min(candidates, key=lambda c: sum(v if v < 128 else 256 - v for v in c[1:]))
        previous = row

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(
            ">I", zlib.crc32(kind + body))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, bits,
                                                             0, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def write_pictures(runner, work, folder):
    os.makedirs(folder, exist_ok=True)
    sample = os.path.join(work, "sample-page.pdf")
    with open(sample, "wb") as f:
        f.write(sample_page_document())
    print("## Mode pictures\n")
    for mode in MODES:
        outcome, output, _, err = runner.run(mode, sample)
        if outcome != "ok":
            raise SystemExit("sample page, %s: %s %s" % (mode, outcome, err))
        stem = tempfile.mktemp(dir=work)
        run(["pdftoppm", "-gray", "-scale-to-x", "200", "-scale-to-y", "-1", "-singlefile",
             output, stem])
        with open(stem + ".pgm", "rb") as f:
            width, height, pixels = read_pnm(f.read())
        png = png_gray(width, height, pixels, 4)
        with open(os.path.join(folder, mode + ".png"), "wb") as f:
            f.write(png)
        print("- %s.png: %d x %d, 4-bit gray, %d bytes" % (mode, width, height, len(png)))
    print()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--exe", default=os.path.join(REPO, "build", "dev", "quillane"))
    parser.add_argument("--select", choices=("simulate", "option", "registry"),
                        default="simulate")
    parser.add_argument("--templates", default=os.path.join(REPO, "data"))
    parser.add_argument("--corpus", default=os.path.join(REPO, "..", "shared", "corpus"))
    parser.add_argument("--no-corpus", action="store_true")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--pictures")
    args = parser.parse_args()

    failures = []
    with tempfile.TemporaryDirectory(prefix="quillane-outline-") as work:
        runner = Runner(args.exe, args.select, args.templates, work)
        check_full_page(runner, work, failures)
        if args.pictures:
            write_pictures(runner, work, args.pictures)
        if args.no_corpus:
            pass
        elif os.path.exists(os.path.join(args.corpus, "MANIFEST.tsv")):
            check_corpus(runner, args.corpus, args.jobs, failures)
        else:
            print("corpus not found at %s; skipped\n" % args.corpus)
    print("FAILED:\n- " + "\n- ".join(failures) if failures else "All checks passed.")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
