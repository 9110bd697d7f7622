#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Renders the console for the README under a virtual X server: the main
# window part-way through a real image download to the simulated box
# (docs/marbrix.png) and the About box (docs/marbrix-about.png).
#   scripts/screenshot.sh [BUILD_DIR | path/to/marbrix]
# SCREENSHOT_OUT=FILE.png renders only the main window, into FILE.png;
# SCREENSHOT_SIZE=WxH enlarges the window to W x H pixels first.
#   scripts/screenshot.sh --windows
# takes the Windows console's pictures under Wine instead
# (scripts/screenshot-windows.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/stbsim.sh
if [[ ${1:-} == --windows ]]; then
  shift
  exec scripts/screenshot-windows.sh "$@"
fi
arg=${1:-}
build=""
if [[ -n $arg && -d $arg ]]; then
  build=$arg
elif [[ -n $arg && -x $arg ]]; then
  build=$(cd "$(dirname "$arg")/.." && pwd)
else
  for c in build build-console; do
    [[ -x $c/console/marbrix ]] && { build=$c; break; }
  done
fi
exe=$build/console/marbrix
cli=$build/cli/marbrix-cli
sim=$build/sim/stbsim
for f in "$exe" "$cli" "$sim"; do
  [[ -n $build && -x $f ]] || { echo "screenshot: build marbrix, marbrix-cli and stbsim first (scripts/build.sh)" >&2; exit 1; }
done

work=$(mktemp -d /tmp/marbrix-shot.XXXXXX)
cleanup() {
  stbsim_stop
  rm -rf "$work"
}
trap cleanup EXIT

# An image with a long path, as release folders tend to have.
dir=$work/firmware/releases/2026-12/main-board
mkdir -p "$dir"
file=$dir/stb-main-board-v1.2-release.dat
head -c $((120 * 1024)) /dev/urandom >"$work/payload.bin"
"$cli" pack --version 1.2 --service-word 0A0B0C0D --mask-key 5A "$work/payload.bin" -o "$file" >/dev/null

# The box cancels the first transfer at block 3 and asks again: the log then
# shows a failure in red before the second transfer's progress.
stbsim_start "$work/sim.log" "$sim" --mode image --expect "$file" --pace 115200 --can-block 3 --retries 1 \
  --timeout 120 || { echo "screenshot: stbsim did not start" >&2; cat "$work/sim.log" >&2; exit 1; }
pty=$STBSIM_PTY

mkdir -p docs
out=${SCREENSHOT_OUT:-docs/marbrix.png}
about=()
[[ -z ${SCREENSHOT_OUT:-} ]] && about=(--screenshot-about docs/marbrix-about.png)
[[ -n ${SCREENSHOT_SIZE:-} ]] && about+=(--screenshot-size "$SCREENSHOT_SIZE")
# The program draws itself into the file part-way through the download, then
# ends; the time-out only guards against a server that never comes up.
timeout 90 xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" \
  "$exe" --port "$pty" --screenshot "$out" --screenshot-download "$file" --screenshot-at 40 "${about[@]}"
echo "screenshot: $out"
