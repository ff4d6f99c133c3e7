# Sourced by the Windows scripts: the Wine environment, the packages, the private prefix.
# A private Wine prefix in the build tree, quiet, and (through qwine) the zh_CN locale, which
# gives Wine the system code page 936; the locale is set for Wine only, so the shell does not
# complain about it missing here.
QUILLON_BUILD="${QUILLON_BUILD:-$PWD/build/mingw}"
export WINEPREFIX="$QUILLON_BUILD/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

# Packages the Windows build and its tests need (WINDOWS_PACKAGES), installed when any is missing.
source "$(dirname "${BASH_SOURCE[0]}")/ensure-packages.sh"
quillon_install_packages() { ensure_packages "${WINDOWS_PACKAGES[@]}"; }

# Creates the prefix once, inside the current X display; a first program right after a fresh boot
# sometimes waits for minutes, so one small program runs and exits first.
quillon_prepare_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    LC_ALL=zh_CN.UTF-8 wineboot -i >"$QUILLON_BUILD/wineboot.log" 2>&1
    wineserver -w
  fi
  # Wine here loads its own TrueType fonts (fonts-wine; Marlett draws the title-bar buttons) only
  # from the prefix's Fonts folder.
  cp -u /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
  # Every program in one virtual desktop: there is no window manager under Xvfb, and without one
  # Wine cannot minimise a window.
  qwine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  qwine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f >/dev/null 2>&1
  qwine cmd /c exit >>"$QUILLON_BUILD/wineboot.log" 2>&1 || true
}

# Makes a missing prefix in an X session of its own, before the session that uses it: in the
# session that booted a new prefix, Wine 8 took two seconds over every window's destruction for
# as long as that session lasted (the next session was as quick as ever).
quillon_boot_prefix() {
  [ -f "$WINEPREFIX/system.reg" ] && return 0
  xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    eval "$QUILLON_FUNCTIONS"
    quillon_prepare_prefix
    wineserver -k || true
    wineserver -w'
}

qwine() { LC_ALL=zh_CN.UTF-8 wine "$@"; }
# xvfb-run is a POSIX shell script and drops exported functions: hand them over as text.
export QUILLON_BUILD QUILLON_FUNCTIONS="$(declare -f quillon_prepare_prefix qwine)"
