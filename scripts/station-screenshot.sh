#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Renders the station window for the README (docs/marbrix-station.png): eight
# lanes against eight stbsim boxes on ptys of their own, pictured part-way
# (the scene in scripts/lib/station-scene.sh, shared with the Windows
# picture's script).
#   scripts/station-screenshot.sh [BUILD_DIR]
# SCREENSHOT_OUT=FILE.png writes elsewhere; SCREENSHOT_SIZE=WxH (1000x620).
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
. scripts/lib/station-scene.sh
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

station_scene_image "$cli" "$work"

# The ports as an operator's adapters: short names, each with its identity
# in the listing the station reads.
: >listing
args=()
for ((i = 0; i < STATION_SCENE_LANES; i++)); do
  port=ttyUSB$i
  mapfile -t extra < <(station_scene_box_args "$i")
  "$sim" --mode image --expect "$STATION_SCENE_IMAGE" --timeout 60 --link "$port" "${extra[@]}" >"sim$i.log" 2>&1 &
  pids+=($!)
  printf '%s\t%s\n' "$port" "$(station_scene_adapter "$i")" >>listing
  args+=(-p "$port")
done
for ((i = 0; i < STATION_SCENE_LANES; i++)); do
  for _ in $(seq 1 100); do [[ -e ttyUSB$i ]] && break; sleep 0.1; done
done

# Xvfb when there is one (the fonts as on a desktop), else offscreen.
run=(env QT_QPA_PLATFORM=offscreen)
if command -v xvfb-run >/dev/null; then run=(xvfb-run -a -s "-screen 0 1280x800x24"); fi
MARBRIX_PORT_LISTING=$work/listing "${run[@]}" "$picture" "$out" 4000 "$size" "${args[@]}" \
  --results "$work/results.jsonl" --once --start "$(basename "$STATION_SCENE_IMAGE")"
echo "station-screenshot: $out"
