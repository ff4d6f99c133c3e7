#!/usr/bin/env bash
# Makes the Windows release archive build/mingw/Quillon-<version>-windows-x64.zip: Quillon.exe
# (the desktop program), command/quillon.exe (the command; a folder of its own, as Windows file
# names ignore case), README.md and LICENSE. The version is the project's (CMakeLists.txt). Both
# programs are then started from the unpacked archive under Wine: `quillon.exe --version` must
# print that version, and Quillon.exe must show its dialog and end when it is closed.
# Installs what it needs on Debian 12.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-env.sh
quillon_install_packages

cmake --preset mingw -DQUILLON_WERROR=ON >/dev/null
cmake --build --preset mingw --target Quillon quillon quillon_start_check
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$QUILLON_BUILD/CMakeCache.txt")"
[ -n "$version" ] || { echo "no project version in $QUILLON_BUILD/CMakeCache.txt" >&2; exit 1; }
name="Quillon-$version-windows-x64"
archive="$QUILLON_BUILD/$name.zip"

work="$QUILLON_BUILD/release"
rm -rf "$work" "$archive"
mkdir -p "$work/$name/command"
cp "$QUILLON_BUILD/Quillon.exe" README.md LICENSE "$work/$name/"
cp "$QUILLON_BUILD/cli/quillon.exe" "$work/$name/command/"
(cd "$work" && zip -q -X -r "$archive" "$name")

# The check runs on what the archive holds, not on the build's files.
mkdir -p "$work/unpacked"
unzip -q "$archive" -d "$work/unpacked"
export QUILLON_UNPACKED="$work/unpacked/$name" QUILLON_RELEASE_VERSION="$version"
quillon_boot_prefix
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  set -euo pipefail
  eval "$QUILLON_FUNCTIONS"
  quillon_prepare_prefix
  said="$(qwine "$QUILLON_UNPACKED/command/quillon.exe" --version 2>&1 | tr -d "\r")"
  if [ "$said" != "quillon $QUILLON_RELEASE_VERSION" ]; then
    echo "command/quillon.exe --version said \"$said\", not \"quillon $QUILLON_RELEASE_VERSION\"" >&2
    exit 1
  fi
  echo "command/quillon.exe --version: $said"
  qwine "$QUILLON_BUILD/app/quillon_start_check.exe" "$(winepath -w "$QUILLON_UNPACKED/Quillon.exe")" \
    Quillon 2>&1 | tr -d "\r"
  wineserver -k || true
'
unzip -l "$archive"
echo "wrote $archive"
