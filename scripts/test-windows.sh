#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Windows part of CI: cross-builds marbrix-cli.exe, marbrix.exe and the
# engine's unit tests with mingw-w64, and runs them under Wine in a throwaway
# prefix inside the build tree:
#   1. the engine's unit tests and the production line's child processes
#      (.exe) through CTest's emulator;
#   2. marbrix-cli.exe across processes against stbsim (a Linux program) on a
#      pty that Wine shows as COM7, and its production line against four
#      stbsim boxes on COM7..COM10; marbrix-station.exe on COM7 and COM8
#      (--start --once: both boxes' lines in its results file);
#   3. the console's Win32 dialog (console_win32_cases.exe) on a virtual X
#      server: its start-up state and log colours, and whole downloads pressed
#      through its buttons against stbsim on COM7.
#
# Serial safety: Wine maps an unconfigured COM1..COM4 to /dev/ttyS0..3, and
# /dev/ttyS0 may be the kernel's console. Only COM7..COM10 are used, each
# mapped through the registry to a fixed symlink of its own in the build tree
# (ttyCOMn); the mappings are checked before any program opens a port.
#
# Environment: WIN_BUILD (default build-windows) and HOST_BUILD (default
# build, the Linux tree that provides stbsim and the cross-process driver).
set -euo pipefail
cd "$(dirname "$0")/.."
SRC=$PWD

. scripts/lib/windows-build.sh
. scripts/lib/wine-prefix.sh
scripts/need-packages.sh --for test-windows "${WINDOWS_BUILD_PACKAGES[@]}" pkg-config wine wine64 xvfb \
  fonts-wqy-microhei

HOST_BUILD=$(realpath -m "${HOST_BUILD:-$SRC/build}")

# Cross-build. The preset's folder unless another one is asked for.
windows_build_configure "$SRC"
nice cmake --build "$WIN_BUILD" -j2

# The Linux side of the cross-process tests.
if [[ ! -f $HOST_BUILD/CMakeCache.txt ]]; then
  cmake -S "$SRC" -B "$HOST_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
nice cmake --build "$HOST_BUILD" -j2 --target stbsim cli_wine_test line_wine_test console_wine_test station_wine_test
echo "test-windows: built after ${SECONDS} s"
WIN_BUILD=$WIN_BUILD scripts/test-msi.sh  # the installer, in a prefix of its own

# A fresh prefix for this run.
WINE_DIR=$WIN_BUILD/wine
wine_prefix_fresh "$WINE_DIR"
LINE_COMS=(COM7 COM8 COM9 COM10)
for com in "${LINE_COMS[@]}"; do ln -s /dev/null "$WINE_DIR/tty$com"; done
COM_LINK=$WINE_DIR/ttyCOM7

# At the end, pass or fail: the server and the X server stop and the prefix
# (some 700 MB) goes, unless MARBRIX_KEEP_WINE_PREFIX=1 keeps it for a look.
XVFB_PID=""
stop_wine() {
  wine_stop
  if [[ -n $XVFB_PID ]]; then kill "$XVFB_PID" 2>/dev/null || true; fi
  wine_prefix_drop
}
trap stop_wine EXIT

# A virtual X server for the dialogs, on a display number it picks itself
# among the free ones. It comes first: Wine's desktop takes its display
# driver from the first program that starts it, and a desktop begun without
# a display would keep every later window off the screen.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -dpi 96 -nolisten tcp 3>"$WINE_DIR/xvfb.display" \
  >"$WINE_DIR/xvfb.log" 2>&1 &
XVFB_PID=$!
for _ in $(seq 1 100); do
  [[ -s $WINE_DIR/xvfb.display ]] && break
  kill -0 "$XVFB_PID" 2>/dev/null || break
  sleep 0.1
done
if [[ ! -s $WINE_DIR/xvfb.display ]]; then
  echo "test-windows: Xvfb did not start" >&2
  cat "$WINE_DIR/xvfb.log" >&2
  exit 1
fi
export DISPLAY=":$(head -n 1 "$WINE_DIR/xvfb.display")"

