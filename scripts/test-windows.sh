#!/usr/bin/env bash
# Builds the Windows program and its tests with MinGW-w64 and runs the tests under Wine, the
# dialog tests on an Xvfb display. Installs what it needs on Debian 12. Fails on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-env.sh
quillon_install_packages

cmake --preset mingw -DQUILLON_WERROR=ON
# Only the Windows targets, and the command the export tests compare with: the other test
# programs of the tree register themselves by running under Wine at build time, which this
# script does on its own prefix below instead.
cmake --build --preset mingw --target Quillon quillon app_tests layout_tests discovery_tests \
  text_tests fs_tests catalogue_tests hash_tests engine_tests rescue_tests output_tests cli_tests

tests=(app/layout/layout_tests.exe text/text_tests.exe fs/fs_tests.exe discovery/discovery_tests.exe
  catalogue/catalogue_tests.exe
  hash/hash_tests.exe engine/engine_tests.exe rescue/rescue_tests.exe output/output_tests.exe
  cli/cli_tests.exe
  app/app_tests.exe)
quillon_boot_prefix
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  set -euo pipefail
  eval "$QUILLON_FUNCTIONS"
  quillon_prepare_prefix
  status=0
  for t in "$@"; do
    echo "== $t"
    # Output to a log beside the prefix, then shown: a program whose output went nowhere
    # sometimes never showed its dialog.
    log="$QUILLON_BUILD/$(basename "$t" .exe).log"
    # The desktop program runs in code page 936. The engine, store finder and command tests
    # make files with names of any script, which Wine can pass on to Linux only in a UTF-8
    # locale that is installed (zh_CN is not generated here): they run in C.UTF-8. No
    # apostrophes in here: this is one single-quoted argument.
    locale=zh_CN.UTF-8
    case "$t" in fs/* | engine/* | output/* | cli/* | discovery/*) locale=C.UTF-8 ;; esac
    if ! LC_ALL=$locale timeout 600 wine "$QUILLON_BUILD/$t" >"$log" 2>&1; then status=1; fi
    cat "$log"
  done
  wineserver -k || true
  exit $status
' bash "${tests[@]}"
echo "Windows tests passed"
