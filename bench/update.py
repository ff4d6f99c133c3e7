#!/usr/bin/env python3
"""Measures `quillon export --update` on large manifests: its seconds and peak RSS.

Usage: bench/update.py [--build DIR] [--dir DIR] [--size 256M] [--manifest-mb 214] [--runs N]

Makes a folder of many small messages (quillon-mkdbx --shape small), exports it, and then:
  unchanged  --update of the export as it is: every listed file is read and skipped;
  grown      the same, its manifest grown to --manifest-mb with the lines of files of another
             mailbox, which the run does not export and carries over to its new manifest;
and prints a row for each with the manifest's size and lines. Peak RSS is the kernel's maxrss of
the command (GNU time). Files go under --dir (default /var/tmp/quillon-update).
"""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import time


def run(command, **kwargs):
    return subprocess.run(command, check=True, **kwargs)


def measured(command):
    """(seconds, peak RSS in MiB, exit status) of `command`, run under GNU time."""
    start = time.monotonic()
    result = subprocess.run(["/usr/bin/time", "-f", "%M"] + command, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE)
    seconds = time.monotonic() - start
    last = result.stderr.decode().strip().splitlines()[-1]
    return seconds, int(last) / 1024.0, result.returncode


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build/native")
    parser.add_argument("--dir", default="/var/tmp/quillon-update")
    parser.add_argument("--size", default="256M")
    parser.add_argument("--manifest-mb", type=float, default=214)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    quillon = os.path.abspath(os.path.join(args.build, "quillon"))
    mkdbx = os.path.abspath(os.path.join(args.build, "gen", "quillon-mkdbx"))
    os.makedirs(args.dir, exist_ok=True)
    os.chdir(args.dir)
    mailbox = "Inbox-%s.dbx" % args.size
    if not os.path.exists(mailbox):
        run([mkdbx, "--shape", "small", "--size", args.size, "--seed", "7", mailbox])
    shutil.rmtree("out", ignore_errors=True)
    run([quillon, "export", "-q", "-o", "out", mailbox])
    manifest = os.path.join("out", "quillon-manifest.jsonl")
    with open(manifest, "rb") as f:
        original = f.read()

    def row(name):
        size = os.path.getsize(manifest)
        with open(manifest, "rb") as f:
            lines = sum(1 for _ in f)
        best = None
        for _ in range(args.runs):
            run(["sync"])
            seconds, rss, status = measured([quillon, "export", "-q", "--update", "-o", "out",
                                             mailbox])
            if status != 0:
                sys.exit("%s: exit %d" % (name, status))
            best = (seconds, rss) if best is None or seconds < best[0] else best
        print("| %s | %.1f | %d | %.2f | %.1f |" % (name, size / 1e6, lines, best[0], best[1]))
        sys.stdout.flush()

    print("| case | manifest MB | lines | seconds (best of %d) | peak RSS MiB |" % args.runs)
    print("|---|---:|---:|---:|---:|")
    row("unchanged")
    # Lines of another mailbox's files, until the manifest has the size asked for: made from the
    # lines of this one, with their mailbox, path and identity changed.
    file_lines = [l for l in original.splitlines() if b'"path"' in l]
    target = int(args.manifest_mb * 1e6)
    with open(manifest, "ab") as out:
        written = len(original)
        n = 0
        while written < target:
            j = json.loads(file_lines[n % len(file_lines)])
            n += 1
            j["mailbox"] = "Archive.dbx"
            j["index_id"] = n
            j["path"] = "Archive/Archive.dbx-%d.eml" % n
            line = (json.dumps(j, ensure_ascii=False, separators=(",", ":")) + "\n").encode()
            out.write(line)
            written += len(line)
    row("grown")
    with open(manifest, "wb") as f:
        f.write(original)


if __name__ == "__main__":
    main()
