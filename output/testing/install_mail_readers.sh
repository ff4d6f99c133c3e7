#!/usr/bin/env bash
# Set-up of the read-back tests: installs the mail programs they read with (through the
# project's list of packages) and, as root, the user doveadm runs as, since it refuses root.
# Never fails for want of rights: each test then says what it skipped.
set -uo pipefail
source "$(dirname "$0")/../../scripts/ensure-packages.sh"
if [ "$(id -u)" -eq 0 ] || sudo -n true 2>/dev/null; then
  ensure_packages "${MAIL_READER_PACKAGES[@]}" "${THUNDERBIRD_PACKAGES[@]}" || exit 1
else
  echo "not root and no password-less sudo: the read-back tests use what is installed"
fi
if [ "$(id -u)" -eq 0 ] && ! id quillon-test >/dev/null 2>&1; then
  useradd --system --no-create-home --shell /usr/sbin/nologin quillon-test || exit 1
fi
exit 0
