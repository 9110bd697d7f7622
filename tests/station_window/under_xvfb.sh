#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs a test program on a real X server (Xvfb, through xvfb-run) with Qt's
# xcb platform, where the offscreen platform's short cuts (no window
# manager protocol, no real expose or focus) are not taken. Exits 77, which
# ctest reports as skipped, on a machine without xvfb-run.
#   under_xvfb.sh PROGRAM [ARG]...
if ! command -v xvfb-run >/dev/null 2>&1; then
    echo "xvfb-run not found (the xvfb package): skipped"
    exit 77
fi
QT_QPA_PLATFORM=xcb exec xvfb-run -a -s "-screen 0 1280x800x24" "$@"