# Every Wine process started here gets /dev/null for its streams: the
# services the first one starts outlive it and would hold a caller's pipe.
wineboot -i </dev/null >/dev/null 2>&1
for com in "${LINE_COMS[@]}"; do
  wine reg add 'HKLM\Software\Wine\Ports' /v "$com" /d "$WINE_DIR/tty$com" /f </dev/null >/dev/null 2>&1
done
# Chinese in the dialogs: the UI face falls back to WenQuanYi Micro Hei for
# what it has no glyphs for (without the link CJK draws as boxes).
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v Tahoma \
  /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f </dev/null >/dev/null 2>&1
# Every window inside one Wine desktop, as on Windows. Without a window
# manager a top-level X window of its own costs each dialog some 2 s when it
# closes (Wine waits for a manager to withdraw it, then gives up).
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f </dev/null >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f </dev/null >/dev/null 2>&1
wineserver -k
wineserver -w
echo "test-windows: Wine prefix ready after ${SECONDS} s"
# One server for the whole run: every .exe then starts in ~0.1 s. Its own
# chatter (it dumps its objects when a pty it opened hangs up) goes to a log.
wineserver -p 2>"$WINE_DIR/wineserver.log"
wine cmd /c exit </dev/null >/dev/null 2>&1
for com in "${LINE_COMS[@]}"; do
  if [[ $(readlink "$WINEPREFIX/dosdevices/${com,,}") != "$WINE_DIR/tty$com" ]]; then
    echo "test-windows: $com is not mapped to $WINE_DIR/tty$com; not running the port tests" >&2
    ls -l "$WINEPREFIX/dosdevices" >&2
    exit 1
  fi
done

echo "test-windows: engine unit tests under Wine (${SECONDS} s so far)"
ctest --test-dir "$WIN_BUILD" --output-on-failure -j2 "$@"

echo "test-windows: marbrix-cli.exe against stbsim on COM7 (${SECONDS} s so far)"
MARBRIX_CLI_EXE="$WIN_BUILD/cli/marbrix-cli.exe" \
  MARBRIX_COM_LINK="$COM_LINK" \
  MARBRIX_COM_NAME=COM7 \
  STBSIM="$HOST_BUILD/sim/stbsim" \
  "$HOST_BUILD/tests/wine/cli_wine_test"

echo "test-windows: marbrix-cli.exe's production line on ${LINE_COMS[*]} (${SECONDS} s so far)"
MARBRIX_CLI_EXE="$WIN_BUILD/cli/marbrix-cli.exe" \
  MARBRIX_COM_LINK="$COM_LINK" \
  MARBRIX_COM_NAME=COM7 \
  MARBRIX_COM_DIR="$WINE_DIR" \
  MARBRIX_LINE_COMS="$(IFS=,; echo "${LINE_COMS[*]}")" \
  STBSIM="$HOST_BUILD/sim/stbsim" \
  "$HOST_BUILD/tests/wine/line_wine_test"

echo "test-windows: marbrix-station.exe on ${LINE_COMS[0]} and ${LINE_COMS[1]} (${SECONDS} s so far)"
MARBRIX_STATION_EXE="$WIN_BUILD/cli/marbrix-station.exe" \
  MARBRIX_COM_LINK="$COM_LINK" \
  MARBRIX_COM_NAME=COM7 \
  MARBRIX_COM_DIR="$WINE_DIR" \
  MARBRIX_LINE_COMS="$(IFS=,; echo "${LINE_COMS[*]}")" \
  STBSIM="$HOST_BUILD/sim/stbsim" \
  "$HOST_BUILD/tests/wine/station_wine_test"

console_start=$SECONDS
echo "test-windows: the console's dialog under Wine on $DISPLAY (${SECONDS} s so far)"
MARBRIX_CONSOLE_CASES_EXE="$WIN_BUILD/tests/wine/console_win32_cases.exe" \
  MARBRIX_COM_LINK="$COM_LINK" \
  MARBRIX_COM_NAME=COM7 \
  STBSIM="$HOST_BUILD/sim/stbsim" \
  "$HOST_BUILD/tests/wine/console_wine_test"
echo "test-windows: the console's part took $((SECONDS - console_start)) s"
echo "test-windows: done in ${SECONDS} s"
