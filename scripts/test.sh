#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The test command: set up a fresh machine, build, run every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
ctest --preset default "$@"
