#!/usr/bin/env bash
# Fuzzes the engine for a bounded time (default 60 s). Fails on any crash, leak, input slower than
# 1 s, or memory over 512 MB; the input that did it is copied to fuzz/regressions/, where the unit
# tests replay it.
# Usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
source scripts/ensure-packages.sh
ensure_packages "${FUZZ_PACKAGES[@]}"

cmake --preset fuzz -DQUILLON_WERROR=ON >/dev/null
cmake --build build/fuzz -j"$(nproc)" --target export_fuzzer make_fuzz_seeds

work=build/fuzz/run
seeds=$work/seeds
corpus=$work/corpus
artifacts=$work/artifacts
rm -rf "$seeds" "$artifacts"
mkdir -p "$corpus" "$artifacts"
fuzz/make-seeds.sh build/fuzz "$seeds"

# Room for the largest real sample file (142,036 bytes), the 160 KiB generated seeds and growth.
set +e
build/fuzz/fuzz/export_fuzzer "$corpus" "$seeds" \
  -max_total_time="$seconds" -timeout=1 -rss_limit_mb=512 -malloc_limit_mb=512 \
  -max_len=196608 -print_final_stats=1 -artifact_prefix="$artifacts/" >"$work/fuzz.log" 2>&1
status=$?
set -e
grep -aE '^#[0-9]+ +(INITED|DONE)|^==[0-9]+==|^SUMMARY|^stat::|^export check|(crash|leak|timeout|oom|slow-unit)-' \
  "$work/fuzz.log" || true

found=0
for f in "$artifacts"/*; do
  [ -e "$f" ] || continue
  found=1
  cp "$f" fuzz/regressions/
  echo "fuzz: finding kept as fuzz/regressions/$(basename "$f")"
done
if [ "$status" -ne 0 ] || [ "$found" -ne 0 ]; then
  echo "fuzz: FAILED (exit $status); the full log is $work/fuzz.log" >&2
  exit 1
fi
echo "fuzz: no finding in $seconds s"
