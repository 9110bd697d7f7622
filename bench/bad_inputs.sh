#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# What marbrix-cli makes of bad download files and bad ports, as measured:
# for each case the exit code, the lines it ends with, and how many bytes
# reached the box (a silent box on a pty, stbsim --mode listen, keeps count).
# Prints a Markdown table; it is not a test.
#
#   bench/bad_inputs.sh [BUILD_DIR]
#
# Needs about 9 GiB of sparse files' worth of address space in /tmp (no
# real disk: the files are holes). Run as root, the unreadable file is
# tried as the user nobody.
set -euo pipefail
source "$(dirname "$0")/bench_common.sh"
bench_programs bad_inputs "${1:-build}"
W=$(mktemp -d /tmp/marbrix-bad.XXXXXX)
chmod 755 "$W"
holders=()
cleanup() {
  for p in "${holders[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$W"
}
trap cleanup EXIT

# --- the files -------------------------------------------------------------
head -c 1 /dev/urandom >"$W/p1"
"$CLI" pack --version 1.0 --service-word 0A0B0C0D "$W/p1" -o "$W/valid16.dat" >/dev/null
: >"$W/empty.dat"
head -c 1 "$W/valid16.dat" >"$W/one.dat"
head -c 14 "$W/valid16.dat" >"$W/b14.dat"
head -c 15 "$W/valid16.dat" >"$W/header15.dat"
mkdir "$W/folder.dat"
cp "$W/valid16.dat" "$W/unreadable.dat"
chmod 000 "$W/unreadable.dat"
mkfifo "$W/fifo.dat"
# Sparse images: a valid header, then holes past 2 GiB and past 4 GiB.
cp "$W/valid16.dat" "$W/sparse-2g.dat"
truncate -s $(((2 << 30) + 4096)) "$W/sparse-2g.dat"
cp "$W/valid16.dat" "$W/sparse-4g.dat"
truncate -s $(((4 << 30) + 4096)) "$W/sparse-4g.dat"
# A served file past 4 GiB with marks at 2 GiB and at the last 32-bit offset.
truncate -s $(((4 << 30) + 4096)) "$W/big.bin"
printf 'mark-at-2GiB' | dd of="$W/big.bin" bs=1 seek=$((2 << 30)) conv=notrunc status=none
printf 'last-32-bit-offset' | dd of="$W/big.bin" bs=1 seek=$((0xFFFFFFFF - 5)) conv=notrunc status=none

# The pty a starting stbsim names in its log (empty after 5 s without).
pty_of() {  # LOG
  local pty=""
  for _ in $(seq 1 100); do
    pty=$(sed -n 's/^stbsim: pty //p' "$1" 2>/dev/null | head -n 1)
    [[ -n $pty ]] && break
    sleep 0.05
  done
  echo "$pty"
}

# A silent box on a fresh pty for SECS seconds: BOX_PTY and BOX_PID are
# set; its count lands in NAME.log.
box() {  # NAME SECS
  "$SIM" --mode listen --timeout "$2" >"$W/$1.log" 2>&1 &
  BOX_PID=$!
  BOX_PTY=$(pty_of "$W/$1.log")
  chmod 666 "$BOX_PTY"  # so that the user nobody may open it too
}
# Waits for the box (in this shell, not a subshell) and sets BOX_BYTES.
box_count() {  # PID NAME
  wait "$1" 2>/dev/null || true
  BOX_BYTES=$(sed -n 's/^stbsim: listened: \([0-9]*\) byte.*/\1/p' "$W/$2.log")
}

# The CLI's last lines without their times, joined.
tail_lines() {
  sed -e 's/^[0-9:]\{8\}  //' -e 's/\r$//' -e "s#$W/##g" "$1" | tail -n "$2" | paste -sd'|' | sed 's/|/ ⏎ /g'
}

row() {  # label, exit, lines, bytes
  printf '| %s | %s | `%s` | %s |\n' "$1" "$2" "$3" "$4"
}

# One file case: label, lines to show, CLI arguments (port filled in).
file_case() {
  local label=$1 show=$2 n=$((++count))
  shift 2
  box "box$n" 3
  local pty=$BOX_PTY boxpid=$BOX_PID
  local rc=0 runner=()
  if [[ ${RUN_AS_NOBODY:-0} -eq 1 ]]; then runner=(setpriv --reuid=65534 --regid=65534 --clear-groups); fi
  "${runner[@]}" "$CLI" -p "$pty" --timeout 2 "$@" >/dev/null 2>"$W/cli$n.log" || rc=$?
  box_count "$boxpid" "box$n"
  row "$label" "$rc" "$(tail_lines "$W/cli$n.log" "$show")" "$BOX_BYTES"
}

