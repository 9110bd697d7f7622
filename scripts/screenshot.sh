#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Renders the console's main window (and its About box) under a virtual X
# server to PNGs for the README: docs/marbrix.png, docs/marbrix-about.png.
#   scripts/screenshot.sh [path/to/marbrix]
set -euo pipefail
cd "$(dirname "$0")/.."
exe=${1:-}
if [[ -z $exe ]]; then
  for c in build/console/marbrix build-console/console/marbrix; do
    [[ -x $c ]] && { exe=$c; break; }
  done
fi
[[ -n $exe && -x $exe ]] || { echo "screenshot: build marbrix first (scripts/build.sh)" >&2; exit 1; }
mkdir -p docs
# The program draws itself into the file once shown, then ends; the time-out
# only guards against a server that never comes up.
timeout 60 xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" \
  "$exe" --screenshot docs/marbrix.png --screenshot-about docs/marbrix-about.png
echo "screenshot: docs/marbrix.png docs/marbrix-about.png"
