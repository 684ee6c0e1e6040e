#!/usr/bin/env python3
"""Runs quillane over every file of the shared corpus in each mode and prints
the conformance table of the README (Markdown), followed by the files that
need a look.

    python3 tests/conformance/run_corpus.py [--exe PATH] [--baseline PATH]
                                            [--corpus DIR] [--jobs N]

Defaults: the executable of the dev preset (build/dev/quillane), the corpus at
../shared/corpus beside the repository, two jobs. Needs Python 3 and, for the
checker columns, qpdf and pdfimages (poppler-utils) on PATH. The exit status
is 1 when a run crashed, left a bad output or differed from the baseline.

--baseline names the executable of an earlier build (with its templates
beside it): every run is repeated with it, and outcome, standard error,
output bytes and log lines must be the same. This is how a change that must
not alter any output (a restructuring, a faster implementation) is shown to
keep every byte.

For each file and mode it checks:
  - the run ends cleanly: exit 0 with an output, the encryption refusal, or
    exit 1 with one "Quillane: " error line and no output (a refusal exits with 3);
  - the output starts with the input (light mode: same length, only names
    "Image" renamed "Vexlo");
  - with --baseline: outcome, standard error, output bytes and log lines
    equal those of the baseline build;
  - where qpdf --check accepts the input (exit 0 or 3), it accepts the output
    with no new warnings where the input had none;
  - where pdfimages lists images of objects the run replaced, the output's
    listing shows them as 1 x 1 grey placeholders (light mode: no longer
    listed at all).
"""

import argparse
import concurrent.futures
import csv
import os
import subprocess
import sys
import tempfile

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
MODES = ("default", "none", "tgraybox", "outline", "inline")
# How each mode is chosen: flags before "/in", and the stored "ReplaceObject".
# "inline" is the default mode with "/inline".
MODE_FLAGS = {"default": [], "none": ["/noother"], "tgraybox": [], "outline": ["/outline"],
              "inline": ["/inline"]}
ENCRYPTED = "Quillane: Quillane cannot handle this file, because the file is secured/encrypted.\n"


def run(argv, env=None, timeout=120):
    try:
        done = subprocess.run(argv, env=env, capture_output=True, timeout=timeout)
        return done.returncode, done.stdout.decode("latin-1"), done.stderr.decode("latin-1")
    except subprocess.TimeoutExpired:
        return None, "", "timeout"
    except FileNotFoundError:
        return None, "", "not installed"


def qpdf_check(path):
    return run(["qpdf", "--check", path])[0]


def pdfimages_rows(path):
    """(type, width, height, color, object number) of each listed image."""
    status, out, _ = run(["pdfimages", "-list", path])
    rows = []
    for line in out.splitlines()[2:]:
        fields = line.split()
        if len(fields) >= 12 and fields[10].isdigit():
            rows.append((fields[2], fields[3], fields[4], fields[5], int(fields[10])))
    return rows


def renamed_only(source, output):
    if len(source) != len(output):
        return False
    i = 0
    while i < len(source):
        if source[i] != output[i]:
            if source[i:i + 5] != b"Image" or output[i:i + 5] != b"Vexlo":
                return False
            i += 5
        else:
            i += 1
    return True


def run_mode(exe, path, mode, folder):
    """One run in `folder`; (status, stderr, output bytes or None, log lines)."""
    registry = os.path.join(folder, "registry.reg")
    with open(registry, "w", newline="") as f:
        f.write("Windows Registry Editor Version 5.00\r\n\r\n"
                "[HKEY_CURRENT_USER\\Software\\Bramblecote Software\\quillane]\r\n"
                '"ReplaceObject"="%s"\r\n' % ("tgraybox" if mode == "tgraybox" else ""))
    out = os.path.join(folder, "out.pdf")
    log = os.path.join(folder, "run.log")
    env = dict(os.environ, QUILLANE_REGISTRY=registry, QUILLANE_LOG=log)
    argv = [exe] + MODE_FLAGS[mode] + ["/in", path, "/out", out]
    status, _, err = run(argv, env)
    lines = []
    if os.path.exists(log):
        # Split at line feeds only: tokens in the log may hold other bytes
        # that str.splitlines would take for line ends.
        with open(log, "rb") as f:
            lines = f.read().decode("latin-1").split("\n")
        if lines[-1] == "":
            lines.pop()
    # The scratch folder differs from run to run.
    lines = [line.replace(folder, "<scratch>") for line in lines]
    err = err.replace(folder, "<scratch>")
    output = open(out, "rb").read() if os.path.exists(out) else None
    return status, err, output, lines


