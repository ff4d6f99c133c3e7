# Sourced by the project's scripts: installs the Debian packages they need when missing.
# Usage: ensure_packages pkg...
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

# The packages every native build needs (scdoc builds the manual page; mandoc and
# bash-completion are for its tests and the completion's).
NATIVE_BUILD_PACKAGES=(cmake ninja-build g++ libgtest-dev scdoc mandoc bash-completion)

# Making the Debian package: dpkg-shlibdeps (dpkg-dev), which needs file, finds its dependencies.
DEB_PACKAGE_PACKAGES=(dpkg-dev file)
