#!/usr/bin/env bash
# Builds the Windows program and its tests with MinGW-w64 and runs the tests under Wine, the
# dialog tests on an Xvfb display. Installs what it needs on Debian 12. Fails on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
# A private Wine prefix in the build tree, quiet, and (through qwine) the zh_CN locale, which
# gives Wine the system code page 936; the locale is set for Wine only, so the shell does not
# complain about it missing here.
QUILLON_BUILD="${QUILLON_BUILD:-$PWD/build/mingw}"
export WINEPREFIX="$QUILLON_BUILD/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

# Packages the Windows build and its tests need, installed when any is missing.
quillon_install_packages() {
  local missing=()
  command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(mingw-w64)
  command -v wine >/dev/null || missing+=(wine wine64)
  command -v xvfb-run >/dev/null || missing+=(xvfb xauth)
  command -v import >/dev/null || missing+=(imagemagick)
  command -v cmake >/dev/null || missing+=(cmake)
  command -v ninja >/dev/null || missing+=(ninja-build)
  [ -d /usr/src/googletest ] || missing+=(libgtest-dev)
  [ -d /usr/share/fonts/truetype/wqy ] || missing+=(fonts-wqy-microhei)
  if [ ${#missing[@]} -gt 0 ]; then
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
  fi
}

# Creates the prefix once, inside the current X display; a first program right after a fresh boot
# sometimes waits for minutes, so one small program runs and exits first.
quillon_prepare_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    LC_ALL=zh_CN.UTF-8 wineboot -i >"$QUILLON_BUILD/wineboot.log" 2>&1
    wineserver -w
  fi
  # Every program in one virtual desktop: there is no window manager under Xvfb, and without one
  # Wine cannot minimise a window.
  qwine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  qwine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f >/dev/null 2>&1
  qwine cmd /c exit >>"$QUILLON_BUILD/wineboot.log" 2>&1 || true
}

qwine() { LC_ALL=zh_CN.UTF-8 wine "$@"; }
# xvfb-run is a POSIX shell script and drops exported functions: hand them over as text.
export QUILLON_BUILD QUILLON_FUNCTIONS="$(declare -f quillon_prepare_prefix qwine)"
quillon_install_packages

cmake --preset mingw -DQUILLON_WERROR=ON
# Only the Windows targets: the other test programs of the tree register themselves by running
# under Wine at build time, which this script does on its own prefix below instead.
cmake --build --preset mingw --target Quillon windows_tests layout_tests discovery_tests

tests=(app/layout/layout_tests.exe discovery/discovery_tests.exe app/windows_tests.exe)
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
    if ! LC_ALL=zh_CN.UTF-8 timeout 600 wine "$QUILLON_BUILD/$t" >"$log" 2>&1; then status=1; fi
    cat "$log"
  done
  wineserver -k || true
  exit $status
' bash "${tests[@]}"
echo "Windows tests passed"
