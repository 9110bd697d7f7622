#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# CI's package step: builds the Debian package, checks it with lintian (no
# errors allowed), installs it on this machine with apt-get, tries what it
# installed (versions, --help, manual page, desktop entry, completion, icons)
# and removes it again.
#   scripts/check-package.sh [BUILD_DIR]      (default: build-deb)
# Runs as root or with sudo; it installs and removes the package "marbrix".
set -euo pipefail
cd "$(dirname "$0")/.."

SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

# The build's packages, then what the checks themselves use.
scripts/setup.sh
TOOLS=(dpkg-dev lintian desktop-file-utils man-db bash-completion)
scripts/need-packages.sh --for check-package "${TOOLS[@]}"

deb=$(scripts/package-deb.sh "$@" | tail -n 1)
echo "check-package: built $deb"

# Errors fail the step; warnings and notes are shown.
echo "check-package: lintian $deb"
lint=0
lintian --fail-on error "$deb" >dist/lintian.txt 2>&1 || lint=$?
grep -v 'running with root privileges' dist/lintian.txt || true
if ((lint)); then
  echo "check-package: lintian reports errors (exit $lint)" >&2
  exit 1
fi

if dpkg-query -W -f='${Status}' marbrix 2>/dev/null | grep -q "install ok installed"; then
  echo "check-package: marbrix was installed already; removing it first" >&2
  $SUDO apt-get remove -y -q marbrix
fi
cleanup() { $SUDO apt-get purge -y -q marbrix >/dev/null 2>&1 || true; }
trap cleanup EXIT
$SUDO apt-get install -y -qq --no-install-recommends "$PWD/$deb"

fail=0
check() {  # check WHAT COMMAND...: runs COMMAND, says which check failed
  local what=$1
  shift
  if "$@"; then echo "check-package: ok: $what"; else echo "check-package: FAILED: $what" >&2; fail=1; fi
}

# One version: the project's, printed the same by both programs.
want=$(sed -n 's/^project(marbrix VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
check "marbrix-cli --version says $want" test "$(marbrix-cli --version)" = "marbrix-cli $want"
check "marbrix --version says $want" test "$(marbrix --version)" = "marbrix $want"
check "marbrix-station --version says $want" test "$(marbrix-station --version)" = "marbrix-station $want"
check "marbrix-cli --help" sh -c 'marbrix-cli --help | grep -q "^Exit codes:"'
for page in marbrix-cli marbrix marbrix-station stbsim; do
  # A machine whose dpkg leaves out /usr/share/man (path-exclude) fails here.
  check "man -w $page" sh -c "man -w $page | grep -q '^/usr/share/man/man1/$page\.1'"
done
check "desktop-file-validate" desktop-file-validate /usr/share/applications/marbrix.desktop \
  /usr/share/applications/marbrix-station.desktop
for size in 16x16 32x32 48x48 128x128; do
  check "icon $size" test -s /usr/share/icons/hicolor/$size/apps/marbrix.png
done
check "icon scalable" test -s /usr/share/icons/hicolor/scalable/apps/marbrix.svg
# The completion as bash would call it on "marbrix-cli -b 1152<TAB>".
check "bash completion offers rates" bash -c '
  source /usr/share/bash-completion/bash_completion
  source /usr/share/bash-completion/completions/marbrix-cli
  COMP_WORDS=(marbrix-cli -b 1152) COMP_CWORD=2 COMP_LINE="marbrix-cli -b 1152" COMP_POINT=19
  _marbrix_cli marbrix-cli 1152 -b
  [[ "${COMPREPLY[*]}" == 115200 ]]'

$SUDO apt-get purge -y -qq marbrix
check "removed again" sh -c '! command -v marbrix-cli >/dev/null && ! test -e /usr/share/applications/marbrix.desktop'
trap - EXIT
if ((fail)); then
  echo "check-package: some checks failed" >&2
  exit 1
fi
echo "check-package: $deb built, lint-clean, installed, tried and removed"
