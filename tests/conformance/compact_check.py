#!/usr/bin/env python3
"""Runs quillane /compact over every file of the shared corpus and checks
each output against the input and against the same run without /compact.

    python3 tests/conformance/compact_check.py [--exe PATH] [--corpus DIR]
                                               [--jobs N] [--modes LIST]
                                               [--limit N]

Defaults: build/dev/quillane, ../shared/corpus beside the repository, two
jobs, the modes default, tgraybox, outline and inline. Needs qpdf and
poppler-utils (pdfinfo, pdftotext, pdfimages, pdftoppm).

For each file and mode whose input qpdf --check accepts (exit 0 or 3),
poppler reads, and quillane does not refuse:
  - qpdf --check accepts the compact output without warnings (exit 0) where
    it accepts the input without warnings (noted otherwise: a wrong /Length
    is copied as it stands);
  - its page count (pdfinfo) and text (pdftotext) are the input's;
  - pdfimages -list shows no image larger than 1 x 1 that is an object
    (inline images, object number 0, aside unless /inline) beyond those the
    same run without /compact shows (the outline mode's frame mask);
  - pdftoppm at 50 dpi draws every page exactly as it draws the output of
    the same run without /compact, unless that output still shows pictures
    the compact file replaces (noted);
  - its size is at most the input's plus 64 KiB.
A run that stops because the document's catalog cannot be found (fuzzed
files that qpdf only accepts with warnings) is counted apart. Prints a table
of the counts per mode, the notes and the failures, and exits with 1 when
any check failed.
"""

import argparse
import concurrent.futures
import csv
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
MODE_FLAGS = {"default": [], "tgraybox": [], "outline": ["/outline"], "inline": ["/inline"]}
SLACK = 64 * 1024


def run(argv, env=None, timeout=300):
    try:
        done = subprocess.run(argv, env=env, capture_output=True, timeout=timeout)
        return done.returncode, done.stdout, done.stderr
    except subprocess.TimeoutExpired:
        return None, b"", b"timeout"


def pages(path):
    status, out, _ = run(["pdfinfo", path])
    for line in out.decode("latin-1").splitlines():
        if line.startswith("Pages:"):
            return int(line.split()[1])
    return None


def text(path):
    return run(["pdftotext", "-q", path, "-"])[1]


def large_images(path, inline):
    status, out, _ = run(["pdfimages", "-list", path])
    found = []
    for line in out.decode("latin-1").splitlines()[2:]:
        fields = line.split()
        if len(fields) < 12 or not fields[10].isdigit():
            continue
        if fields[10] == "0" and not inline:
            continue
        if (fields[3], fields[4]) != ("1", "1"):
            found.append(line.strip())
    return found


def rendering(path, folder, name):
    prefix = os.path.join(folder, name)
    run(["pdftoppm", "-r", "50", path, prefix])
    digests = []
    for entry in sorted(os.listdir(folder)):
        if entry.startswith(name + "-"):
            with open(os.path.join(folder, entry), "rb") as image:
                digests.append(hashlib.sha256(image.read()).hexdigest())
            os.remove(os.path.join(folder, entry))
    return digests


