#!/usr/bin/env python3
"""Documents beyond 4 GiB and 10 GB through the real quillane, in every mode.

Each input is a sparse file (it costs no disk space): a page with an image
before and one after a stream whose data is a hole, and the cross-reference
section at the end, a table or a stream. Each update is read back: every
entry and "startxref" must point at the header of its object or section, and
the input's bytes must start the output (light mode: only the two names
change). A table whose offsets would need 11 digits is refused with nothing
left behind. qpdf, when installed, must accept every update; on POSIX every
run's peak memory must stay at most 64 MiB. A failed case's folder is kept.

    large_documents.py --exe build/dev/quillane
    large_documents.py --exe build/mingw/quillane.exe --wine --cases NAMES

With --wine (as .ci/wine-stage.sh sets it up) the outputs are written without
holes: 4.5 GB per case.
"""

import argparse, os, re, shutil, subprocess, sys, tempfile

GIB = 1 << 30
TOO_LARGE = "The output would be too large for a cross-reference table (10 GB or more)."
CASES = {  # name: (section form, hole, mode, image B after the hole)
    "table-4.5GiB-default": ("table", 9 * GIB // 2, "default", True),
    "table-4.5GiB-tgraybox": ("table", 9 * GIB // 2, "tgraybox", True),
    "table-4.5GiB-light": ("table", 9 * GIB // 2, "light", True),
    "stream-4.5GiB-default": ("stream", 9 * GIB // 2, "default", True),
    "stream-4.5GiB-tgraybox": ("stream", 9 * GIB // 2, "tgraybox", True),
    "stream-2GiB-light": ("stream", 2 * GIB, "light", True),
    "stream-2GiB-default": ("stream", 2 * GIB, "default", True),
    "table-10GB-refused": ("table", 10 ** 10, "default", False),
    "stream-10GB-default": ("stream", 10 ** 10, "default", True),
}


def build(path, form, hole, after):
    """Writes the document; returns its size, the bytes around the hole, the
    section's offset and where the two names "Image" start."""
    parts, offsets, names = [bytearray(b"%PDF-1.7\n%\xe2\xe3\xcf\xd3\n"), bytearray()], {}, []

    def obj(number, body, part):
        offsets[number] = (len(parts[0]) + hole if part else 0) + len(parts[part])
        parts[part] += b"%d 0 obj\n%s\nendobj\n" % (number, body)
        if b"/Image" in body:
            names.append(offsets[number] + len(b"%d 0 obj\n" % number) + body.index(b"Image"))

    image = b"<</Type/XObject/Subtype%sImage/Width 1/Height 1/ColorSpace/DeviceGray" \
            b"/BitsPerComponent 8/Length 1>>\nstream\n%s\nendstream"
    content = b"q 10 0 0 10 0 0 cm /A Do Q q 10 0 0 10 10 0 cm /B Do Q"
    obj(1, b"<</Type/Catalog/Pages 2 0 R>>", 0)
    obj(2, b"<</Type/Pages/Kids[3 0 R]/Count 1>>", 0)
    obj(3, b"<</Type/Page/Parent 2 0 R/MediaBox[0 0 20 10]/Resources<</XObject"
           b"<</A 4 0 R/B 6 0 R>>>>/Contents 7 0 R>>", 0)
    obj(4, image % (b"/", b"\x40"), 0)
    obj(7, b"<</Length %d>>\nstream\n%s\nendstream" % (len(content), content), 0)
    if not after:
        obj(6, image % (b" /", b"\xc0"), 0)
    offsets[5] = len(parts[0])
    parts[0] += b"5 0 obj\n<</Length %d>>\nstream\n" % hole
    parts[1] += b"\nendstream\nendobj\n"
    if after:
        obj(6, image % (b" /", b"\xc0"), 1)
    section = len(parts[0]) + hole + len(parts[1])
    if form == "table":
        parts[1] += b"xref\n0 8\n0000000000 65535 f\r\n" + b"".join(
            b"%010d 00000 n\r\n" % offsets[n] for n in range(1, 8)) + \
            b"trailer\n<</Size 8/Root 1 0 R>>\n"
    else:
        offsets[8], width = section, max(4, (section.bit_length() + 7) // 8)
        rows = b"\x00" * (width + 1) + b"\xff\xff" + b"".join(
            b"\x01" + offsets[n].to_bytes(width, "big") + b"\x00\x00" for n in range(1, 9))
        parts[1] += b"8 0 obj\n<</Type/XRef/Size 9/Root 1 0 R/W[1 %d 2]/Index[0 9]/Length %d>>" \
                    b"\nstream\n%s\nendstream\nendobj\n" % (width, len(rows), rows)
    parts[1] += b"startxref\n%d\n%%%%EOF\n" % section
    with open(path, "wb") as out:
        out.write(parts[0])
        out.seek(len(parts[0]) + hole)
        out.write(parts[1])
    return {"size": len(parts[0]) + hole + len(parts[1]), "parts": parts, "hole": hole,
            "section": section, "names": names}


def read_at(path, offset, count):
    with open(path, "rb") as f:
        f.seek(offset)
        return f.read(count)


def check_output(doc, output, light):
    """The input's bytes (light mode: with both names renamed) start `output`."""
    head, tail = bytearray(doc["parts"][0]), bytearray(doc["parts"][1])
    for name in doc["names"] if light else []:
        part, at = (head, name) if name < len(head) else (tail, name - len(head) - doc["hole"])
        part[at:at + 5] = b"Vexlo"
    if read_at(output, 0, len(head)) != head or \
            read_at(output, len(head) + doc["hole"], len(tail)) != tail or \
            read_at(output, len(head) + doc["hole"] // 2, 4096) != bytes(4096):
        return "the input's bytes changed"
    return "" if not light or os.path.getsize(output) == doc["size"] else "the size changed"


def check_update(doc, output, numbers):
    """Every entry of the update points at its object's header; returns a
    fault or "", and the offset width of stream rows (0 for a table)."""
    update = read_at(output, doc["size"], 1 << 20)
    end = re.search(rb"startxref\r\n(\d+)\r\n%%EOF\r\n\Z", update)
    text = update[int(end.group(1)) - doc["size"]:] if end else b""
    stream = re.match(rb"(\d+) 0 obj\r\n<<\r\n/Type/XRef\r\n/W\[1 (\d) 2\]\r\n.*?/Prev (\d+)\r\n"
                      rb"/Length (\d+)\r\n.*?/Index \[([\d ]+)\]\r\n.*?stream\r\n", text, re.S)
    if text.startswith(b"xref\r\n"):
        width, prev = 0, re.search(rb"/Prev (\d+)\r\n", text)
        entries = [(int(n), int(o), int(g)) for n, o, g in
                   re.findall(rb"(\d+) 1\r\n(\d{10}) (\d{5}) n\r\n", text)]
    elif stream:
        width, prev, numbers = int(stream.group(2)), stream.group(3), numbers + [int(stream.group(1))]
        pairs, data = stream.group(5).split(), text[stream.end():]
        rows = [data[k * (width + 3):(k + 1) * (width + 3)] for k in range(len(pairs) // 2)]
        entries = [(int(pairs[2 * k]), int.from_bytes(row[1:-2], "big"),
                    int.from_bytes(row[-2:], "big")) for k, row in enumerate(rows)]
    else:
        return "no cross-reference section after the input", 0
    faults = ["entry %d points at %r" % (n, read_at(output, o, 16)) for n, o, g in entries
              if read_at(output, o, 32).split(b" obj")[0] != b"%d %d" % (n, g)]
    if int(prev.group(1) if text.startswith(b"xref") else prev) != doc["section"]:
        faults.append("/Prev is not the input's section")
    if [n for n, _, _ in entries] != numbers:
        faults.append("entries for %s, expected %s" % ([n for n, _, _ in entries], numbers))
    return "; ".join(faults), width


def run_case(args, work, name):
    form, hole, mode, after = CASES[name]
    folder = os.path.join(work, name)
    os.makedirs(folder)
    doc = build(os.path.join(folder, "in.pdf"), form, hole, after)
    source, output = os.path.join(folder, "in.pdf"), os.path.join(folder, "out.pdf")
    registry = os.path.join(work, "registry.reg")
    with open(registry, "w") as f:
        f.write("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\"
                "Bramblecote Software\\quillane]\r\n\"ReplaceObject\"=\"%s\"\r\n" % mode)
    win = (lambda p: "Z:" + p.replace("/", "\\")) if args.wine else (lambda p: p)
    command = ([args.exe, "/in", win(source), "/out", win(output)] +
               (["/noother"] if mode == "light" else []))
    if args.wine:
        subprocess.run(["wine", "reg", "add", r"HKCU\Software\Bramblecote Software\quillane",
                        "/v", "ReplaceObject", "/d", mode, "/f"], capture_output=True)
        # A message box would wait for ever: the time limit ends it.
        done = subprocess.run(["wine"] + command, capture_output=True, timeout=900)
        status, err, peak = done.returncode, "", 0
    else:
        child = subprocess.Popen(command, env=dict(os.environ, QUILLANE_REGISTRY=registry),
                                 stderr=subprocess.PIPE)
        err = child.stderr.read().decode()
        _, status, usage = os.wait4(child.pid, 0)
        # Counts the memory of this Python process up to the exec as well.
        status, peak = os.waitstatus_to_exitcode(status), usage.ru_maxrss << 10
    faults = ["peak memory %d MiB" % (peak >> 20)] if peak > 64 << 20 else []
    if name.endswith("refused"):
        if (status, err, os.listdir(folder)) != (1, "Quillane: %s\n" % TOO_LARGE, ["in.pdf"]):
            faults.append("not refused: %d %r %s" % (status, err, os.listdir(folder)))
    elif status != 0 or err:
        faults.append("status %d %r" % (status, err))
    else:
        faults.append(check_output(doc, output, mode == "light"))
        if mode != "light":
            fault, width = check_update(doc, output, [4, 6] + ([9999] if mode == "tgraybox" else []))
            wanted = 0 if form == "table" else 4 if doc["size"] < 1 << 32 else 5
            faults += [fault] + (["rows of %d offset bytes" % width] if width != wanted else [])
            if shutil.which("qpdf") and subprocess.run(["qpdf", "--check", output],
                                                       capture_output=True).returncode != 0:
                faults.append("qpdf --check rejects the output")
    faults = [f for f in faults if f]
    print("%-24s %s" % (name, "FAILED: " + "; ".join(faults) if faults else "ok"), flush=True)
    if not faults:
        shutil.rmtree(folder)
    return not faults


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", required=True)
    parser.add_argument("--wine", action="store_true")
    parser.add_argument("--cases", default=",".join(CASES))
    args = parser.parse_args()
    args.exe = os.path.abspath(args.exe)
    work = tempfile.mkdtemp(prefix="quillane-large-")
    names = args.cases.split(",")
    passed = sum(run_case(args, work, name) for name in names)
    print("%d of %d large-document cases passed" % (passed, len(names)))
    if passed == len(names):
        shutil.rmtree(work)
    return 0 if passed == len(names) else 1


if __name__ == "__main__":
    sys.exit(main())
