#!/usr/bin/env bash
# Builds the quillon command and exports the bundled sample mailbox folder into out/sample.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-packages.sh
ensure_packages "${NATIVE_BUILD_PACKAGES[@]}"

cmake --preset native >/dev/null
cmake --build build/native --target quillon

rm -rf out/sample
build/native/quillon export -o out/sample samples/mail
echo
echo "Written to out/sample:"
ls -l out/sample
first=$(ls out/sample/*.eml | head -n 1)
echo
echo "The first lines of $first:"
head -n 12 "$first"
