#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Windows console's picture for the README (docs/marbrix-windows.png):
# marbrix.exe under Wine on a virtual X server, part-way through an image
# download to the simulated box on COM7. Run through
#   scripts/screenshot.sh --windows [WIN_BUILD [HOST_BUILD]]
# SCREENSHOT_OUT=FILE.png writes the picture elsewhere.
#
# A throwaway Wine prefix is made for the run and removed after it. Serial
# safety as in scripts/test-windows.sh: only COM7, mapped through the
# registry to a symlink in the scratch folder, checked before the program
# starts.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/need-packages.sh --for screenshot wine wine64 xvfb imagemagick fonts-wine fonts-wqy-microhei
win=$(realpath -m "${1:-build-windows}")
host=$(realpath -m "${2:-build}")
exe=$win/console/marbrix.exe
cli=$host/cli/marbrix-cli
sim=$host/sim/stbsim
for f in "$exe" "$cli" "$sim"; do
  [[ -f $f ]] || { echo "screenshot: $f is missing (build-windows: cmake --preset windows; build: scripts/build.sh)" >&2; exit 1; }
done

work=$(mktemp -d /tmp/marbrix-winshot.XXXXXX)
export WINEPREFIX=$work/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
sim_pid="" xvfb_pid="" exe_pid=""
cleanup() {
  for p in "$exe_pid" "$sim_pid"; do
    if [[ -n $p ]] && kill -0 "$p" 2>/dev/null; then kill "$p" 2>/dev/null || true; fi
  done
  if [[ -d $WINEPREFIX ]]; then
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
  fi
  if [[ -n $xvfb_pid ]]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# The X server first: Wine's desktop takes its display from the first
# program that starts it.
Xvfb -displayfd 3 -screen 0 1024x768x24 -dpi 96 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 100); do
  [[ -s $work/display ]] && break
  sleep 0.1
done
[[ -s $work/display ]] || { echo "screenshot: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$work/display")"

com_link=$work/ttyCOM7
ln -s /dev/null "$com_link"
wineboot -i </dev/null >/dev/null 2>&1
wine reg add 'HKLM\Software\Wine\Ports' /v COM7 /d "$com_link" /f </dev/null >/dev/null 2>&1
# Chinese in the dialog (the About entry of the window menu, the log's
# face): without a link to a CJK face it draws as boxes.
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v Tahoma \
  /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f </dev/null >/dev/null 2>&1
# The caption buttons are glyphs of Wine's Marlett face, which this Wine
# does not find among its own data: without it the close box reads "r".
cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
wineserver -k
wineserver -w
wine cmd /c exit </dev/null >/dev/null 2>&1
if [[ $(readlink "$WINEPREFIX/dosdevices/com7") != "$com_link" ]]; then
  echo "screenshot: COM7 is not mapped to $com_link; not starting the program" >&2
  exit 1
fi
# The release folder as drive D:, so the picture shows a Windows path.
mkdir -p "$work/d"
ln -s "$work/d" "$WINEPREFIX/dosdevices/d:"

# The same download as the Linux picture: the box cancels the first
# transfer at block 3 and asks again, so the log shows a failure in red.
dir=$work/d/firmware/releases/2026-12/main-board
mkdir -p "$dir"
file=$dir/stb-main-board-v1.2-release.dat
head -c $((120 * 1024)) /dev/urandom >"$work/payload.bin"
"$cli" pack --version 1.2 --service-word 0A0B0C0D --mask-key 5A "$work/payload.bin" -o "$file" >/dev/null
"$sim" --mode image --expect "$file" --pace 115200 --can-block 3 --retries 1 --timeout 120 \
  >"$work/sim.log" 2>&1 &
sim_pid=$!
pty=""
for _ in $(seq 1 100); do
  pty=$(sed -n 's/^stbsim: pty //p' "$work/sim.log" | head -n 1)
  [[ -n $pty ]] && break
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.1
done
[[ -n $pty ]] || { echo "screenshot: stbsim did not start" >&2; cat "$work/sim.log" >&2; exit 1; }
ln -sfn "$pty" "$com_link.new"
mv -T "$com_link.new" "$com_link"

cp "$exe" "$work/d/marbrix.exe"
wine explorer /desktop=marbrix,900x560 'D:\marbrix.exe' --port '\\.\COM7' \
  --screenshot 'D:\shot.txt' --screenshot-download 'D:\firmware\releases\2026-12\main-board\stb-main-board-v1.2-release.dat' \
  --screenshot-at 40 </dev/null >"$work/marbrix.log" 2>&1 &
exe_pid=$!
for _ in $(seq 1 900); do
  [[ -s $work/d/shot.txt ]] && break
  kill -0 "$exe_pid" 2>/dev/null || break
  sleep 0.1
done
[[ -s $work/d/shot.txt ]] || { echo "screenshot: marbrix.exe did not get to its picture" >&2; cat "$work/marbrix.log" >&2; exit 1; }
read -r x y w h <"$work/d/shot.txt"
import -window root "$work/root.png"
out=${SCREENSHOT_OUT:-docs/marbrix-windows.png}
mkdir -p "$(dirname "$out")"
convert "$work/root.png" -crop "${w}x${h}+${x}+${y}" +repage "$out"
for _ in $(seq 1 100); do
  kill -0 "$exe_pid" 2>/dev/null || break
  sleep 0.1
done
echo "screenshot: $out (${w}x${h})"
