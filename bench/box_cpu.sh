#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# CPU of one image download on each side of the line: marbrix-cli (what a
# production PC pays per box) and stbsim paced at RATE (what this machine
# pays to stand in for the box's hardware). Each side's user + system
# seconds per box and per MiB of image, and the box's wall time, for one
# box alone and for LANES boxes at once (every marbrix-cli started
# together, as a production line or the station window starts them).
# Median, min and max over RUNS runs of every box's figures; not a test.
#
#   bench/box_cpu.sh [BUILD_DIR] [RUNS] [LANES] [RATE] [KIB]   (build, 3, 32, 921600, 256)
set -euo pipefail
source "$(dirname "$0")/bench_common.sh"
bench_programs box_cpu "${1:-build}"
RUNS=${2:-3}
LANES=${3:-32}
RATE=${4:-921600}
KIB=${5:-256}
command -v /usr/bin/time >/dev/null || { echo "box_cpu: needs /usr/bin/time (Debian package time)" >&2; exit 2; }
bench_workdir
bench_image "$KIB" 1.2 11223344
MIB=$(awk -v b="$(stat -c %s "$WORK/img.dat")" 'BEGIN { printf "%.6f", b / 1048576 }')

# One run with n boxes; appends "WALL CLI_CPU SIM_CPU" (seconds) per box to
# $WORK/figures.$n.
run() {
  local n=$1 sims=() clis=() i
  rm -f "$WORK"/box* "$WORK"/*.time
  for i in $(seq 1 "$n"); do
    /usr/bin/time -f '%U %S' -o "$WORK/sim$i.time" \
      "$SIM" --mode image --expect "$WORK/img.dat" --pace "$RATE" --timeout 300 --link "$WORK/box$i" \
      >"$WORK/sim$i.log" 2>&1 &
    sims+=($!)
  done
  for i in $(seq 1 "$n"); do
    for _ in $(seq 1 200); do [[ -e $WORK/box$i ]] && break; sleep 0.05; done
  done
  for i in $(seq 1 "$n"); do
    /usr/bin/time -f '%e %U %S' -o "$WORK/cli$i.time" \
      "$CLI" -p "$WORK/box$i" -b "$RATE" --image --json -- "$WORK/img.dat" >/dev/null 2>"$WORK/cli$i.log" &
    clis+=($!)
  done
  local bad=0
  for p in "${clis[@]}" "${sims[@]}"; do wait "$p" || bad=$((bad + 1)); done
  if ((bad)); then echo "box_cpu: $bad of $((2 * n)) programs failed with $n boxes" >&2; exit 1; fi
  for i in $(seq 1 "$n"); do
    read -r wall cu cs <"$WORK/cli$i.time"
    read -r su ss <"$WORK/sim$i.time"
    echo "$wall $(awk -v a="$cu" -v b="$cs" 'BEGIN { print a + b }') $(awk -v a="$su" -v b="$ss" 'BEGIN { print a + b }')" \
      >>"$WORK/figures.$n"
  done
}

# median min max of column COL of FILE, scaled by SCALE, in FORMAT.
stats() {
  awk -v c="$2" -v s="$3" '{ print $c * s }' "$1" | sort -g |
    awk -v f="$4" '{ v[NR] = $1 } END { printf "median " f "  min " f "  max " f, v[int((NR + 1) / 2)], v[1], v[NR] }'
}

LOAD=$(cut -d' ' -f1-3 /proc/loadavg)
for _ in $(seq 1 "$RUNS"); do
  run 1
  run "$LANES"
done
echo "$KIB KiB image ($MIB MiB), stbsim --pace $RATE, $RUNS runs; load average before: $LOAD"
for n in 1 "$LANES"; do
  f=$WORK/figures.$n
  echo "$n box(es) at once, every box of every run:"
  printf '  %-30s %s\n' "wall time:" "$(stats "$f" 1 1 '%.2f s')" \
    "marbrix-cli CPU per box:" "$(stats "$f" 2 1 '%.3f s')" \
    "marbrix-cli CPU per MiB:" "$(stats "$f" 2 "$(awk -v m="$MIB" 'BEGIN { print 1 / m }')" '%.3f s')" \
    "stbsim CPU per box:" "$(stats "$f" 3 1 '%.3f s')" \
    "stbsim CPU per MiB:" "$(stats "$f" 3 "$(awk -v m="$MIB" 'BEGIN { print 1 / m }')" '%.3f s')"
done
