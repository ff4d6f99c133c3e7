#!/usr/bin/env python3
"""Benchmarks `quillon export` against the floor and the peer tool undbx.

Generates (and caches) realistic fragmented mailbox folders with deleted messages, warms the page
cache, runs every tool several times on each folder with output on tmpfs (and, for the 1 GiB
folder, on disk), and prints one table of medians: seconds, MB/s, ratio to the floor and to the
floor without a mapping, peak resident memory and messages written, then the growth of time and
memory per GiB. Every run starts with no dirty pages (sync), so no run pays for the writeback of
the one before it.

    bench/run.py [--build build/native] [--cache DIR] [--runs N] [--sizes 64M,256M,1G,2044M]
"""
import argparse
import hashlib
import os
import shutil
import statistics
import subprocess
import sys
import time

MIB = 1 << 20


def parse_size(text):
    units = {"K": 1 << 10, "M": 1 << 20, "G": 1 << 30}
    if text[-1].upper() in units:
        return int(text[:-1]) * units[text[-1].upper()]
    return int(text)


def run(argv, cwd=None):
    """Runs argv after a sync; returns (seconds, peak RSS in bytes, exit status).

    The peak comes from GNU time: a child forked from Python starts with Python's own resident
    memory, so its rusage would report that for every small tool."""
    report = "/dev/shm/quillon-bench-rss"
    os.sync()
    start = time.perf_counter()
    status = subprocess.call(["/usr/bin/time", "-q", "-f", "%M", "-o", report] + argv, cwd=cwd,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    seconds = time.perf_counter() - start
    with open(report) as f:
        peak_kib = int(f.read().split()[-1])
    os.remove(report)
    return seconds, peak_kib * 1024, status


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return "unknown processor"


def memory_gib():
    return os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES") / (1 << 30)


def mismatches(folder, mailbox, manifest):
    """How many of the manifest's messages quillon did not write byte for byte into `folder`."""
    name = os.path.basename(mailbox)
    bad = 0
    with open(manifest) as f:
        entries = [line.split() for line in f if line.strip() and not line.startswith("#")]
    for n, (_, length, sha256) in enumerate(entries, 1):
        try:
            with open(os.path.join(folder, "%s-%d.eml" % (name, n)), "rb") as eml:
                data = eml.read()
        except OSError:
            bad += 1
            continue
        if len(data) != int(length) or hashlib.sha256(data).hexdigest() != sha256:
            bad += 1
    return bad


def count_files(folder):
    n = 0
    for _, _, files in os.walk(folder):
        n += len(files)
    return n


def generate(mkdbx, cache, size):
    os.makedirs(cache, exist_ok=True)
    path = os.path.join(cache, "bench-%d.dbx" % size)
    manifest = path + ".manifest"
    if not (os.path.exists(path) and os.path.exists(manifest)):
        deleted = max(10, size // (3 * MIB))
        subprocess.run([mkdbx, "--seed", "2026", "--size", str(size), "--fragmented",
                        "--deleted", str(deleted), "--manifest", manifest, path], check=True)
    return path, manifest


def warm(path):
    with open(path, "rb") as f:
        while f.read(8 * MIB):
            pass


def fresh(folder):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", default=os.path.join(here, "..", "build", "native"))
    ap.add_argument("--cache", default="/var/tmp/quillon-bench")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--sizes", default="64M,256M,1G,2044M")
    ap.add_argument("--disk-out", default=None,
                    help="folder on disk for the on-disk runs (default: under --cache)")
    args = ap.parse_args()

    build = os.path.abspath(args.build)
    quillon = os.path.join(build, "quillon")
    mkdbx = os.path.join(build, "gen", "quillon-mkdbx")
    floor = os.path.join(build, "bench", "quillon-bench-floor")
    literal = os.path.join(build, "bench", "quillon-bench-literal")
    undbx = shutil.which("undbx")
    for tool in (quillon, mkdbx, floor, literal, "/usr/bin/time"):
        if not os.path.exists(tool):
            sys.exit("missing %s: build the native preset first" % tool)
    shm = "/dev/shm/quillon-bench-out"
    disk = args.disk_out or os.path.join(args.cache, "out")

    sizes = [parse_size(s) for s in args.sizes.split(",")]
    rows = []
    wrong = []
    for size in sizes:
        path, manifest = generate(mkdbx, args.cache, size)
        live = sum(1 for line in open(manifest) if line.strip() and not line.startswith("#"))
        warm(path)
        tools = [
            ("floor", lambda out: [floor, path, manifest, out]),
            ("floor, pread", lambda out: [floor, "--pread", path, manifest, out]),
            # The extraction engine; bench/formats.py measures the rescue engine's formats.
            ("quillon --desktop", lambda out: [quillon, "export", "-q", "--desktop", "-o", out,
                                               path]),
            ("quillon --desktop --dry-run", lambda out: [quillon, "export", "-q", "--desktop",
                                                         "--dry-run", "-o", out, path]),
            # Reads the index and the blocks' headers, writes nothing (bench/check.py alone).
            ("quillon check", lambda out: [quillon, "check", path]),
        ]
        if undbx:
            tools.append(("undbx", lambda out: [undbx, "-v", "0", path, out]))
            tools.append(("undbx --recover", lambda out: [undbx, "-v", "0", "-r", path, out]))
        if size <= 64 * MIB:
            tools.append(("literal reads", lambda out: [literal, path, out]))
        places = [("tmpfs", shm)]
        # The disk run is for the folder nearest 1 GiB.
        if size == min(sizes, key=lambda s: abs(s - (1 << 30))):
            places.append(("disk", disk))
        for place, out in places:
            floor_seconds = pread_seconds = None
            for name, argv in tools:
                if name == "literal reads" and place != "tmpfs":
                    continue  # it measures reading, which the output's place does not change
                times, peaks, files = [], [], 0
                for _ in range(args.runs):
                    fresh(out)
                    seconds, peak, status = run(argv(out))
                    if status != 0:
                        print("warning: %s exited %d" % (name, status), file=sys.stderr)
                    times.append(seconds)
                    peaks.append(peak)
                    files = count_files(out)
                if name == "quillon --desktop":
                    # A time counts only for files that are right.
                    bad = mismatches(out, path, manifest)
                    if bad:
                        wrong.append("%d MiB %s: %d messages not written byte for byte"
                                     % (size // MIB, place, bad))
                fresh(out)
                seconds = statistics.median(times)
                if name == "floor":
                    floor_seconds = seconds
                elif name == "floor, pread":
                    pread_seconds = seconds
                # The floors come first; the pread floor's own first ratio is to itself.
                pread_seconds = pread_seconds or seconds
                rows.append(dict(size=size, place=place, tool=name, seconds=seconds,
                                 mbps=size / seconds / 1e6, ratio=seconds / floor_seconds,
                                 pread_ratio=seconds / pread_seconds,
                                 peak=max(peaks), files=files, live=live))
                print("%6d MiB %-5s %-18s %7.2f s  %6.0f MB/s  %5.2fx  %5.2fx  %6.1f MiB  %d files"
                      % (size // MIB, place, name, seconds, size / seconds / 1e6,
                         seconds / floor_seconds, seconds / pread_seconds, max(peaks) / MIB,
                         files), file=sys.stderr)
        shutil.rmtree(shm, ignore_errors=True)

    print()
    print("Measured on: %s, %d cores, %.0f GiB, %s; %d runs each, medians."
          % (cpu_model(), os.cpu_count(), memory_gib(), os.uname().release, args.runs))
    print()
    print("| folder | output | tool | seconds | MB/s | vs floor | vs pread floor | peak RSS "
          "| files written | live messages |")
    print("|---:|---|---|---:|---:|---:|---:|---:|---:|---:|")
    for r in rows:
        print("| %d MiB | %s | %s | %.2f | %.0f | %.2fx | %.2fx | %.1f MiB | %d | %d |"
              % (r["size"] // MIB, r["place"], r["tool"], r["seconds"], r["mbps"], r["ratio"],
                 r["pread_ratio"], r["peak"] / MIB, r["files"], r["live"]))

    print()
    print("Growth per GiB (least squares over the tmpfs runs of every size):")
    print()
    print("| tool | seconds per GiB | peak RSS per GiB |")
    print("|---|---:|---:|")
    for tool in dict.fromkeys(r["tool"] for r in rows):
        pts = [(r["size"] / (1 << 30), r["seconds"], r["peak"] / MIB)
               for r in rows if r["tool"] == tool and r["place"] == "tmpfs"]
        if len(pts) < 2:
            continue
        xs = [p[0] for p in pts]
        mx = statistics.mean(xs)
        den = sum((x - mx) ** 2 for x in xs)

        def slope(i):
            my = statistics.mean(p[i] for p in pts)
            return sum((p[0] - mx) * (p[i] - my) for p in pts) / den
        print("| %s | %.2f s | %.1f MiB |" % (tool, slope(1), slope(2)))

    print()
    if wrong:
        print("quillon export wrote wrong files:\n  " + "\n  ".join(wrong))
        sys.exit(1)
    print("Every file quillon export wrote matched the generator's manifest (length and SHA-256).")


if __name__ == "__main__":
    main()
