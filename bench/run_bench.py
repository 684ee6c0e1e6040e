#!/usr/bin/env python3
"""Times Quillane's main job against the cost of copying the file.

For every input it runs, side by side in each round (the order rotates from
round to round, outputs are deleted and dirty pages written back before every
run, outside the timing):

  floor     bench/floor.c: one read(2) into one buffer, memchr over it, one
            write(2) of N + 1 KiB; the least work that reads, scans and
            writes the file
  cp        the system's cp (an in-kernel copy)
  default   quillane /in IN /out OUT /overwrite
  light     quillane /in IN /out OUT /overwrite /noother

and prints medians of wall time, of CPU time (user + system) and of each
run's ratio to the floor and to cp of the same round, with peak resident
memory. It exits with status 1 when a target is missed:

  * every quillane run: median wall time at most 1.5 x the floor's;
  * every quillane run: peak resident memory at most 1.1 x N + 16 MiB.

It reports without failing the stretch goal (at most 1.25 x cp at 200 MB and
1 GB), how the ratio to the floor moves from the smallest to the largest size,
and 20,000 small images against 2,000 large ones.

Inputs are made by bench/make_bench_pdf.py in --work (default: the system's
temporary folder) and kept for later runs; quillane is built in Release into
build/bench unless --quillane names one. Standard library only; Linux.

    bench/run_bench.py                       # 50 MB, 200 MB, 1 GB; 5 rounds
    bench/run_bench.py --sizes 50 --rounds 3 # a quick look
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
MIB = 1 << 20

FLOOR_LIMIT = 1.5
CP_STRETCH = 1.25
MANY_IMAGES = 20_000
FEW_IMAGES = 2_000


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


def build_floor(work):
    floor = os.path.join(work, "floor")
    subprocess.run(["cc", "-O2", "-o", floor, os.path.join(HERE, "floor.c")], check=True)
    return floor


def make_input(work, megabytes, images, xref):
    path = os.path.join(work, "bench-%dmb-%dimg-%s.pdf" % (megabytes, images, xref))
    if not os.path.exists(path):
        log("making %s" % path)
        partial = path + ".part"
        subprocess.run([sys.executable, os.path.join(HERE, "make_bench_pdf.py"), partial,
                        "--mb", str(megabytes), "--images", str(images), "--xref", xref],
                       check=True)
        os.replace(partial, path)
    return path


def remove(path):
    try:
        os.remove(path)
    except FileNotFoundError:
        pass


def timed(command, output, env):
    """Runs `command` once; returns (wall seconds, CPU seconds, peak RSS bytes)."""
    remove(output)
    os.sync()
    start = time.perf_counter()
    child = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        raise SystemExit("failed (%d): %s" % (child.returncode, " ".join(command)))
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss * 1024


def measure(case, programs, rounds, work, env):
    """Runs every program once per round, rotating their order."""
    results = {name: [] for name, _ in programs}
    for round_index in range(rounds):
        order = programs[round_index % len(programs):] + programs[:round_index % len(programs)]
        for name, make_command in order:
            output = os.path.join(work, "out-%s.pdf" % name)
            results[name].append(timed(make_command(case["path"], output), output, env))
            expected = case["size"] + (1024 if name == "floor" else 0)
            actual = os.path.getsize(output)
            if (name == "default" and actual <= case["size"]) or \
               (name != "default" and actual != expected):
                raise SystemExit("%s wrote %d bytes for an input of %d" %
                                 (name, actual, case["size"]))
            remove(output)
    return results


def paired_ratio(results, name, reference):
    return statistics.median(run[0] / ref[0] for run, ref in zip(results[name], results[reference]))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", default="50,200,1000", help="input sizes in 10^6 bytes")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--quillane", help="a built quillane (default: build one)")
    parser.add_argument("--work", default=os.path.join(tempfile.gettempdir(), "quillane-bench"))
    parser.add_argument("--no-many", action="store_true",
                        help="skip the 20,000-image input")
    args = parser.parse_args()

    os.makedirs(args.work, exist_ok=True)
    quillane = args.quillane or build_quillane(os.path.join(REPO, "build", "bench"))
    floor = build_floor(args.work)
    env = dict(os.environ)
    # A registry of its own, absent, so that no stored setting changes the mode.
    env["QUILLANE_REGISTRY"] = os.path.join(args.work, "absent-registry.reg")
    remove(env["QUILLANE_REGISTRY"])

    programs = [
        ("floor", lambda i, o: [floor, i, o]),
        ("cp", lambda i, o: ["cp", i, o]),
        ("default", lambda i, o: [quillane, "/in", i, "/out", o, "/overwrite"]),
        ("light", lambda i, o: [quillane, "/in", i, "/out", o, "/overwrite", "/noother"]),
    ]
    sizes = [int(s) for s in args.sizes.split(",")]
    cases = []
    for megabytes in sizes:
        for xref in ("table", "stream"):
            cases.append({"mb": megabytes, "images": FEW_IMAGES, "xref": xref})
    if not args.no_many and 200 in sizes:
        cases.append({"mb": 200, "images": MANY_IMAGES, "xref": "table"})

    rows = []
    failures = []
    for case in cases:
        case["path"] = make_input(args.work, case["mb"], case["images"], case["xref"])
        case["size"] = os.path.getsize(case["path"])
        log("measuring %s" % os.path.basename(case["path"]))
        results = measure(case, programs, args.rounds, args.work, env)
        label = "%d MB, %d images, %s" % (case["mb"], case["images"], case["xref"])
        for name in ("default", "light"):
            runs = results[name]
            to_floor = paired_ratio(results, name, "floor")
            to_cp = paired_ratio(results, name, "cp")
            peak = max(run[2] for run in runs)
            limit = 1.1 * case["size"] + 16 * MIB
            row = {
                "case": label, "mb": case["mb"], "images": case["images"], "mode": name,
                "wall": statistics.median(run[0] for run in runs),
                "cpu": statistics.median(run[1] for run in runs),
                "floor": statistics.median(run[0] for run in results["floor"]),
                "cp": statistics.median(run[0] for run in results["cp"]),
                "to_floor": to_floor, "to_cp": to_cp,
                "rss": peak / case["size"], "rss_mib": peak / MIB,
            }
            rows.append(row)
            if to_floor > FLOOR_LIMIT:
                failures.append("%s %s: %.2f x floor (limit %.2f)" %
                                (label, name, to_floor, FLOOR_LIMIT))
            if peak > limit:
                failures.append("%s %s: peak memory %.0f MiB (limit %.0f MiB)" %
                                (label, name, peak / MIB, limit / MIB))

    print("| input | mode | quillane s | CPU s | floor s | cp s | x floor | x cp | peak RSS |")
    print("|---|---|---|---|---|---|---|---|---|")
    for r in rows:
        print("| %s | %s | %.3f | %.3f | %.3f | %.3f | %.2f | %.2f | %.2f N (%.0f MiB) |" %
              (r["case"], r["mode"], r["wall"], r["cpu"], r["floor"], r["cp"], r["to_floor"],
               r["to_cp"], r["rss"], r["rss_mib"]))
    print()

    few = [r for r in rows if r["images"] == FEW_IMAGES]
    for mode in ("default", "light"):
        by_size = {}
        for r in few:
            if r["mode"] == mode:
                by_size.setdefault(r["mb"], []).append(r["to_floor"])
        if len(by_size) > 1:
            low, high = min(by_size), max(by_size)
            print("scaling, %s: x floor %.2f at %d MB, %.2f at %d MB" %
                  (mode, max(by_size[low]), low, max(by_size[high]), high))
        stretch = [r for r in few if r["mode"] == mode and r["mb"] >= 200]
        if stretch:
            worst = max(stretch, key=lambda r: r["to_cp"])
            print("stretch goal, %s: worst %.2f x cp (%s; goal %.2f)%s" %
                  (mode, worst["to_cp"], worst["case"], CP_STRETCH,
                   "" if worst["to_cp"] <= CP_STRETCH else "  -- not reached"))
        many = [r for r in rows if r["images"] == MANY_IMAGES and r["mode"] == mode]
        base = [r for r in few if r["mode"] == mode and r["mb"] == 200 and "table" in r["case"]]
        if many and base:
            print("images, %s: x floor %.2f with %d images, %.2f with %d (200 MB)" %
                  (mode, many[0]["to_floor"], MANY_IMAGES, base[0]["to_floor"], FEW_IMAGES))
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
