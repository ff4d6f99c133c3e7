#!/usr/bin/env python3
"""Measures `quillon check` against its goal: 1.5 GB/s or more with a warm page cache, and a peak
resident memory under 64 MiB.

`check` reads each mailbox's index and the headers of its blocks, never a message, so it should
run at the speed of reading the file from the page cache. Generates (and caches) the benchmark's
fragmented mailbox folder with deleted messages of each size (the same files as bench/run.py) and a
whole store of about that size (`quillon-mkdbx --store`), warms the page cache, runs
`quillon check` on each several times and prints the medians: seconds, GB/s (bytes of the .dbx
files checked per second), and the largest peak RSS of the runs (GNU time).

    bench/check.py [--build build/native] [--cache /var/tmp/quillon-bench] [--runs 5]
                   [--sizes 1G]
"""
import argparse
import os
import statistics
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run as bench  # noqa: E402  (the same folders, timing and machine description)

MIB = 1 << 20
GOAL_GBPS = 1.5
GOAL_PEAK = 64 * MIB


def store(mkdbx, cache, size):
    folder = os.path.join(cache, "store-%d" % size)
    if not os.path.exists(os.path.join(folder, "Folders.dbx")):
        subprocess.run([mkdbx, "--store", folder, "--seed", "2026", "--size", str(size)],
                       check=True, stdout=subprocess.DEVNULL)
    return folder


def dbx_bytes(path):
    if os.path.isfile(path):
        return os.path.getsize(path), 1
    names = [n for n in os.listdir(path) if n.lower().endswith(".dbx")]
    return sum(os.path.getsize(os.path.join(path, n)) for n in names), len(names)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", default=os.path.join(here, "..", "build", "native"))
    ap.add_argument("--cache", default="/var/tmp/quillon-bench")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--sizes", default="1G")
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    quillon = os.path.join(build, "quillon")
    mkdbx = os.path.join(build, "gen", "quillon-mkdbx")
    for tool in (quillon, mkdbx, "/usr/bin/time"):
        if not os.path.exists(tool):
            sys.exit("missing %s: build the native preset first" % tool)

    rows = []
    for size in (bench.parse_size(s) for s in args.sizes.split(",")):
        folder, _ = bench.generate(mkdbx, args.cache, size)
        for what, path in (("one mailbox", folder), ("a store", store(mkdbx, args.cache, size))):
            total, files = dbx_bytes(path)
            for name in ([path] if os.path.isfile(path) else
                         [os.path.join(path, n) for n in os.listdir(path)]):
                bench.warm(name)
            for form, extra in (("text", []), ("--json", ["--json"])):
                times, peaks = [], []
                for _ in range(args.runs):
                    seconds, peak, status = bench.run([quillon, "check"] + extra + [path])
                    if status != 0:
                        print("warning: quillon check exited %d on %s" % (status, path),
                              file=sys.stderr)
                    times.append(seconds)
                    peaks.append(peak)
                seconds = statistics.median(times)
                rows.append(dict(size=total, what=what, files=files, form=form, seconds=seconds,
                                 gbps=total / seconds / 1e9, peak=max(peaks)))
                print("%6d MiB %-11s %-6s %6.3f s  %5.2f GB/s  %5.1f MiB" %
                      (total // MIB, what, form, seconds, total / seconds / 1e9,
                       max(peaks) / MIB), file=sys.stderr)

    print()
    print("Measured on: %s, %d cores, %.0f GiB, %s; %d runs each, medians; warm page cache."
          % (bench.cpu_model(), os.cpu_count(), bench.memory_gib(), os.uname().release, args.runs))
    print()
    print("| checked | files | output | seconds | GB/s | peak RSS |")
    print("|---|---:|---|---:|---:|---:|")
    for r in rows:
        print("| %s, %d MiB | %d | %s | %.3f | %.2f | %.1f MiB |"
              % (r["what"], r["size"] // MIB, r["files"], r["form"], r["seconds"], r["gbps"],
                 r["peak"] / MIB))
    print()
    missed = [r for r in rows if r["gbps"] < GOAL_GBPS or r["peak"] >= GOAL_PEAK]
    for r in missed:
        print("missed the goal (%.1f GB/s, %d MiB): %s of %d MiB, %s: %.2f GB/s, %.1f MiB" %
              (GOAL_GBPS, GOAL_PEAK // MIB, r["what"], r["size"] // MIB, r["form"], r["gbps"],
               r["peak"] / MIB))
    if not missed:
        print("Every run met the goal: %.1f GB/s or more, peak RSS under %d MiB."
              % (GOAL_GBPS, GOAL_PEAK // MIB))


if __name__ == "__main__":
    main()
