#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Wall time of a 256 KiB image sent to four stbsim boxes at once (one
# marbrix-cli, four ports) against the same image sent to one box alone, each
# box paced like a 115200 bit/s line. Four parallel downloads should overlap,
# not add up. Prints the median of RUNS runs with min and max; not a test.
#
#   bench/production_line.sh [BUILD_DIR] [RUNS]     (defaults: build, 3)
set -euo pipefail
source "$(dirname "$0")/bench_common.sh"
bench_programs production_line "${1:-build}"
RUNS=${2:-3}
bench_workdir

# A 256 KiB payload packed as an image.
bench_image 256 1.2 11223344

now() { date +%s.%N; }

# One run with N boxes: prints the seconds from the CLI's start to its end.
run() {
  local n=$1 ports=() pids=()
  for i in $(seq 1 "$n"); do
    rm -f "$WORK/box$i"
    "$SIM" --mode image --expect "$WORK/img.dat" --pace 115200 --timeout 300 --link "$WORK/box$i" \
      > "$WORK/sim$i.log" 2>&1 &
    pids+=($!)
    ports+=(-p "$WORK/box$i")
  done
  for i in $(seq 1 "$n"); do
    for _ in $(seq 1 100); do [ -e "$WORK/box$i" ] && break; sleep 0.05; done
  done
  local t0 t1 rc=0
  t0=$(now)
  "$CLI" "${ports[@]}" "$WORK/img.dat" > /dev/null 2> "$WORK/cli.log" || rc=$?
  t1=$(now)
  for p in "${pids[@]}"; do wait "$p" || rc=$?; done
  for i in $(seq 1 "$n"); do grep -q "stbsim: PASS" "$WORK/sim$i.log" || rc=99; done
  if [ "$rc" != 0 ]; then echo "run with $n boxes failed (rc $rc)" >&2; cat "$WORK/cli.log" >&2; exit 1; fi
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f\n", b - a }'
}

stats() {  # median min max of the arguments
  printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { printf "median %.2f s  min %.2f s  max %.2f s", v[int((NR + 1) / 2)], v[1], v[NR] }'
}

one=() four=()
for r in $(seq 1 "$RUNS"); do
  one+=("$(run 1)")
  four+=("$(run 4)")
done
echo "256 KiB image at 115200 bit/s (stbsim --pace 115200), $RUNS runs each"
echo "  one box alone:       $(stats "${one[@]}")"
echo "  four boxes at once:  $(stats "${four[@]}")"
m1=$(printf '%s\n' "${one[@]}" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
m4=$(printf '%s\n' "${four[@]}" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
awk -v a="$m1" -v b="$m4" 'BEGIN { printf "  four / one (medians): %.2f (1.00: they overlap fully; 4.00: they add up)\n", b / a }'
