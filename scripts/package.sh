#!/usr/bin/env bash
# Builds the Debian package of the command and prints its path:
# build/native/quillon_<version>_<arch>.deb. Install it with `sudo apt-get install ./<path>`.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-packages.sh
ensure_packages "${NATIVE_BUILD_PACKAGES[@]}" "${DEB_PACKAGE_PACKAGES[@]}"

cmake --preset native >/dev/null
# What the package holds; cpack itself builds nothing.
cmake --build build/native --target quillon manpage
rm -f build/native/quillon_*.deb
(cd build/native && cpack -G DEB >cpack.log 2>&1) || {
  cat build/native/cpack.log
  exit 1
}
ls build/native/quillon_*.deb
