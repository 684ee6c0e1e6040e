#!/usr/bin/env python3
"""Checks that "/inline" leaves the glyphs of Type 3 fonts as they are.

    python3 tests/conformance/type3_glyphs.py [--exe PATH] [--corpus DIR]

Documents typeset with bitmap fonts (TeX through dvips and ps2pdf) draw every
letter as a Type 3 glyph, a small content stream that paints an inline image
mask. The script makes such documents at run time (plain TeX with pk fonts,
then qpdf for a cross-reference table and a cross-reference stream with
object streams), takes every file of the shared corpus as well, and runs the
executable with "/inline" on each. It fails when
  - a stream that the run rewrites ("Inline images: <key>#<n>" in the log) is
    listed in the /CharProcs of a Type 3 font (read with qpdf --json) or
    begins with the operator d0 or d1 (read with qpdf --filtered-stream-data);
  - a document whose only inline images sit in glyphs does not give exactly
    the output of the run without "/inline", or renders (pdftoppm) otherwise.
Needs tex, dvips, ps2pdf (Ghostscript), qpdf and pdftoppm. Prints one line per
document with inline images and a summary; the exit status is 1 on a failure,
and 77 (a skip for ctest) when a tool is missing, unless CI=true.
"""

import argparse
import csv
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

TEX_DOCUMENT = r"""\hsize=4in \vsize=3in \parindent=0pt
\font\big=cmr10 scaled 1440
Hello {\bf bitmap} {\it fonts}. $\bullet$ $x^2+\alpha = \int_0^1 f(t)\,dt$ \par
{\big A larger line of text.} \par
\bye
"""


def run(argv, env=None):
    done = subprocess.run(argv, env=env, capture_output=True)
    return done.returncode, done.stdout, done.stderr


def make_tex_documents(folder):
    """Bitmap-font documents: the Ghostscript output and two qpdf rewrites."""
    tex = os.path.join(folder, "bitmap.tex")
    with open(tex, "w", encoding="ascii") as f:
        f.write(TEX_DOCUMENT)
    env = dict(os.environ, TEXMFVAR=os.path.join(folder, "texmf-var"))
    steps = [
        ["tex", "-interaction=batchmode", "-output-directory=" + folder, tex],
        ["dvips", "-Ppk", "-D", "600", "-q", "-o", os.path.join(folder, "bitmap.ps"),
         os.path.join(folder, "bitmap.dvi")],
        ["ps2pdf", os.path.join(folder, "bitmap.ps"), os.path.join(folder, "tex-gs.pdf")],
        ["qpdf", "--object-streams=disable", os.path.join(folder, "tex-gs.pdf"),
         os.path.join(folder, "tex-table.pdf")],
        ["qpdf", "--object-streams=generate", os.path.join(folder, "tex-gs.pdf"),
         os.path.join(folder, "tex-objstm.pdf")],
    ]
    for argv in steps:
        status, out, err = run(argv, env=env)
        if status != 0:
            sys.exit("failed: %s\n%s%s" % (" ".join(argv), out.decode(), err.decode()))
    return [os.path.join(folder, name) for name in ("tex-gs.pdf", "tex-table.pdf", "tex-objstm.pdf")]


def char_procs(path):
    """Object numbers of every stream listed in a Type 3 font's /CharProcs."""
    status, out, _ = run(["qpdf", "--json=2", "--json-key=qpdf", path])
    if status not in (0, 3):
        return None
    objects = json.loads(out)["qpdf"][1]

    def value(ref):
        entry = objects.get("obj:" + ref) if isinstance(ref, str) else None
        if entry is None:
            return ref
        return entry.get("value", entry.get("stream", {}).get("dict"))

    numbers = set()
    for entry in objects.values():
        font = entry.get("value")
        if not isinstance(font, dict) or font.get("/Subtype") != "/Type3":
            continue
        procs = value(font.get("/CharProcs"))
        if isinstance(procs, dict):
            for ref in procs.values():
                if isinstance(ref, str) and ref.endswith(" R"):
                    numbers.add(int(ref.split()[0]))
    return numbers