def check_file(exe, baseline, corpus, row, work, modes):
    """All modes for one corpus file; returns a dict of results per mode."""
    path = os.path.join(corpus, row["file"])
    with open(path, "rb") as f:
        source = f.read()
    templates = os.path.dirname(exe)
    qpdf_in = qpdf_check(path)
    rows_in = pdfimages_rows(path)
    results = {}
    replaced_numbers = set()
    for mode in modes:
        folder = tempfile.mkdtemp(dir=work)
        status, err, output, lines = run_mode(exe, path, mode, folder)
        out = os.path.join(folder, "out.pdf")
        problems = []

        if status == 0 and err == "" and output is not None:
            outcome = "ok"
        elif status == 3 and err == ENCRYPTED and output is None and mode != "none":
            outcome = "refused"
        elif status == 1 and err.startswith("Quillane: ") and err.count("\n") == 1 and output is None:
            outcome = "error"
        else:
            outcome = "bad"
            problems.append("unclean end: status %s, stderr %r" % (status, err[:200]))

        if output is not None:
            if mode == "none" and not renamed_only(source, output):
                problems.append("light mode changed more than subtype names")
            if mode != "none" and not output.startswith(source):
                problems.append("output does not start with the input")

        same = None
        if baseline:
            expected = run_mode(baseline, path, mode, tempfile.mkdtemp(dir=work))
            same = expected == (status, err, output, lines)
            if not same:
                problems.append("differs from the baseline build (baseline: status %s, %r)" % (
                    expected[0], expected[1][:200]))

        qpdf_kept = None
        if output is not None and qpdf_in in (0, 3):
            qpdf_out = qpdf_check(out)
            qpdf_kept = qpdf_out in (0, 3) and (qpdf_in == 3 or qpdf_out == 0)
            if not qpdf_kept:
                problems.append("qpdf --check: input %s, output %s" % (qpdf_in, qpdf_out))

        if mode != "none" and outcome == "ok":
            replaced_numbers = {int(line[8:]) // 100000 for line in lines
                                if line.startswith("object: ")}
        shown = None
        relevant = [r for r in rows_in if r[4] in replaced_numbers]
        if output is not None and relevant:
            rows_out = [r for r in pdfimages_rows(out) if r[4] in replaced_numbers]
            if mode == "none":
                shown = not rows_out
            elif mode == "outline":
                # The 1 x 1 grey placeholder, and its 256 x 256 frame mask.
                shown = bool(rows_out) and all(
                    r[1:4] == ("1", "1", "gray") or (r[0] == "smask" and r[1:4] == ("256", "256", "gray"))
                    for r in rows_out)
            else:
                # Each replaced object is drawn as the 1 x 1 grey box (and, in
                # tgraybox, its 1 x 1 grey soft mask).
                shown = bool(rows_out) and all(r[1:4] == ("1", "1", "gray") for r in rows_out)
            if not shown:
                problems.append("pdfimages does not show placeholders where images were")

        results[mode] = dict(outcome=outcome, same=same, qpdf_kept=qpdf_kept, shown=shown,
                             problems=problems)
    return row["file"], results


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--exe", default=os.path.join(REPO, "build", "dev", "quillane"))
    parser.add_argument("--baseline", help="executable of an earlier build to compare with")
    parser.add_argument("--modes", default=",".join(MODES),
                        help="comma-separated modes to run (default: all of %s)" % ",".join(MODES))
    parser.add_argument("--corpus", default=os.path.join(REPO, "..", "shared", "corpus"))
    parser.add_argument("--jobs", type=int, default=2)
    args = parser.parse_args()
    manifest = os.path.join(args.corpus, "MANIFEST.tsv")
    if not os.path.exists(manifest):
        print("corpus not found at %s; nothing to do" % args.corpus)
        return 0
    with open(manifest, newline="") as f:
        rows = list(csv.DictReader(f, delimiter="\t"))

    modes = [m for m in args.modes.split(",") if m]
    for mode in modes:
        if mode not in MODES:
            parser.error("unknown mode %s" % mode)
    with tempfile.TemporaryDirectory(prefix="quillane-corpus-") as work:
        with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
            results = dict(pool.map(lambda row: check_file(args.exe, args.baseline, args.corpus, row, work, modes), rows))

    print("| Mode | Files | Saved (exit 0) | Refused, encrypted | Error | Same as the baseline "
          "| qpdf-clean kept | Placeholders shown |")
    print("|---|---|---|---|---|---|---|---|")
    failing = 0
    for mode in modes:
        per_file = [results[row["file"]][mode] for row in rows]
        count = lambda key, value=True: sum(1 for r in per_file if r[key] == value)
        qpdf_total = sum(1 for r in per_file if r["qpdf_kept"] is not None)
        shown_total = sum(1 for r in per_file if r["shown"] is not None)
        label = {"default": "default", "none": "light (/noother)", "tgraybox": "tgraybox",
                 "outline": "outline (/outline)", "inline": "default with /inline"}[mode]
        print("| %s | %d | %d | %d | %d | %s | %d of %d | %d of %d |" % (
            label, len(per_file), count("outcome", "ok"), count("outcome", "refused"),
            count("outcome", "error"),
            count("same") if args.baseline else "-", count("qpdf_kept"), qpdf_total,
            count("shown"), shown_total))
    print()
    for row in rows:
        for mode in modes:
            for problem in results[row["file"]][mode]["problems"]:
                failing += 1
                print("- %s (%s): %s" % (row["file"], mode, problem))
    return 1 if failing else 0


if __name__ == "__main__":
    sys.exit(main())
