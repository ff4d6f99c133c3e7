#!/usr/bin/env bash
# Fills a seed folder for the fuzzer: the real files of ../shared/corpus when they are there, the
# committed seeds and regressions, and small mailboxes written by make_fuzz_seeds (and by the
# project's generator once it is built).
# Usage: fuzz/make-seeds.sh BUILD_DIR SEED_DIR
set -euo pipefail
build=$1
seeds=$2
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$seeds"

corpus="$here/../../shared/corpus"
if [ -d "$corpus" ]; then
  cp "$corpus"/*.dbx "$seeds"/
else
  echo "make-seeds: no shared corpus at $corpus; generated seeds only" >&2
fi
for dir in "$here/seeds" "$here/regressions"; do
  find "$dir" -maxdepth 1 -type f ! -name '*.md' -exec cp {} "$seeds"/ \; 2>/dev/null || true
done
"$build/fuzz/make_fuzz_seeds" "$seeds"

mkdbx="$build/gen/quillon-mkdbx"
if [ -x "$mkdbx" ]; then
  for seed in 1 2 3; do
    "$mkdbx" --help 2>/dev/null | grep -q -- '--messages' &&
      "$mkdbx" --seed "$seed" --messages 12 --fragmented -o "$seeds/gen$seed.dbx" >/dev/null 2>&1 ||
      true
  done
fi
echo "make-seeds: $(find "$seeds" -type f | wc -l) seeds in $seeds"
