# Sourced by the project's scripts: the Debian packages each kind of work needs, in one place,
# and the function that installs the missing ones.
# Usage: ensure_packages "${NATIVE_BUILD_PACKAGES[@]}" ...

# Every native build: compiler, build tools, GoogleTest, and libcrypto for the hashes.
# scdoc builds the manual page; mandoc and bash-completion are for its tests and the completion's.
# libhivex reads a copied registry hive for an identity's name, and writes the tests' tiny hive
# (found through pkg-config). nlohmann-json3-dev (header-only) reads and writes the export's
# manifest. GMime 3 and libytnef take a message apart into its bodies and attachments.
# libgumbo-dev is the HTML5 parser under the cleaner of mail HTML (pkg-config too).
NATIVE_BUILD_PACKAGES=(cmake ninja-build g++ libgtest-dev libssl-dev scdoc mandoc bash-completion
  pkgconf libhivex-dev nlohmann-json3-dev libgmime-3.0-dev libytnef0-dev libgumbo-dev)
# The mail programs that the output tests read the written mbox and Maildir folders back with:
# Dovecot's doveadm, mutt (run in a terminal that tmux provides) and Python's mailbox module.
MAIL_READER_PACKAGES=(dovecot-core mutt tmux python3)
# Thunderbird, which its read-back test starts headless; the largest download of the mail
# readers (about 150 MB with its libraries on a fresh Debian 12).
THUNDERBIRD_PACKAGES=(thunderbird)
# Making the Debian package: dpkg-shlibdeps (dpkg-dev), which needs file, finds its dependencies.
DEB_PACKAGE_PACKAGES=(dpkg-dev file)
# The test command's source format check.
FORMAT_PACKAGES=(clang-format)
# The fuzzer: clang with libFuzzer and the sanitizer runtimes; libhivex, nlohmann-json, GMime,
# libytnef and gumbo, as the whole tree builds.
FUZZ_PACKAGES=(cmake ninja-build clang libclang-rt-14-dev pkgconf libhivex-dev nlohmann-json3-dev
  libgmime-3.0-dev libytnef0-dev libgumbo-dev)
# The benchmark: the peer tool it compares with, GNU time for peak memory, and its script.
BENCH_PACKAGES=(undbx time python3)
# The Windows build and its tests under Wine: the cross compiler, GoogleTest's sources (built
# with it), Wine, a virtual X display, the screenshots' capture tool and a font with the
# dialog's Chinese characters, Wine's own fonts (Marlett draws the title-bar buttons; only
# recommended by wine, so named here), zip for the release archive, and the JSON header the
# manifest's code includes.
WINDOWS_PACKAGES=(cmake ninja-build mingw-w64 libgtest-dev wine wine64 xvfb xauth imagemagick
  fonts-wqy-microhei fonts-wine zip unzip nlohmann-json3-dev)

ensure_packages() {
  local missing=()
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
