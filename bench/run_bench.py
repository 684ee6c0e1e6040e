#!/usr/bin/env python3
"""Times Quillane's main job in its three modes against cp of the same file.

For every input it runs, side by side in each round (in an order shuffled
anew each round; outputs are deleted and dirty pages written back before
every run, outside the timing):

  cp        the system's cp (an in-kernel copy): the limit of the job, whose
            output starts with the input's bytes
  default   quillane /in IN /out OUT /overwrite
  light     quillane /in IN /out OUT /overwrite /noother
  tgraybox  quillane /in IN /out OUT /overwrite, with "ReplaceObject" set to
            "tgraybox" in a registry file of its own
  inline    (with --inline) quillane /in IN /out OUT /overwrite /inline
  compact   (with --compact) quillane /in IN /out OUT /overwrite /compact
  floor     (with --floor) bench/floor.c: one read(2) into one buffer, memchr
            over it, one write(2) of N + 1 KiB

and prints medians of wall time, of CPU time (user + system) and of each
run's ratio to cp of the same round, with the peak resident memory of every
mode and the machine's load average during the rounds. Every run is started
and measured by bench/measure.c, a small process of its own. It exits with status 1
when a target is missed:

  * at 200 MB and more (2,000 images): median wall time at most 1.15 x cp,
    every mode;
  * every run of every size: peak resident memory at most 64 MiB;
  * with --inline, on the documents of ../shared/bench/makepdf.py with a
    cross-reference stream, object streams, soft masks, indirect lengths and
    forms (200 MB): /inline at most 1.15 x cp with 2,000 images and 1.3 x cp
    with 20,000;
  * with --compact, at 200 MB with 2,000 images (those documents too):
    /compact at most 0.5 x cp, its output smaller than the input.

Reported without failing: how the ratio to cp moves from the smallest to the
largest size, and what 20,000 small images cost against 2,000 large ones in
200 MB, per extra image. A load average above the number of cores makes the
ratios unreliable (both sides of a ratio are slowed, but not alike): the
script says so, and such rounds are best repeated on a quiet machine. On a
shared machine --priority (root) runs the rounds at the highest priority of
the session's scheduling group and of the processes, which comes closer to a
machine of one's own: otherwise the other sessions take cores from quillane's
two threads that cp, with one, never misses.

Inputs are made by bench/make_bench_pdf.py (the structure-rich ones by
../shared/bench/makepdf.py) in --work (default: the system's
temporary folder) and kept for later runs; quillane is built in Release into
build/bench unless --quillane names one. Standard library only; Linux.

    bench/run_bench.py                           # 50, 200, 1000 MB; 5 rounds
    bench/run_bench.py --sizes 50,3000 --no-many # the scaling pair
    bench/run_bench.py --sizes 50 --rounds 3     # a quick look
    bench/run_bench.py --sizes 200 --inline      # /inline, with the structure-rich inputs
    bench/run_bench.py --sizes 200 --compact --no-many   # /compact against cp
    sudo bench/run_bench.py --priority           # on a shared machine
"""

import argparse
import os
import random
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
MIB = 1 << 20

CP_LIMIT = 1.15
CP_LIMIT_FROM_MB = 200
MEMORY_LIMIT = 64 * MIB
MANY_IMAGES = 20_000
FEW_IMAGES = 2_000
MODES = ("default", "light", "tgraybox")
INLINE_LIMITS = {FEW_IMAGES: 1.15, MANY_IMAGES: 1.3}
COMPACT_LIMIT = 0.5
# The shared generator's structure-rich documents, for /inline: what the
# object layer must read quickly (object streams, indirect lengths, forms).
RICH_FLAGS = ["--xref", "stream", "--objstm", "--smask-every", "5", "--indirect-length-every",
              "3", "--form-every", "7"]
SHARED_GENERATOR = os.path.join(os.path.dirname(REPO), "shared", "bench", "makepdf.py")


def log(text):
    print(text, file=sys.stderr, flush=True)


