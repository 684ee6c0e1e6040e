#!/usr/bin/env python3
"""Damaged documents repaired in the update: makes damaged files of five
kinds from sound ones, runs quillane over them and over the corpus's damaged
files (those whose last cross-reference section cannot be found), in the
default and the outline modes, and checks what readers make of the outputs.

    python3 tests/conformance/repair_check.py [--exe PATH] [--corpus DIR]
                                              [--jobs N] [--min-share P]
                                              [--keep DIR]

Defaults: build/dev/quillane, ../shared/corpus, two jobs, 90 (per cent).
Needs qpdf, poppler-utils (pdftoppm, pdftotext, pdfimages) and mupdf-tools
(mutool) on PATH.

The bases: five corpus documents with images, each rewritten as a table
(by qpdf, mutool clean or Ghostscript, in turn) and as a cross-reference
stream with object streams (qpdf). The kinds of damage, five variants of
each per form ("broken-stream" only in the stream form):
  offset         "startxref" a few bytes off its section;
  half-written   an update whose section was left half-written, named by
                 "startxref";
  truncated      the file cut short: in its last section, in the trailer,
                 after "startxref", in the last object, in the offset;
  junk           junk before "%PDF-" (every offset shifted);
  broken-stream  the last cross-reference stream overwritten in part.

A document counts when pdftoppm renders it (poppler rebuilds no table
without a "trailer" keyword, so most damaged stream-form files do not
count; their outputs are checked all the same, against mutool's page count and,
where the damage lost no object, the text of the sound document, and
reported apart). It passes a mode when the run
logs "Cross-reference rebuilt", qpdf --check reads the output without a
warning about damage or the cross-reference, pdftoppm and mutool draw the
output with the page counts they draw of the input, pdftotext gives the
input's text, and pdfimages -list shows no image larger than 1 x 1 (the
outline mode's shared 256 x 256 soft mask aside). An encrypted document is
refused by design and counted apart. The exit status is 1 when fewer than
--min-share per cent of the documents that count pass in some mode.
"""

import argparse
import concurrent.futures
import csv
import os
import re
import shutil
import subprocess
import sys
import tempfile

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
MODES = {"default": [], "outline": ["/outline"]}
BASES = ("pdf-lib/normal.pdf", "pdfcpu/sample2.pdf", "pypdf/git.pdf", "pdf.js/two_pages.pdf",
         "pdf.js/issue5280.pdf")
KINDS = ("offset", "half-written", "truncated", "junk", "broken-stream")
DAMAGE_ERRORS = ("No startxref offset found", "No cross-reference section found")
ENCRYPTED = "secured/encrypted"
XREF_WARNING = re.compile(r"damaged|xref|cross-reference|reconstruct|startxref", re.IGNORECASE)


def run(argv, env=None, timeout=120):
    try:
        done = subprocess.run(argv, env=env, capture_output=True, timeout=timeout)
        return done.returncode, done.stdout, done.stderr.decode("latin-1")
    except subprocess.TimeoutExpired:
        return None, b"", "timeout"


# ---------------------------------------------------------------- the bases

def make_bases(corpus, work):
    """(name, form, path) of each sound base document."""
    bases = []
    for i, name in enumerate(BASES):
        source = os.path.join(corpus, name)
        stem = "b%d" % i
        table = os.path.join(work, stem + "-table.pdf")
        maker = ("qpdf", "mutool", "gs")[i % 3]
        if maker == "qpdf":
            run(["qpdf", "--object-streams=disable", source, table])
        elif maker == "mutool":
            run(["mutool", "clean", source, table])
        else:
            run(["gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=pdfwrite",
                 "-sOutputFile=" + table, source])
        stream = os.path.join(work, stem + "-stream.pdf")
        run(["qpdf", "--object-streams=generate", source, stream])
        for form, path in (("table", table), ("stream", stream)):
            if os.path.exists(path):
                bases.append(("%s-%s(%s)" % (stem, form, maker if form == "table" else "qpdf"),
                              form, path))
    return bases


# ---------------------------------------------------------------- damage

def last_startxref(data):
    """(position of the keyword, position of the number, the number)."""
    at = data.rfind(b"startxref")
    m = re.compile(rb"\s*(\d+)").match(data, at + 9)
    return at, m.start(1), int(m.group(1))