def check(exe, corpus, name, mode):
    source = os.path.join(corpus, name)
    with tempfile.TemporaryDirectory() as folder:
        env = dict(os.environ)
        registry = os.path.join(folder, "registry.reg")
        with open(registry, "w", newline="") as reg:
            reg.write("Windows Registry Editor Version 5.00\r\n\r\n"
                      "[HKEY_CURRENT_USER\\Software\\Bramblecote Software\\quillane]\r\n"
                      '"ReplaceObject"="%s"\r\n' % ("tgraybox" if mode == "tgraybox" else ""))
        env["QUILLANE_REGISTRY"] = registry
        plain = os.path.join(folder, "plain.pdf")
        compact = os.path.join(folder, "compact.pdf")
        flags = MODE_FLAGS[mode]
        status, _, err = run([exe] + flags + ["/in", source, "/out", plain], env)
        cstatus, _, cerr = run([exe] + flags + ["/compact", "/in", source, "/out", compact], env)
        if cstatus is None:
            return name, mode, "fail", "timeout"
        if status != 0 or not os.path.exists(plain):
            if cstatus == status:
                return name, mode, "refused", err.decode("latin-1").strip()[:80]
            return name, mode, "fail", "status %s without /compact, %s with" % (status, cstatus)
        if cstatus == 1 and b"catalog cannot be read" in cerr:
            return name, mode, "no catalog found", ""
        if cstatus != 0 or not os.path.exists(compact):
            return name, mode, "fail", "compact: status %s %s" % (
                cstatus, cerr.decode("latin-1").strip()[:120])
        input_check = run(["qpdf", "--check", source])[0]
        if input_check not in (0, 3):
            return name, mode, "not accepted", ""
        if pages(source) is None:
            return name, mode, "not readable by poppler", ""
        problems, notes = [], []
        qstatus, _, qerr = run(["qpdf", "--check", compact])
        if qstatus != 0 and input_check == 0:
            problems.append("qpdf %s: %s" % (qstatus, qerr.decode("latin-1").strip()[:200]))
        elif qstatus != 0:
            # A wrong /Length or a loop in the input is copied as it stands.
            notes.append("qpdf warnings, as for the input")
        if pages(compact) != pages(source):
            problems.append("pages %s, input %s" % (pages(compact), pages(source)))
        if text(compact) != text(source):
            problems.append("text differs")
        # The outline mode's frame is drawn through a soft mask of its own.
        def pictures(path):
            return [row for row in large_images(path, mode == "inline")
                    if not (mode == "outline" and row.split()[2] == "smask")]
        plain_images = pictures(plain)
        images = pictures(compact)
        if images:
            problems.append("images: " + images[0])
        drawn = rendering(plain, folder, "p")
        if rendering(compact, folder, "c") != drawn:
            if plain_images:
                # The update leaves pictures visible that the compact file
                # replaces: the compact output is the one that is right.
                notes.append("renders without pictures the update leaves visible")
            elif rendering(plain, folder, "q") != drawn:
                notes.append("poppler draws the output without /compact differently each time")
            else:
                problems.append("rendering differs")
        size, limit = os.path.getsize(compact), os.path.getsize(source) + SLACK
        if size > limit:
            problems.append("size %d > %d" % (size, limit))
        if problems:
            return name, mode, "fail", "; ".join(problems)
        if notes:
            return name, mode, "pass, noted", "%d -> %d: %s" % (os.path.getsize(source), size,
                                                                "; ".join(notes))
        return name, mode, "pass", "%d -> %d" % (os.path.getsize(source), size)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", default=os.path.join(REPO, "build", "dev", "quillane"))
    parser.add_argument("--corpus", default=os.path.join(os.path.dirname(REPO), "shared",
                                                         "corpus"))
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--modes", default="default,tgraybox,outline,inline")
    parser.add_argument("--limit", type=int, default=0)
    args = parser.parse_args()
    missing = [tool for tool in ("qpdf", "pdfinfo", "pdftotext", "pdfimages", "pdftoppm")
               if shutil.which(tool) is None]
    if missing or not os.path.isdir(args.corpus):
        print("skipped: %s" % (", ".join(missing) or "no corpus at " + args.corpus))
        return 77
    with open(os.path.join(args.corpus, "MANIFEST.tsv")) as manifest:
        names = [row["file"] for row in csv.DictReader(manifest, delimiter="\t")]
    if args.limit:
        names = names[:args.limit]
    modes = args.modes.split(",")
    work = [(name, mode) for name in names for mode in modes]
    results = []
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        for result in pool.map(lambda item: check(args.exe, args.corpus, *item), work):
            results.append(result)
    kinds = ("pass", "pass, noted", "fail", "refused", "no catalog found", "not accepted",
             "not readable by poppler")
    print("| mode | " + " | ".join(kinds) + " |")
    print("|---" * (len(kinds) + 1) + "|")
    for mode in modes:
        counts = [sum(1 for r in results if r[1] == mode and r[2] == k) for k in kinds]
        print("| %s | " % mode + " | ".join(str(c) for c in counts) + " |")
    before = after = 0
    for name, mode, outcome, detail in results:
        if outcome.startswith("pass") and mode == "default":
            a, b = detail.split(":")[0].split(" -> ")
            before, after = before + int(a), after + int(b)
    if before:
        print("\nDefault mode, files passed: %d bytes in, %d bytes out (%.1f%%)" %
              (before, after, 100.0 * after / before))
    for name, mode, outcome, detail in results:
        if outcome == "pass, noted":
            print("NOTE %s [%s]: %s" % (name, mode, detail))
    failed = [r for r in results if r[2] == "fail"]
    for name, mode, _, detail in failed:
        print("FAIL %s [%s]: %s" % (name, mode, detail))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
