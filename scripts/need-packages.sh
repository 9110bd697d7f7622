#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages named as arguments, only those that are
# missing. Every script that needs packages asks through here.
#   scripts/need-packages.sh [--for NAME] PACKAGE...
set -euo pipefail
who=setup
if [[ ${1:-} == --for ]]; then
  who=$2
  shift 2
fi
missing=()
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "$who: installing ${missing[*]}" >&2
  SUDO=""
  if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