def with_offset(data, value):
    at, number_at, old = last_startxref(data)
    return data[:number_at] + str(value).encode() + data[number_at + len(str(old)):]


def trailer_size(data):
    sizes = re.findall(rb"/Size\s+(\d+)", data)
    return int(sizes[-1]) if sizes else 1


def object_end_before(data, position):
    """Where the last "endobj" before `position` starts."""
    return data.rfind(b"endobj", 0, position)


def damage(kind, form, data, variant):
    """The damaged document, or None where the kind does not apply."""
    at, number_at, section = last_startxref(data)
    if kind == "offset":
        shift = ((1, 2, 3, -3, -5) if form == "table" else (-2, -3, -5, 12, 20))[variant]
        return with_offset(data, section + shift)
    if kind == "half-written":
        # An update: one new object, then the section as far as it got,
        # the rest of its room left as the writer left it.
        number = trailer_size(data)
        body = b"%d 0 obj\n<</Producer (an update)>>\nendobj\n" % number
        update_at = len(data)
        section_at = update_at + len(body)
        if form == "table":
            full = (b"xref\n0 1\n0000000000 65535 f \n%d 1\n%010d 00000 n \n"
                    b"trailer\n<</Size %d/Prev %d>>\n" % (number, update_at, number + 1, section))
            kept, fill = ((0, b"\0"), (2, b"\0"), (3, b"\0"), (0, b" "), (1, b"\xff"))[variant]
        else:
            full = (b"%d 0 obj\n<</Type/XRef/Size %d/W[1 4 2]/Index[%d 2]/Prev %d/Length 14>>"
                    b"stream\n" % (number + 1, number + 2, number, section)) + b"\0" * 14 + \
                b"\nendstream\nendobj\n"
            header = len(b"%d 0 obj\n" % (number + 1))
            kept, fill = ((header + 10, b"\0"), (header, b"\0"), (header + 2, b"\0"), (3, b"\0"),
                          (header + 8, b" "))[variant]
        half = full[:kept] + fill * (len(full) - kept)
        return data + body + half + b"startxref\n%d\n%%%%EOF\n" % section_at
    if kind == "truncated":
        if variant == 0:  # in the middle of the last section
            cut = section + (at - section) // 2
        elif variant == 1:  # in the trailer or the stream's dictionary
            dictionary = data.find(b"<<", section)
            cut = (dictionary if 0 <= dictionary < at else section) + 12
        elif variant == 2:  # after the keyword "startxref"
            cut = at + 10
        elif variant == 3:  # in the last object before the section
            cut = max(object_end_before(data, section) - 25, 0)
        else:  # in the offset's digits
            cut = number_at + max(1, len(str(section)) - 2)
        return data[:cut]
    if kind == "junk":
        prefix = (b"JUNK\n", b"Content-Type: application/pdf\r\n\r\n",
                  b"\x00\x01\x02 binary \xff\xfe\n" * 10, b"%garbage line\n" * 30,
                  b"%!PS-Adobe-3.0\n")[variant]
        return prefix + data
    if kind == "broken-stream":
        if form != "stream":
            return None
        end = data.find(b"endobj", section)
        dictionary = data.find(b"<<", section)
        stream = data.find(b"stream", section)
        spans = ((section, section + 30), (section, end),
                 (dictionary, data.find(b"/XRef", section) + 5),
                 (section, dictionary), (dictionary, stream))
        start, stop = spans[variant]
        fill = (b"\0", b"\0", b"#", b"x", b" ")[variant]
        return data[:start] + fill * (stop - start) + data[stop:]
    raise ValueError(kind)


# ---------------------------------------------------------------- checks

def pages_drawn(tool, path, folder):
    """Pages the tool draws of `path`, or None when it draws none."""
    out = tempfile.mkdtemp(dir=folder)
    if tool == "pdftoppm":
        status, _, _ = run(["pdftoppm", "-r", "4", "-png", path, os.path.join(out, "p")])
    else:
        status, _, _ = run(["mutool", "draw", "-q", "-r", "4", "-o",
                            os.path.join(out, "p%d.png"), path])
    count = len(os.listdir(out))
    shutil.rmtree(out)
    return count if count else None


def text_of(path):
    status, out, _ = run(["pdftotext", "-q", path, "-"])
    return out if status == 0 else None


