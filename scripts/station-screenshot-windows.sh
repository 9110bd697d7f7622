#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The station window as Wine draws marbrix-station.exe, for the README
# (docs/marbrix-station-windows.png): eight lanes on COM7..COM14 against eight
# stbsim boxes, pictured part-way, the same scene as the Linux picture
# (scripts/lib/station-scene.sh).
#   scripts/station-screenshot-windows.sh
# Environment: WIN_BUILD (default build-windows: marbrix-station.exe and
# marbrix-cli.exe, built here), HOST_BUILD (default build: stbsim and
# marbrix-cli, which packs the image, built here), SCREENSHOT_OUT=FILE.png
# writes elsewhere.
#
# The program knows nothing of pictures: it runs as an operator would start
# it (--start --once), at the size it opens with, on a Wine desktop of
# 1280x800 painted in a colour no window has; the picture is what is not
# that colour.
# The moment comes from its results file, where every box has its line within
# a second of its end: once the fast boxes and the failing one have theirs
# and the paced ones are still receiving, the tiles show the mix.
#
# Serial safety: Wine maps an unconfigured COM1..COM4 to /dev/ttyS0..3 (here
# the kernel's console); they are never named. COM7..COM14 are mapped through
# the registry of a throwaway prefix to symlinks that each stbsim points at
# its own pty, and every mapping is checked before the program starts.
set -euo pipefail
cd "$(dirname "$0")/.."
SRC=$PWD

. scripts/lib/windows-build.sh
. scripts/lib/station-scene.sh
. scripts/lib/wine-prefix.sh
scripts/need-packages.sh --for station-screenshot-windows "${WINDOWS_BUILD_PACKAGES[@]}" wine wine64 xvfb \
  xdotool imagemagick fonts-wine jq

out=$(realpath -m "${SCREENSHOT_OUT:-$SRC/docs/marbrix-station-windows.png}")

windows_build_configure "$SRC"
nice -n 19 cmake --build "$WIN_BUILD" -j2 --target marbrix-station marbrix-cli
HOST_BUILD=$(realpath -m "${HOST_BUILD:-$SRC/build}")
if [[ ! -f $HOST_BUILD/CMakeCache.txt ]]; then
  cmake -S "$SRC" -B "$HOST_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
nice -n 19 cmake --build "$HOST_BUILD" -j2 --target stbsim marbrix-cli
exe=$WIN_BUILD/cli/marbrix-station.exe
cli=$HOST_BUILD/cli/marbrix-cli
sim=$HOST_BUILD/sim/stbsim

work=$WIN_BUILD/wine-station-shot
wine_prefix_fresh "$work"
coms=()
for ((i = 0; i < STATION_SCENE_LANES; i++)); do
  coms+=("COM$((7 + i))")
  ln -s /dev/null "$work/ttyCOM$((7 + i))"
done

