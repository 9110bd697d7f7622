#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages the build, the tests, the format check and
# the demo need, only those that are missing. Safe to run again. Arguments
# name further packages a script needs beyond these (e.g. clang for the
# fuzz build).
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev
  qt6-base-dev qt6-svg-dev libgl-dev
  libserialport-dev libcli11-dev nlohmann-json3-dev libssl-dev
  lrzsz socat
  clang-format
  python3
  xvfb xauth fonts-arphic-uming
  wixl msitools
  "$@"
)

"$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/need-packages.sh" --for setup "${PACKAGES[@]}"
