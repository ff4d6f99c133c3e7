#!/usr/bin/env bash
# Renders the main dialog under Xvfb inside Wine's virtual desktop (so the caption and frame are
# drawn): as it starts, to docs/dialog.png, and in the middle of an export, to
# docs/dialog-export.png, each cropped to the dialog. Builds what it needs first.
# Usage: scripts/screenshot-dialog.sh [START.png [EXPORT.png]]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-env.sh
quillon_install_packages

if [ ! -f build/mingw/Quillon.exe ] || [ ! -f build/mingw/app/quillon_screenshot_stage.exe ]; then
  cmake --preset mingw -DQUILLON_WERROR=ON
  cmake --build --preset mingw --target Quillon quillon_screenshot_stage
fi

absolute() { case "$1" in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac; }
start="${1:-docs/dialog.png}"
export="${2:-docs/dialog-export.png}"
mkdir -p "$(dirname "$start")" "$(dirname "$export")"
export QUILLON_SHOT="$(absolute "$start")" QUILLON_EXPORT_SHOT="$(absolute "$export")"
quillon_boot_prefix
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  set -euo pipefail
  eval "$QUILLON_FUNCTIONS"
  quillon_prepare_prefix
  # The desktop around the dialog is of one colour (its far corner): framed in that colour and
  # trimmed, the picture holds the dialog alone.
  crop_to_dialog() {
    local desktop
    desktop="$(convert "$1" -format "%[pixel:p{759,439}]" info:)"
    convert "$1" -bordercolor "$desktop" -border 1 -trim +repage "$1"
  }
  # A mail store to propose, so the picture shows the filled-in folders.
  qwine reg add "HKCU\\Software\\Microsoft\\Outlook Express" /v "Store Root" /t REG_EXPAND_SZ \
    /d "%UserProfile%\\Local Settings\\Application Data\\Identities\\Store\\" /f >/dev/null 2>&1
  qwine explorer /desktop=Quillon,760x440 "$QUILLON_BUILD/Quillon.exe" >"$QUILLON_BUILD/screenshot.log" 2>&1 &
  app=$!
  # The program shows up in the desktop after two to four seconds.
  sleep 8
  import -window root -crop 760x440+0+0 +repage "$QUILLON_SHOT"
  crop_to_dialog "$QUILLON_SHOT"
  qwine reg delete "HKCU\\Software\\Microsoft\\Outlook Express" /f >/dev/null 2>&1 || true
  kill "$app" 2>/dev/null || true
  wineserver -k || true

  # The stage program makes a mailbox folder, starts Quillon.exe in the same desktop, types the
  # folders, presses find and export, and creates the ready file once the bar moves and the
  # status line names a message file.
  ready="$QUILLON_BUILD/screenshot-ready"
  rm -f "$ready"
  qwine explorer /desktop=Quillon,760x440 "$QUILLON_BUILD/app/quillon_screenshot_stage.exe" \
    "Z:${ready//\//\\}" >>"$QUILLON_BUILD/screenshot.log" 2>&1 &
  stage=$!
  for _ in $(seq 600); do [ -f "$ready" ] && break; sleep 0.1; done
  [ -f "$ready" ] || { echo "the export did not start; see $QUILLON_BUILD/screenshot.log" >&2; exit 1; }
  import -window root -crop 760x440+0+0 +repage "$QUILLON_EXPORT_SHOT"
  crop_to_dialog "$QUILLON_EXPORT_SHOT"
  kill "$stage" 2>/dev/null || true
  wineserver -k || true
'
echo "wrote $start and $export"
