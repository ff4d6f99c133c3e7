#!/usr/bin/env python3
"""Measures `quillon export --dry-run` on the worst mailbox files for its time and memory.

Builds each input of `quillon-bench-hostile --list` (links that alternate between two distant
self-naming words, dense one-byte messages, every word self-naming, maximal chains in file order
and in random order, join storms, many chains sharing one large last block, chains of blocks at odd
offsets, huge block sizes), runs the command once on each with a warm page cache, with each engine
(the rescue engine of `export`, and Quillon.exe's of `export --desktop`), and prints the seconds
and the peak resident memory it measured against the limits: 10 s for 1 GiB (pro rata for other
sizes) and 64 MiB plus 32 bytes per message found.

    bench/hostile.py [--build build/native] [--size 1G] [--dir /var/tmp/quillon-hostile]
                     [--kinds a,b,...] [--engines rescue,desktop] [--timeout S]

A run still going after --timeout seconds (600 by default: enough for random-chain at 1 GiB, whose
floor on a machine where a positioned read costs 2 us is over a minute) is ended and shown so.
"""
import argparse
import os
import re
import signal
import subprocess
import sys
import time

MIB = 1 << 20
GIB = 1 << 30


def parse_size(text):
    units = {"K": 1 << 10, "M": 1 << 20, "G": 1 << 30}
    if text[-1].upper() in units:
        return int(text[:-1]) * units[text[-1].upper()]
    return int(text)


def measure(argv, timeout):
    """Runs argv; returns (seconds, peak RSS in bytes, exit status, standard output). A run that
    takes longer than `timeout` seconds is ended: its status is then None.

    The peak comes from GNU time: a child forked from Python starts with Python's own resident
    memory, so its rusage would report that for a small run."""
    report = "/dev/shm/quillon-hostile-rss"
    start = time.perf_counter()
    timer = subprocess.Popen(["/usr/bin/time", "-q", "-f", "%M", "-o", report] + argv,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        out, _ = timer.communicate(timeout=timeout)
        status = timer.returncode
    except subprocess.TimeoutExpired:
        # Only the command is ended, so GNU time still reports its peak.
        with open("/proc/%d/task/%d/children" % (timer.pid, timer.pid)) as f:
            for pid in f.read().split():
                os.kill(int(pid), signal.SIGKILL)
        out, _ = timer.communicate()
        status = None
    seconds = time.perf_counter() - start
    with open(report) as f:
        peak_kib = int(f.read().split()[-1])
    os.remove(report)
    return seconds, peak_kib * 1024, status, out


def warm(path):
    with open(path, "rb") as f:
        while f.read(16 * MIB):
            pass


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build/native")
    parser.add_argument("--size", default="1G")
    parser.add_argument("--dir", default="/var/tmp/quillon-hostile")
    parser.add_argument("--kinds", default="", help="comma-separated; default all")
    parser.add_argument("--engines", default="rescue,desktop",
                        help="comma-separated: rescue (export), desktop (export --desktop)")
    parser.add_argument("--timeout", type=float, default=600, help="seconds before a run is ended")
    args = parser.parse_args()

    size = parse_size(args.size)
    generator = os.path.join(args.build, "bench", "quillon-bench-hostile")
    quillon = os.path.join(args.build, "quillon")
    listing = subprocess.run([generator, "--list"], stdout=subprocess.PIPE, text=True, check=True)
    kinds = [line.split("\t")[0] for line in listing.stdout.splitlines()]
    if args.kinds:
        kinds = [k for k in kinds if k in args.kinds.split(",")]
    os.makedirs(args.dir, exist_ok=True)

    time_limit = 10.0 * size / GIB
    print("quillon export --dry-run on %d MiB inputs; limits: %.1f s, 64 MiB + 32 bytes a message"
          % (size // MIB, time_limit))
    print()
    engines = [e for e in args.engines.split(",") if e]
    print("| input | engine | messages | seconds | limit | peak RSS | limit | within |")
    print("|---|---|---:|---:|---:|---:|---:|---|")
    failed = False
    for kind in kinds:
        path = os.path.join(args.dir, "%s-%s.dbx" % (kind, args.size))
        if not os.path.exists(path) or os.path.getsize(path) != size:
            subprocess.run([generator, kind, str(size), path], check=True)
        for engine in engines:
            warm(path)
            flags = ["--desktop"] if engine == "desktop" else []
            seconds, peak, status, out = measure(
                [quillon, "export", "--dry-run"] + flags +
                ["-o", os.path.join(args.dir, "out"), path], args.timeout)
            found = re.search(r"(\d+) messages? would be written", out)
            messages = int(found.group(1)) if found else 0
            memory_limit = 64 * MIB + 32 * messages
            within = seconds <= time_limit and peak <= memory_limit and status in (0, 2)
            failed |= not within
            verdict = ("yes" if within else "NO, ended after %d s" % args.timeout
                       if status is None else "NO (exit %d)" % status if status not in (0, 2)
                       else "NO")
            print("| %s | %s | %s | %.2f | %.1f | %.1f MiB | %.1f MiB | %s |"
                  % (kind, engine, messages if status is not None else "?", seconds, time_limit,
                     peak / MIB, memory_limit / MIB, verdict))
            sys.stdout.flush()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
