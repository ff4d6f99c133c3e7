#!/usr/bin/env bash
# The benchmark of docs/bench.md: builds the native preset, installs undbx (the peer it is compared
# with) and runs bench/run.py, five runs a tool, on folders of 64 MiB to 2 GiB.
# Usage: scripts/bench.sh [bench/run.py options]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-packages.sh
ensure_packages "${NATIVE_BUILD_PACKAGES[@]}" "${BENCH_PACKAGES[@]}"
cmake --preset native >/dev/null
cmake --build build/native -j"$(nproc)" --target quillon quillon-mkdbx quillon-bench-floor \
  quillon-bench-literal
exec python3 bench/run.py --build build/native --runs 5 "$@"
