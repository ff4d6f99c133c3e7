#!/usr/bin/env python3
"""Measures the command on the worst store folders for the cost of a store as a whole.

Builds each input of `quillon-bench-stores --list` (a Folders.dbx of many nested folders; many
mailbox files of one folder name, or each of its own) under --dir, at the full count and at a
quarter of it, runs each case once on each with a warm page cache, and prints its wall and CPU
seconds and peak resident memory, the limit of 64 MiB, and how the CPU time grew from the quarter
to the full count (4.0 is linear; 16 quadratic).

    bench/stores.py [--build build/native] [--dir /var/tmp/quillon-stores]
                    [--out /dev/shm/quillon-stores-out] [--cases a,b,...]

The output folder of each export is removed after its run; put it on tmpfs.
"""
import argparse
import os
import shutil
import subprocess
import sys
import time

MIB = 1 << 20

# name, input kind, full count, command (DIR: the input, OUT: the output folder)
CASES = [
    ("check-nested", "nested-folders", 50000, ["check", "DIR"]),
    ("tree-nested", "nested-folders", 20000, ["export", "-q", "--tree", "-o", "OUT", "DIR"]),
    ("tree-nested-mbox", "nested-folders", 20000, ["export", "-q", "--tree", "--format", "mbox",
                                                   "-o", "OUT", "DIR"]),
    ("tree-nested-maildir", "nested-folders", 20000, ["export", "-q", "--tree", "--format",
                                                      "maildir", "-o", "OUT", "DIR"]),
    ("mbox-same-name", "same-name", 10000, ["export", "-q", "--format", "mbox", "-o", "OUT",
                                            "DIR"]),
    ("mbox-distinct", "distinct-names", 10000, ["export", "-q", "--format", "mbox", "-o", "OUT",
                                                "DIR"]),
    ("check-many", "distinct-names", 10000, ["check", "DIR"]),
]


def measure(argv):
    """Runs argv; returns (wall seconds, CPU seconds, peak RSS in bytes, exit status). The peak
    and CPU time come from GNU time: a child forked from Python starts with Python's own resident
    memory, so its rusage would report that for a small run."""
    report = "/dev/shm/quillon-stores-rss"
    start = time.perf_counter()
    status = subprocess.run(["/usr/bin/time", "-q", "-f", "%M %U %S", "-o", report] + argv,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
    seconds = time.perf_counter() - start
    with open(report) as f:
        peak_kib, user, system = f.read().split()[-3:]
    os.remove(report)
    return seconds, float(user) + float(system), int(peak_kib) * 1024, status


def warm(folder):
    for name in os.listdir(folder):
        with open(os.path.join(folder, name), "rb") as f:
            while f.read(16 * MIB):
                pass


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build/native")
    parser.add_argument("--dir", default="/var/tmp/quillon-stores")
    parser.add_argument("--out", default="/dev/shm/quillon-stores-out")
    parser.add_argument("--cases", default="", help="comma-separated; default all")
    args = parser.parse_args()
    generator = os.path.join(args.build, "bench", "quillon-bench-stores")
    quillon = os.path.join(args.build, "quillon")
    cases = [c for c in CASES if not args.cases or c[0] in args.cases.split(",")]
    os.makedirs(args.dir, exist_ok=True)

    print("| case | count | seconds | CPU seconds | peak RSS | within 64 MiB | CPU growth from a "
          "quarter |")
    print("|---|---:|---:|---:|---:|---|---:|")
    failed = False
    for name, kind, count, command in cases:
        cpu = {}
        for n in (count // 4, count):
            folder = os.path.join(args.dir, "%s-%d" % (kind, n))
            if not os.path.isdir(folder):
                subprocess.run([generator, kind, str(n), folder], check=True)
            warm(folder)
            shutil.rmtree(args.out, ignore_errors=True)
            argv = [quillon] + [folder if w == "DIR" else args.out if w == "OUT" else w
                                for w in command]
            seconds, cpu[n], peak, status = measure(argv)
            shutil.rmtree(args.out, ignore_errors=True)
            within = peak <= 64 * MIB and status in (0, 1, 3)
            failed |= not within
            growth = "%.1f" % (cpu[n] / cpu[count // 4]) if n == count and cpu[count // 4] else ""
            verdict = "yes" if within else "NO" if peak > 64 * MIB else "NO (exit %d)" % status
            print("| %s | %d | %.2f | %.2f | %.1f MiB | %s | %s |"
                  % (name, n, seconds, cpu[n], peak / MIB, verdict, growth))
            sys.stdout.flush()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
