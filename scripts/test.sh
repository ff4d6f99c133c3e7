#!/usr/bin/env bash
# Runs every test: the native build (warnings are errors), its Debian package installed and removed
# again, the sanitizer build, the fuzzer for a bounded time, and the Windows program's tests under
# Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-packages.sh
ensure_packages "${NATIVE_BUILD_PACKAGES[@]}" "${FORMAT_PACKAGES[@]}"

echo "== source formatting (.clang-format)"
git ls-files '*.cc' '*.h' | xargs clang-format --dry-run -Werror

echo "== native build and tests"
cmake --preset native -DQUILLON_WERROR=ON >/dev/null
cmake --build build/native -j"$(nproc)"
ctest --test-dir build/native --output-on-failure -j"$(nproc)"

echo "== the Debian package: build, install, run, remove"
scripts/test-package.sh

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
cmake --preset asan -DQUILLON_WERROR=ON >/dev/null
cmake --build build/asan -j"$(nproc)"
ctest --test-dir build/asan --output-on-failure -j"$(nproc)"

if [ -x scripts/fuzz.sh ]; then
  echo "== fuzzing the engine"
  scripts/fuzz.sh 80
fi

if [ -x scripts/test-windows.sh ]; then
  echo "== Windows program under Wine"
  scripts/test-windows.sh
fi
echo "All tests passed."
