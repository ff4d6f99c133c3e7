#!/usr/bin/env python3
"""Measures every command and format of `quillon` on folders of each shape against its goals.

The folders (generated once with quillon-mkdbx, cached): the generator's default shape (about
9,000 messages a GiB), a real Inbox of many small messages (--shape small, 166,000 a GiB), only
one-block messages (--shape tiny, 1.3 million a GiB), each fragmented with deleted messages among
them, and a whole store of small messages for --tree. With the page cache warm and the output on
tmpfs, each command runs --runs times, the commands taken in turn within each run so that a busy
moment of the machine falls on all of them alike. Prints per folder one table of medians: wall
seconds, CPU seconds (user + system: what the work costs whatever else the machine does), GB/s of
mailbox, the ratio to the floor (bench/floor.cc: one file per message, open, write, close; and
the same files written whole: a temporary file, its time set, renamed; or made under the final
name with O_EXCL, its time set, as a fresh eml export writes them), the
largest peak resident memory (GNU time), and the goal each row is held to.

    bench/scale.py [--build build/native] [--cache /var/tmp/quillon-bench] [--runs 3]
                   [--folders default-1G,small-1G,tiny-1G,store-1G,default-2044M,small-2044M]
                   [--only WORDS] [--quillon PATH]

--only check,mbox times only the rows whose command holds one of the words (the floors always);
--quillon measures another build's command on the same folders.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run as bench  # noqa: E402  (sizes, page cache, the machine's description)

MIB = 1 << 20
GB = 1e9
OUT = "/dev/shm/quillon-scale"
PEAK = 64 * MIB

# Deleted messages per GiB of each shape: about one in forty of the small and tiny shapes' count.
DELETED_PER_GIB = {"default": 341, "small": 4096, "tiny": 20000}


def timed(argv):
    """Runs argv after a sync; (wall seconds, CPU seconds, peak RSS bytes, exit status)."""
    report = "/dev/shm/quillon-scale-time"
    os.sync()
    start = os.times()
    status = subprocess.call(["/usr/bin/time", "-q", "-f", "%M %U %S", "-o", report] + argv,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    seconds = os.times().elapsed - start.elapsed
    with open(report) as f:
        peak_kib, user, system = f.read().split()[-3:]
    os.remove(report)
    return seconds, float(user) + float(system), int(peak_kib) * 1024, status


def folder(mkdbx, cache, name):
    """The cached mailbox (or store) `name` ("small-1G", "store-1G"); (path, manifest or None)."""
    shape, size_text = name.split("-")
    size = bench.parse_size(size_text)
    os.makedirs(cache, exist_ok=True)
    if shape == "default":
        return bench.generate(mkdbx, cache, size)  # bench/run.py's own folder
    if shape == "store":
        path = os.path.join(cache, "store-small-%d" % size)
        if not os.path.exists(os.path.join(path, "Folders.dbx")):
            subprocess.run([mkdbx, "--store", path, "--seed", "2026", "--size", str(size),
                            "--shape", "small"], check=True, stdout=subprocess.DEVNULL)
        return path, None
    path = os.path.join(cache, "%s-%d.dbx" % (shape, size))
    manifest = path + ".manifest"
    if not (os.path.exists(path) and os.path.exists(manifest)):
        deleted = DELETED_PER_GIB[shape] * size // (1 << 30)
        subprocess.run([mkdbx, "--seed", "2026", "--size", str(size), "--shape", shape,
                        "--fragmented", "--deleted", str(deleted), "--manifest", manifest, path],
                       check=True, stdout=subprocess.DEVNULL)
    return path, manifest


def dbx_files(path):
    if os.path.isfile(path):
        return [path]
    return [os.path.join(path, n) for n in sorted(os.listdir(path)) if n.lower().endswith(".dbx")]


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", default=os.path.join(here, "..", "build", "native"))
    ap.add_argument("--cache", default="/var/tmp/quillon-bench")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--folders",
                    default="default-1G,small-1G,tiny-1G,store-1G,default-2044M,small-2044M")
    ap.add_argument("--only", default="", help="comma-separated words: the rows to time")
    ap.add_argument("--quillon", default=None,
                    help="the quillon to measure (default: the build's), to compare builds")
    args = ap.parse_args()

    build = os.path.abspath(args.build)
    quillon = os.path.abspath(args.quillon) if args.quillon else os.path.join(build, "quillon")
    mkdbx = os.path.join(build, "gen", "quillon-mkdbx")
    floor = os.path.join(build, "bench", "quillon-bench-floor")
    for tool in (quillon, mkdbx, floor, "/usr/bin/time"):
        if not os.path.exists(tool):
            sys.exit("missing %s: build the native preset first" % tool)
    words = [w for w in args.only.split(",") if w]

    tables = []
    for name in args.folders.split(","):
        path, manifest = folder(mkdbx, args.cache, name)
        files = dbx_files(path)
        size = sum(os.path.getsize(f) for f in files)
        for f in files:
            bench.warm(f)
        store = manifest is None

        def export(*options):
            return lambda out: [quillon, "export", "-q"] + list(options) + ["-o", out, path]

        def updated(out):
            subprocess.run(export()(out), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            return export("--update")(out)

        # (command, argv maker, goal: (words, test of a row) or None)
        peak = ("< 64 MiB", lambda r: r["peak"] < PEAK)
        rows = []
        if not store:
            rows.append(("floor", lambda out: [floor, path, manifest, out], None))
            # The same files written whole, as the export writes its own (bench/floor.cc).
            rows.append(("floor, whole files",
                         lambda out: [floor, "--whole", path, manifest, out], None))
            # Made under the final name (O_EXCL), its time set: how a fresh eml export writes.
            rows.append(("floor, whole files by O_EXCL",
                         lambda out: [floor, "--whole=excl", path, manifest, out], None))
        rows += [
            ("export --desktop", export("--desktop"), None),
            ("export (eml)", export(),
             ("<= 1.25x floor, < 64 MiB", lambda r: r["ratio"] <= 1.25 and r["peak"] < PEAK)
             if not store else peak),
        ]
        if store:
            rows.append(("export --tree", export("--tree"), peak))
        rows += [
            ("export -f mbox", export("-f", "mbox"),
             (">= 1 GB/s, < 64 MiB", lambda r: r["gbps"] >= 1 and r["peak"] < PEAK)),
            ("export -f maildir", export("-f", "maildir"),
             ("<= 1.3x floor, < 64 MiB", lambda r: r["ratio"] <= 1.3 and r["peak"] < PEAK)
             if not store else peak),
            ("export --dry-run", export("--dry-run"), peak),
            ("export --update (unchanged)", updated, peak),
            ("check", lambda out: [quillon, "check", path],
             (">= 1.5 GB/s, < 64 MiB", lambda r: r["gbps"] >= 1.5 and r["peak"] < PEAK)),
            ("list", lambda out: [quillon, "list", path], peak),
            ("list --json", lambda out: [quillon, "list", "--json", path], peak),
        ]
        if words:
            rows = [r for r in rows if r[0].startswith("floor") or any(w in r[0] for w in words)]
        measured = {r[0]: dict(times=[], cpus=[], peaks=[]) for r in rows}
        for run in range(args.runs):
            for command, argv, _ in rows:
                bench.fresh(OUT)
                seconds, cpu, peak_bytes, status = timed(argv(OUT))
                if status not in (0, 3):  # 3: damaged messages found, none here
                    print("warning: %s exited %d on %s" % (command, status, name),
                          file=sys.stderr)
                m = measured[command]
                m["times"].append(seconds)
                m["cpus"].append(cpu)
                m["peaks"].append(peak_bytes)
                print("%-14s run %d %-28s %7.2f s %7.2f s CPU %6.1f MiB"
                      % (name, run + 1, command, seconds, cpu, peak_bytes / MIB), file=sys.stderr)
        shutil.rmtree(OUT, ignore_errors=True)
        floor_seconds = (statistics.median(measured["floor"]["times"])
                         if "floor" in measured else None)
        table = []
        for command, _, goal in rows:
            m = measured[command]
            seconds = statistics.median(m["times"])
            row = dict(command=command, seconds=seconds, cpu=statistics.median(m["cpus"]),
                       gbps=size / seconds / GB, peak=max(m["peaks"]),
                       ratio=seconds / floor_seconds if floor_seconds else float("nan"))
            row["goal"] = goal[0] if goal else ""
            row["met"] = ("yes" if goal[1](row) else "no") if goal else ""
            table.append(row)
        tables.append((name, size, len(files), table))

    print()
    print("Measured on: %s, %d cores, %.0f GiB, %s; page cache warm, output on tmpfs; %d runs "
          "each, taken in turn, medians (peak: the largest)."
          % (bench.cpu_model(), os.cpu_count(), bench.memory_gib(), os.uname().release,
             args.runs))
    for name, size, files, table in tables:
        print()
        print("%s: %d MiB in %d file%s" % (name, size // MIB, files, "" if files == 1 else "s"))
        print()
        print("| command | seconds | CPU seconds | GB/s | x floor | peak MiB | goal | met |")
        print("|---|---:|---:|---:|---:|---:|---|---|")
        for r in table:
            ratio = "" if r["ratio"] != r["ratio"] else "%.2fx" % r["ratio"]
            print("| %s | %.2f | %.2f | %.2f | %s | %.1f | %s | %s |"
                  % (r["command"], r["seconds"], r["cpu"], r["gbps"], ratio, r["peak"] / MIB,
                     r["goal"], r["met"]))


if __name__ == "__main__":
    main()
