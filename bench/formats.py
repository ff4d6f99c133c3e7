#!/usr/bin/env python3
"""Benchmarks `quillon export` in each output format against the floor.

On the 1 GiB folder of bench/run.py (generated once, cached), with the output on tmpfs
(/dev/shm): the floor and the pread floor (bench/floor.cc), the extraction engine (--desktop),
the rescue engine's export as eml, as eml named from a template, as mbox and as Maildir, and
--update over an unchanged eml output. Prints one table of medians: seconds, MB/s of mailbox,
ratio to the floor and to the pread floor, peak resident memory and files written, each against its goal.

    bench/formats.py [--build build/native] [--cache DIR] [--size 1G] [--runs N] [--only WORDS]

--only mbox,update times the floors and only the rows whose name holds one of the words.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run as bench  # noqa: E402  (the cache, the timing and the checks of bench/run.py)

MIB = 1 << 20
OUT = "/dev/shm/quillon-formats"


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", default=os.path.join(here, "..", "build", "native"))
    ap.add_argument("--cache", default="/var/tmp/quillon-bench")
    ap.add_argument("--size", default="1G")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--only", default="", help="comma-separated words: the rows to time")
    args = ap.parse_args()

    build = os.path.abspath(args.build)
    quillon = os.path.join(build, "quillon")
    mkdbx = os.path.join(build, "gen", "quillon-mkdbx")
    floor = os.path.join(build, "bench", "quillon-bench-floor")
    for tool in (quillon, mkdbx, floor, "/usr/bin/time"):
        if not os.path.exists(tool):
            sys.exit("missing %s: build the native preset first" % tool)
    size = bench.parse_size(args.size)
    path, manifest = bench.generate(mkdbx, args.cache, size)
    live = sum(1 for line in open(manifest) if line.strip() and not line.startswith("#"))
    bench.warm(path)

    def export(*options):
        return lambda out: [quillon, "export", "-q"] + list(options) + ["-o", out, path]

    def updated(out):
        # The output an earlier export left, unchanged: made before the timed run.
        subprocess.run(export()(out), check=True)
        return export("--update")(out)

    # (name, argv maker, goal as (what, test on the row) or None, prepared: runs before timing)
    tools = [
        ("floor", lambda out: [floor, path, manifest, out], None),
        ("floor, pread", lambda out: [floor, "--pread", path, manifest, out], None),
        ("export --desktop", export("--desktop"), None),
        ("export (eml)", export(), ("<= 1.25x, < 64 MiB",
                                    lambda r: r["ratio"] <= 1.25 and r["peak"] < 64 * MIB)),
        ("export --name '{date} {subject}'", export("--name", "{date} {subject}"),
         ("<= 1.3x", lambda r: r["ratio"] <= 1.3)),
        ("export -f maildir", export("-f", "maildir"), ("<= 1.3x", lambda r: r["ratio"] <= 1.3)),
        ("export -f mbox", export("-f", "mbox"), (">= 1 GB/s", lambda r: r["mbps"] >= 1000)),
        ("export --update (unchanged)", updated,
         ("< 1 s per GiB", lambda r: r["seconds"] < size / (1 << 30))),
    ]
    words = [w for w in args.only.split(",") if w]
    if words:
        tools = [t for t in tools
                 if t[0].startswith("floor") or any(w in t[0] for w in words)]
    rows = []
    floor_seconds = pread_seconds = None
    for name, argv, goal in tools:
        times, peaks, files = [], [], 0
        for _ in range(args.runs):
            bench.fresh(OUT)
            command = argv(OUT)  # may prepare the output first
            seconds, peak, status = bench.run(command)
            if status != 0:
                print("warning: %s exited %d" % (name, status), file=sys.stderr)
            times.append(seconds)
            peaks.append(peak)
            files = bench.count_files(OUT)
        if name == "export (eml)":
            bad = bench.mismatches(OUT, path, manifest)
            if bad:
                sys.exit("export wrote %d messages that are not the generator's" % bad)
        seconds = statistics.median(times)
        floor_seconds = floor_seconds or seconds
        if name == "floor, pread":
            pread_seconds = seconds
        row = dict(name=name, seconds=seconds, mbps=size / seconds / 1e6,
                   ratio=seconds / floor_seconds, pread=seconds / (pread_seconds or seconds),
                   peak=max(peaks), files=files, goal=goal)
        rows.append(row)
        print("%-34s %6.2f s %6.0f MB/s %5.2fx %6.1f MiB %6d files"
              % (name, seconds, row["mbps"], row["ratio"], row["peak"] / MIB, files),
              file=sys.stderr)
    shutil.rmtree(OUT, ignore_errors=True)

    print()
    print("Measured on: %s, %d cores, %.0f GiB, %s; %d MiB folder, %d live messages; output "
          "on tmpfs; %d runs each, medians."
          % (bench.cpu_model(), os.cpu_count(), bench.memory_gib(), os.uname().release,
             size // MIB, live, args.runs))
    print()
    print("| what | seconds | MB/s | vs floor | vs pread floor | peak RSS | files | goal | met |")
    print("|---|---:|---:|---:|---:|---:|---:|---|---|")
    for r in rows:
        goal = r["goal"]
        print("| %s | %.2f | %.0f | %.2fx | %.2fx | %.1f MiB | %d | %s | %s |"
              % (r["name"], r["seconds"], r["mbps"], r["ratio"], r["pread"], r["peak"] / MIB,
                 r["files"],
                 goal[0] if goal else "", ("yes" if goal[1](r) else "no") if goal else ""))


if __name__ == "__main__":
    main()
