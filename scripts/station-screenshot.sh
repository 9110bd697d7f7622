#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Renders the station window for the README (docs/marbrix-station.png): eight
# lanes against eight stbsim boxes on ptys of their own, pictured part-way:
# three boxes that took the image at a pty's speed (PASS), one that cancels
# the transfer (FAIL), four on lines paced at 115200 bit/s (SENDING).
#   scripts/station-screenshot.sh [BUILD_DIR]
# SCREENSHOT_OUT=FILE.png writes elsewhere; SCREENSHOT_SIZE=WxH (1000x620).
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
build=$(realpath "${1:-build}")
picture=$build/station_app/marbrix-station-picture
cli=$build/cli/marbrix-cli
sim=$build/sim/stbsim
for f in "$picture" "$cli" "$sim"; do
  [[ -x $f ]] || { echo "station-screenshot: build marbrix-station-picture, marbrix-cli and stbsim first" >&2; exit 1; }
done
out=$(realpath -m "${SCREENSHOT_OUT:-$src/docs/marbrix-station.png}")
size=${SCREENSHOT_SIZE:-1000x620}

work=$(mktemp -d /tmp/marbrix-station-shot.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"

head -c $((120 * 1024)) /dev/urandom >payload.bin
"$cli" pack --version 1.2 --service-word 0A0B0C0D --mask-key 5A payload.bin -o stb-main-board-v1.2.dat >/dev/null

# The ports as an operator's adapters: short names, each with its identity
# in the listing the station reads.
: >listing
args=()
for i in 0 1 2 3 4 5 6 7; do
  port=ttyUSB$i
  extra=()
  case $i in
    3) extra=(--can-block 40) ;;
    4 | 5 | 6 | 7) extra=(--pace 115200) ;;
  esac
  "$sim" --mode image --expect stb-main-board-v1.2.dat --timeout 60 --link "$port" "${extra[@]}" >"sim$i.log" 2>&1 &
  pids+=($!)
  printf '%s\tusb:0403:6001:A10K3B%02d\n' "$port" "$i" >>listing
  args+=(-p "$port")
done
for i in 0 1 2 3 4 5 6 7; do
  for _ in $(seq 1 100); do [[ -e ttyUSB$i ]] && break; sleep 0.1; done
done

# Xvfb when there is one (the fonts as on a desktop), else offscreen.
run=(env QT_QPA_PLATFORM=offscreen)
if command -v xvfb-run >/dev/null; then run=(xvfb-run -a -s "-screen 0 1280x800x24"); fi
MARBRIX_PORT_LISTING=$work/listing "${run[@]}" "$picture" "$out" 4000 "$size" "${args[@]}" \
  --results "$work/results.jsonl" --once --start stb-main-board-v1.2.dat
echo "station-screenshot: $out"
