#!/usr/bin/env bash
# Makes the Debian package (scripts/package.sh), installs it with apt as a user would, checks what
# landed and that the installed command exports the sample folder as the build's does, and
# removes it again, leaving the machine as it was. Run by scripts/test.sh after the native build.
set -euo pipefail
cd "$(dirname "$0")/.."
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive

if dpkg-query -W -f='${Status}' quillon 2>/dev/null | grep -q 'ok installed'; then
  echo "A quillon package is installed on this machine; remove it first (apt-get remove quillon)."
  exit 1
fi

arch=$(dpkg --print-architecture)
scripts/package.sh
debs=(build/native/quillon_*.deb)
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
echo "Built $deb:"
dpkg-deb -f "$deb" Package Version Architecture Depends | sed 's/^/  /'

failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}
# One version, set by project() in CMakeLists.txt, names the package and the file.
project_version=$(sed -n 's/^project(Quillon VERSION \([^ ]*\) .*/\1/p' CMakeLists.txt)
[ "$version" = "$project_version" ] ||
  fail "the package's version $version is not project()'s '$project_version'"
[ "${debs[*]}" = "build/native/quillon_${version}_$arch.deb" ] ||
  fail "expected build/native/quillon_${version}_$arch.deb alone, found: ${debs[*]}"

# apt reads a local package as its own unprivileged user: give it a folder it may enter.
work=$(mktemp -d)
chmod 755 "$work"
installed=0
cleanup() {
  if [ "$installed" -eq 1 ]; then
    $sudo apt-get purge -y -qq -o DPkg::Lock::Timeout=120 quillon >/dev/null || true
    echo "Removed the package again."
  fi
  rm -rf "$work"
}
trap cleanup EXIT
cp "$deb" "$work/"
installed=1
$sudo apt-get install -y -qq -o DPkg::Lock::Timeout=120 "$work/$(basename "$deb")" >/dev/null

# Exactly these files, and so nothing of the generator, the benchmarks or the tests.
expected="/usr/bin/quillon
/usr/share/bash-completion/completions/quillon
/usr/share/doc/quillon/LICENSE
/usr/share/doc/quillon/README.md
/usr/share/man/man1/quillon.1.gz"
files=$(dpkg -L quillon | while read -r f; do [ -f "$f" ] && echo "$f"; done | LC_ALL=C sort)
[ "$files" = "$expected" ] || fail "the package holds:"$'\n'"$files"

[ "$(command -v quillon)" = /usr/bin/quillon ] || fail "quillon is not /usr/bin/quillon"
got=$(quillon --version)
[ "$got" = "quillon $version" ] || fail "quillon --version says '$got', the package is $version"

# Every library the installed program loads comes from a package it depends on.
depends=$(dpkg-deb -f "$deb" Depends)
for lib in $(ldd /usr/bin/quillon | awk '$2 == "=>" { print $3 } $1 ~ /^\// { print $1 }'); do
  real=$(readlink -f "$lib")
  owner=$(dpkg -S "$real" "${real#/usr}" 2>/dev/null | head -n 1 | cut -d: -f1) || true
  [ -n "$owner" ] || fail "no package owns $lib"
  [[ ", $depends" == *", $owner "* || ", $depends," == *", $owner,"* ]] ||
    fail "$lib comes from $owner, which Depends ($depends) does not name"
done

# The installed command exports the sample folder exactly as the build's does.
quillon export -o "$work/installed" samples/mail >"$work/installed.txt"
build/native/quillon export -o "$work/built" samples/mail >"$work/built.txt"
cmp -s "$work/installed.txt" "$work/built.txt" || fail "the installed command reports otherwise"
diff -r "$work/installed" "$work/built" >/dev/null || fail "the installed command writes otherwise"
count=$(find "$work/installed" -name '*.eml' | wc -l)
[ "$count" -gt 0 ] || fail "the sample export wrote no message"
echo "The installed quillon exported $count messages of samples/mail:"
sed 's/^/  /' "$work/installed.txt"

cmp -s <(gzip -dc /usr/share/man/man1/quillon.1.gz) build/native/packaging/quillon.1 ||
  fail "the installed manual page is not the built one"
loaded=$(bash -c 'source /usr/share/bash-completion/bash_completion &&
  __load_completion quillon && complete -p quillon' 2>&1) || true
[ "$loaded" = "complete -F _quillon quillon" ] ||
  fail "bash-completion does not load the installed completion: $loaded"

[ "$failed" -eq 0 ] || exit 1
echo "The package installs, runs and removes cleanly."
