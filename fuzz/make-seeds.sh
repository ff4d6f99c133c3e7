#!/usr/bin/env bash
# Fills a seed folder for the fuzzer: the real files of ../shared/corpus when they are there, the
# committed seeds and regressions, small mailboxes written by make_fuzz_seeds, and generated
# folders when the project's generator is built.
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

# The fuzz build makes only the fuzzer, so look for the generator in the native build as well.
for mkdbx in "$build/gen/quillon-mkdbx" "$here/../build/native/gen/quillon-mkdbx"; do
  [ -x "$mkdbx" ] || continue
  for seed in 1 2 3; do
    "$mkdbx" --seed "$seed" --size 160K --deleted 2 --fragmented "$seeds/gen$seed.dbx" >/dev/null
  done
  break
done
echo "make-seeds: $(find "$seeds" -type f | wc -l) seeds in $seeds"
