#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages the build, the tests and the demo need,
# only those that are missing. Safe to run again. Arguments name further
# packages a script needs beyond these (e.g. clang for the fuzz build).
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev
  qt6-base-dev qt6-svg-dev libgl-dev
  libserialport-dev libcli11-dev
  lrzsz socat
  xvfb xauth fonts-arphic-uming
  "$@"
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}" >&2
  SUDO=""
  if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