def large_images(path):
    """The images pdfimages lists larger than 1 x 1, besides the shared mask."""
    status, out, _ = run(["pdfimages", "-list", path])
    large = []
    for line in out.decode("latin-1").splitlines()[2:]:
        cells = line.split()
        if len(cells) < 12 or cells[10] == "[inline]":
            continue
        kind, width, height = cells[2], cells[3], cells[4]
        if (width, height) == ("1", "1"):
            continue
        if kind == "smask" and (width, height, cells[5]) == ("256", "256", "gray"):
            continue
        large.append("%s %sx%s" % (kind, width, height))
    return large


def xref_warnings(path):
    status, out, err = run(["qpdf", "--check", path])
    text = out.decode("latin-1") + err
    if status not in (0, 3):
        return ["qpdf exit %s" % status] + [line for line in text.splitlines()
                                             if XREF_WARNING.search(line)][:2]
    return [line for line in text.splitlines()
            if line.startswith("WARNING") and XREF_WARNING.search(line)]


def check_document(exe, name, path, folder, sound=None):
    """The result of every mode for one damaged document; `sound` is the
    document it was made from, when the damage lost none of its objects."""
    result = {"name": name}
    result["pdftoppm"] = pages_drawn("pdftoppm", path, folder)
    result["mutool"] = pages_drawn("mutool", path, folder)
    # Where pdftoppm draws nothing of the input, its text is the sound
    # document's.
    text = text_of(path) if result["pdftoppm"] is not None or sound is None else text_of(sound)
    for mode, flags in MODES.items():
        scratch = tempfile.mkdtemp(dir=folder)
        registry = os.path.join(scratch, "registry.reg")
        with open(registry, "w", newline="") as f:
            f.write("Windows Registry Editor Version 5.00\r\n")
        log = os.path.join(scratch, "run.log")
        out = os.path.join(scratch, "out.pdf")
        env = dict(os.environ, QUILLANE_REGISTRY=registry, QUILLANE_LOG=log)
        status, _, err = run([exe] + flags + ["/in", path, "/out", out], env)
        lines = open(log, "rb").read().decode("latin-1") if os.path.exists(log) else ""
        faults = []
        if ENCRYPTED in err:
            result[mode] = ("encrypted", [])
            continue
        if status != 0 or not os.path.exists(out):
            refused = any(e in err for e in DAMAGE_ERRORS)
            result[mode] = ("refused" if refused else "failed", [err.strip()[:120]])
            continue
        if "Cross-reference rebuilt: " not in lines:
            faults.append("not rebuilt (not damaged in this sense)")
        faults += xref_warnings(out)[:2]
        # Where one reader draws nothing of the input, the other's count
        # stands for both; where pdftoppm draws nothing, there is no text of
        # the input to compare.
        # Where neither draws the input, both must draw the output alike.
        drawn = {tool: pages_drawn(tool, out, scratch) for tool in ("pdftoppm", "mutool")}
        for tool, got in drawn.items():
            expected = result[tool] if result[tool] is not None else result[
                "mutool" if tool == "pdftoppm" else "pdftoppm"]
            if expected is None:
                expected = drawn["pdftoppm"] or -1
            if got != expected:
                faults.append("%s pages %s, input %s" % (tool, got, expected))
        if (result["pdftoppm"] is not None or sound is not None) and text_of(out) != text:
            faults.append("text differs")
        faults += ["image %s" % image for image in large_images(out)[:2]]
        result[mode] = ("pass" if not faults else "fail", faults)
        shutil.rmtree(scratch)
    return result