def build_quillane(build_dir):
    """Configures and builds a Release quillane without the tests."""
    subprocess.run(["cmake", "-S", REPO, "-B", build_dir, "-G", "Ninja",
                    "-DCMAKE_BUILD_TYPE=Release", "-DQUILLANE_BUILD_TESTS=OFF"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["ninja", "-C", build_dir, "-j2", "quillane"], check=True,
                   stdout=subprocess.DEVNULL)
    return os.path.join(build_dir, "quillane")


def build_c(work, name):
    """Compiles bench/<name>.c into the work folder."""
    program = os.path.join(work, name)
    subprocess.run(["cc", "-O2", "-o", program, os.path.join(HERE, name + ".c")], check=True)
    return program


def make_input(work, megabytes, images, xref):
    path = os.path.join(work, "bench-%dmb-%dimg-%s.pdf" % (megabytes, images, xref))
    if not os.path.exists(path):
        log("making %s" % path)
        partial = path + ".part"
        if xref == "rich":
            command = [sys.executable, SHARED_GENERATOR, partial, "--mb", str(megabytes),
                       "--images", str(images)] + RICH_FLAGS
        else:
            command = [sys.executable, os.path.join(HERE, "make_bench_pdf.py"), partial,
                       "--mb", str(megabytes), "--images", str(images), "--xref", xref]
        subprocess.run(command, check=True)
        os.replace(partial, path)
    return path


def remove(path):
    try:
        os.remove(path)
    except FileNotFoundError:
        pass


def write_registry(path, mode):
    with open(path, "w") as f:
        f.write("Windows Registry Editor Version 5.00\r\n\r\n")
        if mode:
            f.write("[HKEY_CURRENT_USER\\Software\\Bramblecote Software\\quillane]\r\n"
                    "\"ReplaceObject\"=\"%s\"\r\n" % mode)


def timed(measure_program, command, output, env):
    """Runs `command` once through bench/measure.c, which times it and takes
    its peak memory apart from this (large) Python process; returns (wall
    seconds, CPU seconds, peak RSS bytes)."""
    remove(output)
    os.sync()
    done = subprocess.run([measure_program] + command, env=env, capture_output=True, text=True)
    if done.returncode != 0:
        raise SystemExit("failed (%d): %s\n%s" % (done.returncode, " ".join(command), done.stderr))
    wall, cpu, peak = done.stdout.split()
    return float(wall), float(cpu), int(peak)


def measure(measure_program, case, programs, rounds, work):
    """Runs every program once per round, in a shuffled order; returns the
    runs of each program and the load averages seen before each round."""
    results = {name: [] for name, _, _ in programs}
    loads = []
    for round_index in range(rounds):
        loads.append(os.getloadavg()[0])
        # A new order each round: a run that suffers from the one before it
        # (on large inputs the machine is slow to reuse the memory that the
        # previous output freed) is then not always the same program.
        order = list(programs)
        random.Random(round_index).shuffle(order)
        for name, make_command, env in order:
            output = os.path.join(work, "out-%s.pdf" % name)
            results[name].append(
                timed(measure_program, make_command(case["path"], output), output, env))
            actual = os.path.getsize(output)
            expected = case["size"] + (1024 if name == "floor" else 0)
            grows = name in ("default", "tgraybox", "inline")
            if name == "compact":
                if actual >= case["size"]:
                    raise SystemExit("compact wrote %d bytes for an input of %d" %
                                     (actual, case["size"]))
            elif (grows and actual <= case["size"]) or (not grows and actual != expected):
                raise SystemExit("%s wrote %d bytes for an input of %d" %
                                 (name, actual, case["size"]))
            remove(output)
    return results, loads


class Priority:
    """With --priority: this session's scheduling group and this process at
    the highest priority while the rounds run, so that the other sessions of
    a shared machine take little from either side of a ratio and both of
    quillane's threads get a core; restored afterwards. Needs root."""

    AUTOGROUP = "/proc/self/autogroup"

    def __init__(self, wanted):
        self.wanted, self.previous, self.niceness = wanted, None, 0

    def __enter__(self):
        if not self.wanted:
            return self
        try:
            with open(self.AUTOGROUP) as f:
                self.previous = f.read().split()[-1]
            with open(self.AUTOGROUP, "w") as f:
                f.write("-20")
        except OSError as error:
            log("no session priority: %s" % error)
        self.niceness = os.nice(0)
        os.nice(-20 - self.niceness)
        return self

    def __exit__(self, *unused):
        if not self.wanted:
            return
        os.nice(self.niceness + 20)
        if self.previous is not None:
            with open(self.AUTOGROUP, "w") as f:
                f.write(self.previous)


def paired_ratio(results, name, reference):
    return statistics.median(run[0] / ref[0] for run, ref in zip(results[name], results[reference]))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", default="50,200,1000", help="input sizes in 10^6 bytes")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--quillane", help="a built quillane (default: build one)")
    parser.add_argument("--work", default=os.path.join(tempfile.gettempdir(), "quillane-bench"))
    parser.add_argument("--no-many", action="store_true", help="skip the 20,000-image input")
    parser.add_argument("--xref", default="table,stream", help="forms of the inputs' sections")
    parser.add_argument("--floor", action="store_true", help="also time bench/floor.c")
    parser.add_argument("--inline", action="store_true",
                        help="also time /inline, and on the structure-rich documents")
    parser.add_argument("--compact", action="store_true",
                        help="also time /compact, and on the structure-rich documents")
    parser.add_argument("--priority", action="store_true",
                        help="run at the highest priority (root; for a shared machine)")
    args = parser.parse_args()

    os.makedirs(args.work, exist_ok=True)
    quillane = args.quillane or build_quillane(os.path.join(REPO, "build", "bench"))
    env = {}
    for mode in ("", "tgraybox"):
        registry = os.path.join(args.work, "registry-%s.reg" % (mode or "default"))
        write_registry(registry, mode)
        env[mode] = dict(os.environ, QUILLANE_REGISTRY=registry)

    def job(*extra):
        return lambda i, o: [quillane, "/in", i, "/out", o, "/overwrite", *extra]

    programs = [
        ("cp", lambda i, o: ["cp", i, o], env[""]),
        ("default", job(), env[""]),
        ("light", job("/noother"), env[""]),
        ("tgraybox", job(), env["tgraybox"]),
    ]
    modes = MODES + (("inline",) if args.inline else ()) + (("compact",) if args.compact else ())
    if args.inline:
        programs.append(("inline", job("/inline"), env[""]))
    if args.compact:
        programs.append(("compact", job("/compact"), env[""]))
    measure_program = build_c(args.work, "measure")
    if args.floor:
        floor = build_c(args.work, "floor")
        programs.append(("floor", lambda i, o: [floor, i, o], env[""]))
    sizes = [int(s) for s in args.sizes.split(",")]
    cases = [{"mb": mb, "images": FEW_IMAGES, "xref": xref}
             for mb in sizes for xref in args.xref.split(",")]
    if not args.no_many and 200 in sizes:
        cases.append({"mb": 200, "images": MANY_IMAGES, "xref": "table"})
    if (args.inline or args.compact) and 200 in sizes:
        cases += [{"mb": 200, "images": images, "xref": "rich"}
                  for images in ((FEW_IMAGES,) if args.no_many else (FEW_IMAGES, MANY_IMAGES))]

    rows, failures, all_loads = [], [], []
    for case in cases:
        case["path"] = make_input(args.work, case["mb"], case["images"], case["xref"])
        case["size"] = os.path.getsize(case["path"])
        log("measuring %s" % os.path.basename(case["path"]))
        with Priority(args.priority):
            results, loads = measure(measure_program, case, programs, args.rounds, args.work)
        all_loads += loads
        label = "%d MB, %d images, %s" % (case["mb"], case["images"], case["xref"])
        for name in modes + (("floor",) if args.floor else ()):
            runs = results[name]
            peak = max(run[2] for run in runs)
            row = {
                "case": label, "mb": case["mb"], "images": case["images"], "mode": name,
                "xref": case["xref"], "wall": statistics.median(run[0] for run in runs),
                "cpu": statistics.median(run[1] for run in runs),
                "cp": statistics.median(run[0] for run in results["cp"]),
                "to_cp": paired_ratio(results, name, "cp"), "rss_mib": peak / MIB,
                "load": statistics.median(loads),
            }
            rows.append(row)
            if name == "floor":
                continue
            if name == "compact":
                if case["mb"] >= CP_LIMIT_FROM_MB and case["images"] == FEW_IMAGES and \
                        row["to_cp"] > COMPACT_LIMIT:
                    failures.append("%s %s: %.2f x cp (limit %.2f)" %
                                    (label, name, row["to_cp"], COMPACT_LIMIT))
            elif name == "inline" and case["xref"] == "rich":
                limit = INLINE_LIMITS[case["images"]]
                if row["to_cp"] > limit:
                    failures.append("%s %s: %.2f x cp (limit %.2f)" %
                                    (label, name, row["to_cp"], limit))
            elif case["mb"] >= CP_LIMIT_FROM_MB and case["images"] == FEW_IMAGES and \
                    case["xref"] != "rich" and row["to_cp"] > CP_LIMIT:
                failures.append("%s %s: %.2f x cp (limit %.2f)" %
                                (label, name, row["to_cp"], CP_LIMIT))
            if peak > MEMORY_LIMIT:
                failures.append("%s %s: peak memory %.1f MiB (limit %.0f MiB)" %
                                (label, name, peak / MIB, MEMORY_LIMIT / MIB))

    print("| input | mode | quillane s | CPU s | cp s | x cp | peak RSS | load |")
    print("|---|---|---|---|---|---|---|---|")
    for r in rows:
        print("| %s | %s | %.3f | %.3f | %.3f | %.2f | %.1f MiB | %.1f |" %
              (r["case"], r["mode"], r["wall"], r["cpu"], r["cp"], r["to_cp"], r["rss_mib"],
               r["load"]))
    print()

    few = [r for r in rows if r["images"] == FEW_IMAGES and r["xref"] != "rich"]
    for mode in modes:
        by_size = {}
        for r in few:
            if r["mode"] == mode:
                by_size.setdefault(r["mb"], []).append(r["to_cp"])
        if len(by_size) > 1:
            low, high = min(by_size), max(by_size)
            print("scaling, %s: x cp %.2f at %d MB, %.2f at %d MB" %
                  (mode, max(by_size[low]), low, max(by_size[high]), high))
        many = [r for r in rows
                if r["images"] == MANY_IMAGES and r["mode"] == mode and r["xref"] == "table"]
        base = [r for r in few if r["mode"] == mode and r["mb"] == 200 and r["xref"] == "table"]
        if many and base:
            extra = many[0]["wall"] - base[0]["wall"]
            print("images, %s: x cp %.2f with %d images, %.2f with %d (200 MB); "
                  "%+.3f s, %.2f us per extra image" %
                  (mode, many[0]["to_cp"], MANY_IMAGES, base[0]["to_cp"], FEW_IMAGES, extra,
                   extra / (MANY_IMAGES - FEW_IMAGES) * 1e6))
    cores = os.cpu_count() or 1
    print("load average during the rounds: median %.1f, highest %.1f (%d cores)%s" %
          (statistics.median(all_loads), max(all_loads), cores,
           "  -- a busy machine: repeat when it is quiet" if max(all_loads) > cores else ""))
    print()
    if failures:
        print("TARGETS MISSED:")
        for failure in failures:
            print("  " + failure)
        return 1
    print("all targets met")
    return 0


if __name__ == "__main__":
    sys.exit(main())
