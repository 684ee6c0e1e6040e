#!/usr/bin/env python3
"""Documents beyond 4 GiB and 10 GB through the real quillane, in every mode.

Each input is a sparse file, so it costs no disk space: a page with one image
before and one after a stream whose data is a hole of the file, and the
cross-reference section at the end, as a table or as a stream. Each run's
update is read back: every entry of its cross-reference section, and its
"startxref", must point at the header of the object (or the section) it
names; the input's bytes must start the output unchanged; the light mode may
change only the two image names. A table-form update whose offsets would need
more than 10 digits must be refused with nothing left behind. qpdf, when
installed, must accept every update. On POSIX each run's peak resident memory
must stay at most 64 MiB.

    large_documents.py --exe build/dev/quillane [--work DIR]
    large_documents.py --exe build/mingw/quillane.exe --wine [--cases NAMES]

With --wine the Windows build runs under wine (WINEPREFIX and a running wine
server as .ci/wine-stage.sh sets them up); its outputs are written without
holes, so each run writes the whole document. A failed case's folder is
kept. Standard library only.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

GIB = 1 << 30
MEMORY_LIMIT = 64 << 20
TOO_LARGE = "The output would be too large for a cross-reference table (10 GB or more)."


def build(path, form, hole, image_after_hole=True):
    """Writes the sparse document; returns what the checks need to know."""
    head, offsets, images = bytearray(b"%PDF-1.7\n%\xe2\xe3\xcf\xd3\n"), {}, []

    def obj(number, body, into):
        offsets[number] = base + len(into)
        into += b"%d 0 obj\n%s\nendobj\n" % (number, body)

    def image(number, spelling, sample, into):
        text = b"<</Type/XObject" + spelling + b"/Width 1/Height 1/ColorSpace/DeviceGray"
        obj(number, text + b"/BitsPerComponent 8/Length 1>>\nstream\n" + sample +
            b"\nendstream", into)
        images.append(offsets[number] + len(b"%d 0 obj\n<</Type/XObject" % number) +
                      spelling.index(b"Image"))

    base = 0
    obj(1, b"<</Type/Catalog/Pages 2 0 R>>", head)
    obj(2, b"<</Type/Pages/Kids[3 0 R]/Count 1>>", head)
    obj(3, b"<</Type/Page/Parent 2 0 R/MediaBox[0 0 20 10]"
           b"/Resources<</XObject<</A 4 0 R/B 6 0 R>>>>/Contents 7 0 R>>", head)
    image(4, b"/Subtype/Image", b"\x40", head)
    content = b"q 10 0 0 10 0 0 cm /A Do Q q 10 0 0 10 10 0 cm /B Do Q"
    obj(7, b"<</Length %d>>\nstream\n%s\nendstream" % (len(content), content), head)
    if not image_after_hole:
        image(6, b"/Subtype /Image", b"\xc0", head)
    offsets[5] = len(head)
    head += b"5 0 obj\n<</Length %d>>\nstream\n" % hole
    hole_start = len(head)
    base = hole_start + hole
    tail = bytearray(b"\nendstream\nendobj\n")
    if image_after_hole:
        image(6, b"/Subtype /Image", b"\xc0", tail)
    section = base + len(tail)
    if form == "table":
        tail += b"xref\n0 8\n0000000000 65535 f\r\n"
        for number in range(1, 8):
            tail += b"%010d 00000 n\r\n" % offsets[number]
        tail += b"trailer\n<</Size 8/Root 1 0 R>>\n"
    else:
        offsets[8] = section
        width = max(4, (section.bit_length() + 7) // 8)
        rows = b"\x00" + b"\x00" * width + b"\xff\xff"
        for number in range(1, 9):
            rows += b"\x01" + offsets[number].to_bytes(width, "big") + b"\x00\x00"
        tail += b"8 0 obj\n<</Type/XRef/Size 9/Root 1 0 R/W[1 %d 2]/Index[0 9]/Length %d>>\n" \
                b"stream\n%s\nendstream\nendobj\n" % (width, len(rows), rows)
    tail += b"startxref\n%d\n%%%%EOF\n" % section
    with open(path, "wb") as out:
        out.write(head)
        out.truncate(hole_start + hole)
        out.seek(hole_start + hole)
        out.write(tail)
    return {"size": base + len(tail), "head": bytes(head), "tail": bytes(tail), "base": base,
            "section": section, "images": images}


def read_at(path, offset, count):
    with open(path, "rb") as f:
        f.seek(offset)
        return f.read(count)


def check_prefix(doc, output, renamed=()):
    """The output starts with the input's bytes (around the hole); `renamed`
    positions hold "Vexlo" instead of "Image"."""
    head, tail = bytearray(doc["head"]), bytearray(doc["tail"])
    for position in renamed:
        target, at = (head, position) if position < len(head) else (tail, position - doc["base"])
        assert target[at:at + 5] == b"Image", position
        target[at:at + 5] = b"Vexlo"
    if read_at(output, 0, len(head)) != head:
        return "the bytes before the hole changed"
    if read_at(output, doc["base"], len(tail)) != tail:
        return "the bytes after the hole changed"
    hole_middle = (len(head) + doc["base"]) // 2
    if read_at(output, hole_middle, 4096) != bytes(4096):
        return "the hole's zeroes changed"
    return ""


def check_update(doc, output, expected_numbers):
    """Reads the update back; returns (fault, offset bytes of the stream rows)."""
    update = read_at(output, doc["size"], 1 << 20)
    end = re.search(rb"startxref\r\n(\d+)\r\n%%EOF\r\n\Z", update)
    if not end:
        return "no end block", 0
    section = int(end.group(1))

    def header_at(offset, number, generation):
        expected = b"%d %d obj" % (number, generation)
        return "" if read_at(output, offset, len(expected)) == expected else \
            "entry %d %d points at %r" % (number, generation, read_at(output, offset, 20))

    text = update[section - doc["size"]:]
    numbers, faults, width = [], [], 0
    if text.startswith(b"xref\r\n"):
        for number, offset, generation in re.findall(rb"(\d+) 1\r\n(\d{10}) (\d{5}) n\r\n", text):
            numbers.append(int(number))
            faults.append(header_at(int(offset), int(number), int(generation)))
        prev = re.search(rb"trailer\r\n<<\r\n/Prev (\d+)\r\n", text)
        previous = int(prev.group(1)) if prev else None
    else:
        stream = re.match(rb"(\d+) 0 obj\r\n<<\r\n/Type/XRef\r\n/W\[1 (\d) 2\]\r\n.*?/Prev (\d+)"
                          rb"\r\n/Length (\d+)\r\n.*?/Index \[([\d ]+)\]\r\n.*?stream\r\n",
                          text, re.S)
        if not stream:
            return "no cross-reference stream at %d" % section, 0
        width, previous = int(stream.group(2)), int(stream.group(3))
        pairs = [int(n) for n in stream.group(5).split()]
        data = text[stream.end():stream.end() + int(stream.group(4))]
        for k in range(0, len(pairs), 2):
            row = data[k // 2 * (width + 3):(k // 2 + 1) * (width + 3)]
            numbers.append(pairs[k])
            faults.append(header_at(int.from_bytes(row[1:1 + width], "big"), pairs[k],
                                    int.from_bytes(row[-2:], "big")))
        expected_numbers = expected_numbers + [int(stream.group(1))]
    if previous != doc["section"]:
        faults.append("/Prev %s is not the input's section %d" % (previous, doc["section"]))
    if numbers != expected_numbers:
        faults.append("entries for objects %s, expected %s" % (numbers, expected_numbers))
    return "; ".join(f for f in faults if f), width


class Runner:
    def __init__(self, exe, wine, work):
        self.exe, self.wine, self.work = os.path.abspath(exe), wine, work
        self.registry = os.path.join(work, "registry.reg")

    def path(self, path):
        return "Z:" + path.replace("/", "\\") if self.wine else path

    def set_mode(self, mode):
        if self.wine:
            key = r"HKCU\Software\Bramblecote Software\quillane"
            command = ["wine", "reg", "add", key, "/v", "ReplaceObject", "/d", mode, "/f"] \
                if mode else ["wine", "reg", "delete", key, "/v", "ReplaceObject", "/f"]
            subprocess.run(command, capture_output=True)
        else:
            with open(self.registry, "w") as f:
                f.write("Windows Registry Editor Version 5.00\r\n\r\n")
                if mode:
                    f.write("[HKEY_CURRENT_USER\\Software\\Bramblecote Software\\quillane]\r\n"
                            "\"ReplaceObject\"=\"%s\"\r\n" % mode)

    def run(self, source, output, light):
        """Runs quillane; returns (exit status, standard error, peak RSS or None)."""
        args = ["/in", self.path(source), "/out", self.path(output)] + \
            (["/noother"] if light else [])
        env = dict(os.environ, QUILLANE_REGISTRY=self.registry)
        if self.wine:
            # A message box would wait for ever: the time limit ends it.
            done = subprocess.run(["wine", self.exe] + args, env=env, capture_output=True,
                                  timeout=900)
            return done.returncode, done.stderr.decode("utf-8", "replace"), None
        child = subprocess.Popen([self.exe] + args, env=env, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.PIPE)
        err = child.stderr.read().decode("utf-8", "replace")
        _, status, usage = os.wait4(child.pid, 0)
        return os.waitstatus_to_exitcode(status), err, usage.ru_maxrss * 1024


def run_case(runner, name, form, hole, mode, image_after_hole=True):
    folder = os.path.join(runner.work, name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    doc = build(os.path.join(folder, "in.pdf"), form, hole, image_after_hole)
    output = os.path.join(folder, "out.pdf")
    runner.set_mode("tgraybox" if mode == "tgraybox" else "")
    status, err, peak = runner.run(os.path.join(folder, "in.pdf"), output, mode == "light")
    faults = []
    if peak is not None and peak > MEMORY_LIMIT:
        faults.append("peak memory %.1f MiB" % (peak / (1 << 20)))
    if mode == "refused":
        if status != 1 or err != "Quillane: %s\n" % TOO_LARGE:
            faults.append("expected the refusal, got status %d, %r" % (status, err))
        if sorted(os.listdir(folder)) != ["in.pdf"]:
            faults.append("left behind: %s" % sorted(os.listdir(folder)))
    elif status != 0 or (err and not runner.wine):
        faults.append("status %d, %r" % (status, err))
    elif mode == "light":
        if os.path.getsize(output) != doc["size"]:
            faults.append("light mode changed the size")
        faults.append(check_prefix(doc, output, doc["images"]))
    else:
        faults.append(check_prefix(doc, output))
        expected = [4, 6] + ([9999] if mode == "tgraybox" else [])
        fault, width = check_update(doc, output, expected)
        faults.append(fault)
        # Rows give an offset 4 bytes unless one reaches 4 GiB.
        wanted = 0 if form == "table" else (4 if doc["size"] < (1 << 32) - 65536 else 5)
        if width != wanted:
            faults.append("stream rows with %d offset bytes, expected %d" % (width, wanted))
        if shutil.which("qpdf"):
            check = subprocess.run(["qpdf", "--check", output], capture_output=True, text=True)
            if check.returncode != 0:
                faults.append("qpdf --check: " + check.stdout.strip().splitlines()[-1])
    faults = [f for f in faults if f]
    memory = "" if peak is None else " (peak memory %.1f MiB)" % (peak / (1 << 20))
    print("%-24s %s" % (name, "ok" + memory if not faults else "FAILED: " + "; ".join(faults)),
          flush=True)
    if not faults:
        shutil.rmtree(folder, ignore_errors=True)
    return not faults


CASES = {
    # name: (form, hole, mode, image after the hole)
    "table-4.5GiB-default": ("table", 4 * GIB + GIB // 2, "default", True),
    "table-4.5GiB-tgraybox": ("table", 4 * GIB + GIB // 2, "tgraybox", True),
    "table-4.5GiB-light": ("table", 4 * GIB + GIB // 2, "light", True),
    "stream-4.5GiB-default": ("stream", 4 * GIB + GIB // 2, "default", True),
    "stream-4.5GiB-tgraybox": ("stream", 4 * GIB + GIB // 2, "tgraybox", True),
    "stream-4.5GiB-light": ("stream", 4 * GIB + GIB // 2, "light", True),
    "stream-2GiB-default": ("stream", 2 * GIB, "default", True),
    "table-10GB-refused": ("table", 10 ** 10, "refused", False),
    "table-10GB-light": ("table", 10 ** 10, "light", False),
    "stream-10GB-default": ("stream", 10 ** 10, "default", True),
}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", required=True)
    parser.add_argument("--wine", action="store_true")
    parser.add_argument("--work", help="a folder for the documents (default: a new one)")
    parser.add_argument("--cases", help="comma-separated names (default: all)")
    args = parser.parse_args()
    names = args.cases.split(",") if args.cases else list(CASES)
    work = args.work or tempfile.mkdtemp(prefix="quillane-large-")
    os.makedirs(work, exist_ok=True)
    runner = Runner(args.exe, args.wine, os.path.abspath(work))
    passed = sum(run_case(runner, name, *CASES[name]) for name in names)
    # A failed case's folder is kept for a look.
    if not args.work and passed == len(names):
        shutil.rmtree(work, ignore_errors=True)
    print("%d of %d large-document cases passed" % (passed, len(names)))
    return 0 if passed == len(names) else 1


if __name__ == "__main__":
    sys.exit(main())