def first_operator(path, number, generation):
    status, data, _ = run(["qpdf", "--show-object=%d,%d" % (number, generation),
                           "--filtered-stream-data", path])
    if status not in (0, 3):
        return None
    text = re.sub(rb"%[^\r\n]*", b" ", data)
    for token in re.findall(rb"[^\s\[\]<>(){}/%]+|/[^\s\[\]<>(){}/%]*|[\[\]<>(){}]", text):
        if re.fullmatch(rb"[+-]?[0-9.]+|/.*|[\[\]<>(){}]|true|false|null", token) is None:
            return token.decode("latin-1")
    return ""


def quillane(exe, source, output, flags, workdir):
    log = output + ".log"
    for path in (output, log):
        if os.path.exists(path):
            os.remove(path)
    env = dict(os.environ, QUILLANE_LOG=log, QUILLANE_REGISTRY=os.path.join(workdir, "none.reg"))
    status, _, err = run([exe] + flags + ["/in", source, "/out", output], env=env)
    lines = open(log, encoding="latin-1").read().splitlines() if os.path.exists(log) else []
    return status, err, lines


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", default=os.path.join(REPO, "build", "dev", "quillane"))
    parser.add_argument("--corpus", default=os.path.join(REPO, "..", "shared", "corpus"))
    args = parser.parse_args()
    missing = [tool for tool in ("tex", "dvips", "ps2pdf", "qpdf", "pdftoppm")
               if shutil.which(tool) is None]
    if missing:
        print("not installed: " + " ".join(missing))
        return 1 if os.environ.get("CI") == "true" else 77

    failures = []
    glyph_streams = 0
    with tempfile.TemporaryDirectory() as work:
        documents = make_tex_documents(work)
        generated = set(documents)
        manifest = os.path.join(args.corpus, "MANIFEST.tsv")
        if os.path.exists(manifest):
            with open(manifest, encoding="utf-8") as f:
                for row in csv.DictReader(f, delimiter="\t"):
                    documents.append(os.path.join(args.corpus, row["file"]))
        else:
            print("corpus not found at %s: only the generated documents" % args.corpus)
        for source in documents:
            name = os.path.basename(source)
            with_inline = os.path.join(work, "inline.pdf")
            plain = os.path.join(work, "plain.pdf")
            status, _, lines = quillane(args.exe, source, with_inline, ["/inline"], work)
            rewritten = [int(m.group(1)) for m in
                         (re.match(r"Inline images: (\d+)#", line) for line in lines) if m]
            left = sum(line.endswith(" Type 3 glyph") for line in lines)
            glyph_streams += left
            if source in generated and left == 0:
                failures.append("%s: no Type 3 glyph was left, yet it has some" % name)
            if not rewritten and not left:
                continue
            procs = char_procs(source) or set()
            for key in rewritten:
                number, generation = divmod(key, 100000)
                operator = first_operator(source, number, generation)
                if number in procs or operator in ("d0", "d1"):
                    failures.append("%s: glyph %d %d rewritten" % (name, number, generation))
            print("%s: %d streams rewritten, %d Type 3 glyphs left" % (name, len(rewritten), left))
            if rewritten or status != 0:
                continue
            # Glyphs only: the same output, and so the same pages, as without the option.
            quillane(args.exe, source, plain, [], work)
            same = open(plain, "rb").read() == open(with_inline, "rb").read()
            renders = [run(["pdftoppm", "-r", "50", path])[1] for path in (plain, with_inline)]
            if not same or renders[0] != renders[1]:
                failures.append("%s: glyphs only, yet the output differs" % name)
    print("%d documents, %d glyph streams left, %d failures" %
          (len(documents), glyph_streams, len(failures)))
    for failure in failures:
        print("FAIL " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