def corpus_damaged(exe, corpus, work):
    """The corpus files whose last cross-reference section cannot be found."""
    found = []
    with open(os.path.join(corpus, "MANIFEST.tsv"), newline="") as f:
        rows = list(csv.DictReader(f, delimiter="\t"))
    registry = os.path.join(work, "registry.reg")
    with open(registry, "w", newline="") as f:
        f.write("Windows Registry Editor Version 5.00\r\n")
    env = dict(os.environ, QUILLANE_REGISTRY=registry)
    for row in rows:
        path = os.path.join(corpus, row["file"])
        # The reading of the end is all that decides it; a sound file's run
        # is cheap.
        log = os.path.join(work, "probe.log")
        if os.path.exists(log):
            os.remove(log)
        status, _, err = run([exe, "/in", path, "/out", os.path.join(work, "probe.pdf"),
                              "/overwrite"], dict(env, QUILLANE_LOG=log))
        lines = open(log, "rb").read().decode("latin-1") if os.path.exists(log) else ""
        if "Cross-reference rebuilt: " in lines or any(e in err for e in DAMAGE_ERRORS):
            found.append(("corpus:" + row["file"], path))
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--exe", default=os.path.join(REPO, "build", "dev", "quillane"))
    parser.add_argument("--corpus", default=os.path.join(REPO, "..", "shared", "corpus"))
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--min-share", type=float, default=90.0)
    parser.add_argument("--keep", help="write the damaged documents into this folder")
    args = parser.parse_args()
    for tool in ("qpdf", "pdftoppm", "pdftotext", "pdfimages", "mutool", "gs"):
        if shutil.which(tool) is None:
            print("repair_check: %s is not installed" % tool)
            return 77
    exe = os.path.abspath(args.exe)
    work = tempfile.mkdtemp(prefix="quillane-repair-")
    if args.keep:
        os.makedirs(args.keep, exist_ok=True)
    try:
        documents = []  # (kind, name, path, the sound document or None)
        for base, form, path in make_bases(args.corpus, work):
            data = open(path, "rb").read()
            for kind in KINDS:
                for variant in range(5):
                    damaged = damage(kind, form, data, variant)
                    if damaged is None:
                        continue
                    name = "%s-%s-%d" % (base, kind, variant)
                    target = os.path.join(args.keep or work, name + ".pdf")
                    with open(target, "wb") as f:
                        f.write(damaged)
                    # A file cut short may have lost objects; every other
                    # kind keeps them all.
                    sound = None if kind == "truncated" else path
                    documents.append(("%s/%s" % (kind, form), name, target, sound))
        documents += [("corpus", name, path, None)
                      for name, path in corpus_damaged(exe, args.corpus, work)]
        with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
            results = list(pool.map(
                lambda d: (d[0], check_document(exe, d[1], d[2], work, d[3])), documents))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return report(results, args.min_share)


def report(results, min_share):
    groups = {}
    for group, result in results:
        groups.setdefault(group, []).append(result)
    print("| kind | documents | pdftoppm renders | " +
          " | ".join("passes (%s)" % mode for mode in MODES) +
          " | not rendered: passes (default, outline) |")
    print("|---|---|---|" + "---|" * len(MODES) + "---|")
    totals = {"documents": 0, "rendered": 0, **{mode: 0 for mode in MODES}}
    encrypted = 0
    shortfall = False
    for group in sorted(groups):
        docs = groups[group]
        rendered = [d for d in docs if d["pdftoppm"] is not None]
        counted = [d for d in rendered if d["default"][0] != "encrypted"]
        encrypted += len(rendered) - len(counted)
        cells = []
        for mode in MODES:
            passed = sum(1 for d in counted if d[mode][0] == "pass")
            totals[mode] += passed
            cells.append("%d of %d" % (passed, len(counted)))
        others = [d for d in docs if d["pdftoppm"] is None]
        other = ", ".join(str(sum(1 for d in others if d[mode][0] == "pass")) for mode in MODES)
        totals["documents"] += len(docs)
        totals["rendered"] += len(counted)
        print("| %s | %d | %d | %s | %s of %d |" % (group, len(docs), len(counted),
                                                   " | ".join(cells), other, len(others)))
    print("| all | %d | %d | %s | |" % (totals["documents"], totals["rendered"],
                                      " | ".join("%d of %d (%.0f %%)" % (
                                          totals[m], totals["rendered"],
                                          100.0 * totals[m] / max(totals["rendered"], 1))
                                          for m in MODES)))
    if encrypted:
        print("\n%d rendered documents are encrypted: refused by design, not counted." % encrypted)
    print("\nNeeding a look:")
    for group, result in results:
        for mode in MODES:
            outcome, faults = result[mode]
            if outcome not in ("pass", "encrypted"):
                rendered = "rendered" if result["pdftoppm"] is not None else "not rendered"
                print("  %s %s [%s]: %s %s" % (result["name"], mode, rendered, outcome,
                                                "; ".join(faults)))
    for mode in MODES:
        if 100.0 * totals[mode] < min_share * totals["rendered"]:
            print("\n%s mode: below %.0f %%" % (mode, min_share))
            shortfall = True
    return 1 if shortfall else 0


if __name__ == "__main__":
    sys.exit(main())
