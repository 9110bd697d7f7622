#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Pictures of marbrix.exe, the Windows console, as Wine draws it under a
# virtual X server: the main window part-way through a real image download
# to the simulated box (docs/marbrix-windows.png) and the About box
# (docs/marbrix-windows-about.png).
#   scripts/screenshot-windows.sh            (or scripts/screenshot.sh --windows)
# Environment: WIN_BUILD (default build-windows: marbrix.exe) and HOST_BUILD
# (default build: stbsim and marbrix-cli, which packs the image).
#
# The program does not draw itself into a file here: it brings the window
# into the state to be shown, writes the window's place on the screen into
# the file given with --screenshot and holds the window still for three
# seconds, while this script grabs the screen and cuts the window out.
#
# Serial safety: the download runs on COM7, mapped through the registry of a
# throwaway prefix to a symlink that stbsim points at its pty; the mapping
# is checked before the program starts. COM1..COM4 are never used.
set -euo pipefail
cd "$(dirname "$0")/.."
SRC=$PWD

. scripts/lib/wine-prefix.sh
scripts/need-packages.sh --for screenshot-windows wine wine64 xvfb xdotool imagemagick fonts-wine fonts-wqy-microhei

WIN_BUILD=$(realpath -m "${WIN_BUILD:-$SRC/build-windows}")
HOST_BUILD=$(realpath -m "${HOST_BUILD:-$SRC/build}")
exe=$WIN_BUILD/console/marbrix.exe
cli=$HOST_BUILD/cli/marbrix-cli
sim=$HOST_BUILD/sim/stbsim
for f in "$exe" "$cli" "$sim"; do
  [[ -f $f ]] || { echo "screenshot-windows: build marbrix.exe (cmake --preset windows) and the Linux tree first: $f is missing" >&2; exit 1; }
done

work=$WIN_BUILD/wine-shot
wine_prefix_fresh "$work"
com_link=$work/ttyCOM7
ln -s /dev/null "$com_link"

xvfb_pid="" sim_pid=""
cleanup() {
  if [[ -n $sim_pid ]] && kill -0 "$sim_pid" 2>/dev/null; then kill "$sim_pid" 2>/dev/null || true; fi
  wine_stop
  if [[ -n $xvfb_pid ]]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# A display of our own.
for n in $(seq 90 190); do
  [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]] && continue
  Xvfb ":$n" -screen 0 1024x768x24 -dpi 96 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 1 50); do [[ -e /tmp/.X11-unix/X$n ]] && break; sleep 0.1; done
  if [[ -e /tmp/.X11-unix/X$n ]]; then export DISPLAY=":$n"; break; fi
  kill "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=""
done
[[ -n $xvfb_pid ]] || { echo "screenshot-windows: no X display could be started" >&2; exit 1; }

# The prefix: COM7, and fonts for Chinese text. Wine has no Song face: the
# dialogs' face is drawn as Tahoma, and Tahoma (captions, menus, dialogs)
# takes its Chinese characters from WenQuanYi Micro Hei through font
# linking. The log finds WenQuanYi Micro Hei Mono by itself. The registry file is in UTF-16: only so
# does regedit read the face name 宋体 right.
wineboot -i </dev/null >/dev/null 2>&1
wine reg add 'HKLM\Software\Wine\Ports' /v COM7 /d "$com_link" /f </dev/null >/dev/null 2>&1
link='hex(7):'$(printf 'wqy-microhei.ttc,WenQuanYi Micro Hei\0\0' | iconv -f UTF-8 -t UTF-16LE | od -An -v -tx1 |
  tr -s ' \n' ',,' | sed 's/^,//; s/,$//')
{
  printf '\xff\xfe'
  printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
    '[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink]' \
    "\"Tahoma\"=$link" '' \
    '[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]' \
    '"宋体"="Tahoma"' '' | iconv -f UTF-8 -t UTF-16LE
} >"$work/fonts.reg"
wine regedit /s "$(winepath -w "$work/fonts.reg")" </dev/null >/dev/null 2>&1
# The caption buttons are glyphs of Wine's Marlett face, which this Wine
# does not find among its own data files: without it the close box reads "r".
cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
wineserver -k
wineserver -w
wineserver -p 2>"$work/wineserver.log"
wine cmd /c exit </dev/null >/dev/null 2>&1
if [[ $(readlink "$WINEPREFIX/dosdevices/com7") != "$com_link" ]]; then
  echo "screenshot-windows: COM7 is not mapped to $com_link; no picture taken" >&2
  exit 1
fi

# The image, under a folder with a Chinese name (a path the program must
# open through the wide-character calls), as in the Linux pictures.
# The release folder is drive D:, so the picture shows a Windows path and
# not the build tree's.
mkdir -p "$work/d"
ln -s "$work/d" "$WINEPREFIX/dosdevices/d:"
dir=$work/d/固件/releases/2026-12/main-board
mkdir -p "$dir"
file=$dir/stb-main-board-v1.2-release.dat
head -c $((120 * 1024)) /dev/urandom >"$work/payload.bin"
"$cli" pack --version 1.2 --service-word 0A0B0C0D --mask-key 5A "$work/payload.bin" -o "$file" >/dev/null
rel=${file#"$work/d/"}
dos_file="D:\\${rel//\//\\}"

# The box cancels the first transfer at block 3 and asks again: the log then
# shows a failure in red before the second transfer's progress.
rm -f "$com_link"
"$sim" --mode image --expect "$file" --pace 115200 --can-block 3 --retries 1 --timeout 120 --link "$com_link" \
  >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 1 100); do
  [[ -L $com_link && $(readlink "$com_link") == /dev/pts/* ]] && break
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.1
done
[[ $(readlink "$com_link" 2>/dev/null) == /dev/pts/* ]] || { echo "screenshot-windows: stbsim did not start" >&2; cat "$work/sim.log" >&2; exit 1; }

mkdir -p docs
# Waits for the program to announce a picture in MARKER, then grabs the
# window it names into OUT.
shoot() {
  local marker=$1 out=$2 x y w h
  for _ in $(seq 1 900); do
    [[ -s $marker ]] && break
    kill -0 "$app_pid" 2>/dev/null || { echo "screenshot-windows: marbrix.exe ended before $out" >&2; return 1; }
    sleep 0.1
  done
  [[ -s $marker ]] || { echo "screenshot-windows: no picture for $out" >&2; return 1; }
  read -r x y w h <"$marker"
  # A click on the caption makes it the active window (Wine's virtual
  # desktop does not hand a new window the focus by itself).
  xdotool mousemove $((x + w / 2)) $((y + 8))
  sleep 0.2
  xdotool click 1
  sleep 0.5
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out"
  echo "screenshot-windows: $out"
}
# A virtual desktop draws the windows' captions and frames (without a window
# manager Wine draws none); it lies at the screen's top left corner, so the
# window's place on it is its place in the grab.
timeout 150 wine explorer /desktop=marbrix,1000x700 "$(winepath -w "$exe")" --port COM7 \
  --screenshot-about "$(winepath -w "$work/about.txt")" \
  --screenshot "$(winepath -w "$work/main.txt")" \
  --screenshot-download "$dos_file" --screenshot-at 40 \
  </dev/null >"$work/marbrix.log" 2>&1 &
app_pid=$!
shoot "$work/about.txt" docs/marbrix-windows-about.png
shoot "$work/main.txt" docs/marbrix-windows.png
wait "$app_pid" || true