xvfb_pid="" app_pid="" sim_pids=()
cleanup() {
  if [[ -n $app_pid ]]; then kill "$app_pid" 2>/dev/null || true; fi
  for p in "${sim_pids[@]}"; do kill "$p" 2>/dev/null || true; done
  # The station and its marbrix-cli.exe children are Wine processes: they
  # end with the server.
  wine_stop
  if [[ -n $app_pid ]]; then wait "$app_pid" 2>/dev/null || true; fi
  if [[ -n $xvfb_pid ]]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1280x800x24 -dpi 96 -nolisten tcp 3>"$work/xvfb.display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 100); do
  [[ -s $work/xvfb.display ]] && break
  kill -0 "$xvfb_pid" 2>/dev/null || break
  sleep 0.1
done
[[ -s $work/xvfb.display ]] || { echo "station-screenshot-windows: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
DISPLAY=":$(head -n 1 "$work/xvfb.display")"
export DISPLAY

# The prefix: the COM ports, and a desktop of a colour no window has, so
# that the window can be told from it.
wineboot -i </dev/null >/dev/null 2>&1
for com in "${coms[@]}"; do
  wine reg add 'HKLM\Software\Wine\Ports' /v "$com" /d "$work/tty$com" /f </dev/null >/dev/null 2>&1
done
wine reg add 'HKCU\Control Panel\Colors' /v Background /d '255 0 255' /f </dev/null >/dev/null 2>&1
# The caption buttons are glyphs of Wine's Marlett face, which this Wine
# does not find among its own data files: without it the close box reads "r".
cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
wineserver -k
wineserver -w
wineserver -p 2>"$work/wineserver.log"
wine cmd /c exit </dev/null >/dev/null 2>&1
for com in "${coms[@]}"; do
  if [[ $(readlink "$WINEPREFIX/dosdevices/${com,,}") != "$work/tty$com" ]]; then
    echo "station-screenshot-windows: $com is not mapped to $work/tty$com; no picture taken" >&2
    exit 1
  fi
done

# The image on drive D:, so that the window shows a Windows path and not
# the build tree's; the adapters' identities in a listing the program reads.
mkdir -p "$work/d/releases/2026-12"
ln -s "$work/d" "$WINEPREFIX/dosdevices/d:"
station_scene_image "$cli" "$work/d/releases/2026-12"
rel=${STATION_SCENE_IMAGE#"$work/d/"}
dos_image="D:\\${rel//\//\\}"
: >"$work/listing.txt"
for ((i = 0; i < STATION_SCENE_LANES; i++)); do
  printf '%s\t%s\r\n' "${coms[i]}" "$(station_scene_adapter "$i")" >>"$work/listing.txt"
done

for ((i = 0; i < STATION_SCENE_LANES; i++)); do
  link=$work/tty${coms[i]}
  rm -f "$link"
  mapfile -t extra < <(station_scene_box_args "$i")
  "$sim" --mode image --expect "$STATION_SCENE_IMAGE" --timeout 90 --link "$link" "${extra[@]}" \
    >"$work/sim$i.log" 2>&1 &
  sim_pids+=($!)
done
for ((i = 0; i < STATION_SCENE_LANES; i++)); do
  link=$work/tty${coms[i]}
  for _ in $(seq 1 100); do
    [[ $(readlink "$link" 2>/dev/null) == /dev/pts/* ]] && break
    sleep 0.1
  done
  [[ $(readlink "$link" 2>/dev/null) == /dev/pts/* ]] ||
    { echo "station-screenshot-windows: stbsim on ${coms[i]} did not start" >&2; cat "$work/sim$i.log" >&2; exit 1; }
done

# A virtual desktop draws the caption and the frame (without a window
# manager Wine draws none); it fills the screen.
# The results go where an operator's go when nothing else is asked for.
local_app_data=$(wine cmd /c echo %LOCALAPPDATA% </dev/null 2>/dev/null | tr -d '\r')
[[ $local_app_data == ?:\\* ]] || { echo "station-screenshot-windows: no %LOCALAPPDATA% in the prefix" >&2; exit 1; }
results=$(winepath -u "$local_app_data\\Marbrix\\results.jsonl")
port_args=()
for com in "${coms[@]}"; do port_args+=(-p "$com"); done
win_listing=$(winepath -w "$work/listing.txt")
win_exe=$(winepath -w "$exe")
MARBRIX_PORT_LISTING=$win_listing timeout 150 wine explorer "/desktop=station,1280x800" "$win_exe" "${port_args[@]}" \
  --once --start "$dos_image" </dev/null >"$work/station.log" 2>&1 &
app_pid=$!

# Where the window is (W H X Y): the part of the screen that is not the
# desktop's colour. A border of that colour around the grab lets the trim
# find a window that touches the screen's edge.
window_box() {
  import -window root "$work/desk.png" 2>/dev/null &&
    convert "$work/desk.png" -bordercolor '#ff00ff' -border 1 -fuzz 0 -trim -format '%w %h %X %Y\n' info: 2>/dev/null
}
# Until the desktop is painted the whole screen is "not its colour".
seen() { ((w > 200 && h > 200 && w * h < 1280 * 800)); }
w=0 h=0
for _ in $(seq 1 150); do
  kill -0 "$app_pid" 2>/dev/null || break
  read -r w h x y < <(window_box || echo "0 0 +0 +0")
  seen && break
  sleep 0.2
done
seen || { echo "station-screenshot-windows: the window did not appear" >&2; exit 1; }
# A click on the caption makes it the active window (the virtual desktop
# does not hand a new window the focus), once the desktop has X's input
# focus (no window manager gives it); the pointer then leaves the caption.
activate() {
  xdotool search --name 'Wine desktop' windowfocus 2>/dev/null || true
  xdotool mousemove $((${x#+} - 1 + w / 2)) $((${y#+} - 1 + 10))
  sleep 0.3
  xdotool click 1
  sleep 0.3
  xdotool mousemove 1279 799
}
activate

# How many boxes' lines say ok (true) or not (false).
count() {
  local n=0
  [[ -s $results ]] && n=$(jq -s "map(select(.ok == $1)) | length" "$results" 2>/dev/null) || n=0
  echo "${n:-0}"
}
for _ in $(seq 1 600); do
  kill -0 "$app_pid" 2>/dev/null || break
  (($(count true) + $(count false) >= STATION_SCENE_PASSING + STATION_SCENE_FAILING)) && break
  sleep 0.1
done
passed=$(count true) failed=$(count false)
if ((passed != STATION_SCENE_PASSING || failed != STATION_SCENE_FAILING)); then
  echo "station-screenshot-windows: $passed passed and $failed failed instead of" \
    "$STATION_SCENE_PASSING and $STATION_SCENE_FAILING; no picture taken" >&2
  cat "$results" >&2 2>/dev/null || true
  exit 1
fi
# The tiles repaint a few times a second; the paced boxes move on a little.
activate
sleep 1.5
read -r w h x y < <(window_box || echo "0 0 +0 +0")
seen || { echo "station-screenshot-windows: the window went away" >&2; exit 1; }
mkdir -p "$(dirname "$out")"
convert "$work/desk.png" -crop "${w}x${h}+$((${x#+} - 1))+$((${y#+} - 1))" +repage "$out"
still=0
for ((i = STATION_SCENE_PASSING + STATION_SCENE_FAILING; i < STATION_SCENE_LANES; i++)); do
  kill -0 "${sim_pids[i]}" 2>/dev/null && still=$((still + 1))
done
if ((still == 0)); then
  echo "station-screenshot-windows: the paced boxes were done before the picture; it shows no SENDING tile" >&2
  exit 1
fi
echo "station-screenshot-windows: $out ($still lanes sending)"
