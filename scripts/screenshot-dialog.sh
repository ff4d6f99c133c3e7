#!/usr/bin/env bash
# Renders the main dialog under Xvfb inside Wine's virtual desktop (so the caption and frame are
# drawn) and writes docs/dialog.png. Builds Quillon.exe first when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-env.sh
quillon_install_packages

if [ ! -f build/mingw/Quillon.exe ]; then
  cmake --preset mingw -DQUILLON_WERROR=ON
  cmake --build --preset mingw --target Quillon
fi

out="${1:-docs/dialog.png}"
mkdir -p "$(dirname "$out")"
case "$out" in /*) export QUILLON_SHOT="$out" ;; *) export QUILLON_SHOT="$PWD/$out" ;; esac
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  set -euo pipefail
  eval "$QUILLON_FUNCTIONS"
  quillon_prepare_prefix
  # A mail store to propose, so the picture shows the filled-in folders.
  qwine reg add "HKCU\\Software\\Microsoft\\Outlook Express" /v "Store Root" /t REG_EXPAND_SZ \
    /d "%UserProfile%\\Local Settings\\Application Data\\Identities\\Store\\" /f >/dev/null 2>&1
  qwine explorer /desktop=Quillon,760x440 "$QUILLON_BUILD/Quillon.exe" >"$QUILLON_BUILD/screenshot.log" 2>&1 &
  app=$!
  # The program shows up in the desktop after two to four seconds.
  sleep 8
  import -window root -crop 760x440+0+0 +repage "$QUILLON_SHOT"
  qwine reg delete "HKCU\\Software\\Microsoft\\Outlook Express" /f >/dev/null 2>&1 || true
  kill "$app" 2>/dev/null || true
  wineserver -k || true
'
echo "wrote $out"