# One port case: label, lines to show, port, and the silent box on that
# port when there is one (its pid and name), to count what reached it.
port_case() {
  local label=$1 show=$2 port=$3 n=$((++count)) rc=0 bytes="none (no line)"
  "$CLI" -p "$port" --timeout 2 "$W/valid16.dat" >/dev/null 2>"$W/cli$n.log" || rc=$?
  if [[ -n ${4:-} ]]; then
    box_count "$4" "$5"
    bytes=$BOX_BYTES
  fi
  row "$label" "$rc" "$(tail_lines "$W/cli$n.log" "$show")" "$bytes"
}

count=0
echo "| input | exit | how the CLI ends (last lines) | bytes that reached the box |"
echo "|---|---|---|---|"
file_case "empty file" 1 "$W/empty.dat"
file_case "1 byte" 1 "$W/one.dat"
file_case "14 bytes" 1 "$W/b14.dat"
file_case "15 bytes (the header alone)" 1 "$W/header15.dat"
file_case "16 bytes (valid image, 1 payload byte; the box stays silent, --timeout 2)" 1 "$W/valid16.dat"
file_case "a directory" 2 "$W/folder.dat"
if [[ $(id -u) -eq 0 ]] && command -v setpriv >/dev/null; then
  RUN_AS_NOBODY=1 file_case "unreadable (mode 000, run as nobody)" 2 "$W/unreadable.dat"
else
  file_case "unreadable (mode 000)" 2 "$W/unreadable.dat"
fi
file_case "a FIFO" 2 "$W/fifo.dat"
file_case "/dev/zero (--image)" 1 --image /dev/zero
file_case "sparse image, 2 GiB + 4 KiB" 1 "$W/sparse-2g.dat"
file_case "sparse image, 4 GiB + 4 KiB" 1 "$W/sparse-4g.dat"

# The served file past 4 GiB: a box that asks at 2 GiB, across the last
# 32-bit offset and at offset 2^32-1 checks each answer against the file.
n=$((++count))
"$SIM" --mode served --expect "$W/big.bin" --request $(((2 << 30) - 8)):100 \
  --request 4294967040:65535 --request 4294967295:500 --timeout 30 >"$W/served.log" 2>&1 &
simpid=$!
pty=$(pty_of "$W/served.log")
rc=0
"$CLI" -p "$pty" --timeout 10 "$W/big.bin" >/dev/null 2>"$W/cli$n.log" || rc=$?
wait "$simpid" || true
verdict=$(grep -o 'PASS.*\|FAIL.*' "$W/served.log" | head -n 1)
detail=$(sed -n 's/^stbsim: request \([0-9]*\) bytes at offset \([0-9]*\): \([0-9]*\) byte(s) came, identical.*/\3 of \1 at \2/p' \
  "$W/served.log" | paste -sd';' | sed 's/;/; /g')
row "served file of 4 GiB + 4 KiB: requests at 2 GiB − 8, 4 GiB − 256, 2^32 − 1" "$rc" \
  "$(tail_lines "$W/cli$n.log" 1)" "box: $verdict ($detail bytes, each identical to the file)"

# --- the ports ---------------------------------------------------------------
missing=/dev/ttyUSB97
[[ -e $missing ]] && missing=$W/ttyUSB0
port_case "port missing ($missing)" 2 "$missing"

box held 4
pty=$BOX_PTY heldbox=$BOX_PID
"$CLI" -p "$pty" --timeout 3 "$W/valid16.dat" >/dev/null 2>&1 &
first=$!
sleep 1
port_case "port busy: another marbrix-cli is using it" 2 "$pty" "$heldbox" held
wait "$first" || true

box held2 4
pty=$BOX_PTY heldbox=$BOX_PID
sleep 4 <>"$pty" &
holders+=($!)
sleep 0.3
port_case "port held by another program (sleep)" 2 "$pty" "$heldbox" held2

echo "just a file" >"$W/regular"
port_case "port is a regular file" 2 "$W/regular"
port_case "port is a directory" 2 "$W"
port_case "port is /dev/null" 2 /dev/null
