#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The station window under load: N lanes (32 unless given) against N stbsim
# boxes paced at RATE (921600), every lane started at once with --once. It
# prints the window's own CPU (its process alone, not its marbrix-cli
# children) as a share of one core over the run, and each box's seconds (from
# the results file) against the same image to one box alone: the slowest
# lane's ratio should stay near 1. Median, min and max of RUNS runs; not a
# test.
#
#   bench/station_window.sh [BUILD_DIR] [RUNS] [LANES] [RATE]   (build, 3, 32, 921600)
set -euo pipefail
source "$(dirname "$0")/bench_common.sh"
bench_programs station_window "${1:-build}"
RUNS=${2:-3}
LANES=${3:-32}
RATE=${4:-921600}
STATION=$BUILD/station_app/marbrix-station
[[ -x $STATION ]] || { echo "station_window: $STATION not built" >&2; exit 2; }
bench_workdir
bench_image 256 1.2 11223344
HZ=$(getconf CLK_TCK)

# One run with n lanes: prints "CPU_SHARE MAX_SECONDS MEDIAN_SECONDS" (the
# window's CPU per wall second, the slowest and the median box).
run() {
  local n=$1 ports=() pids=()
  rm -f "$WORK"/box* "$WORK/results.jsonl"
  for i in $(seq 1 "$n"); do
    "$SIM" --mode image --expect "$WORK/img.dat" --pace "$RATE" --timeout 300 --link "$WORK/box$i" \
      >"$WORK/sim$i.log" 2>&1 &
    pids+=($!)
    ports+=(-p "$WORK/box$i")
  done
  for i in $(seq 1 "$n"); do
    for _ in $(seq 1 200); do [[ -e $WORK/box$i ]] && break; sleep 0.05; done
  done
  QT_QPA_PLATFORM=offscreen "$STATION" "${ports[@]}" -b "$RATE" --results "$WORK/results.jsonl" --once --start \
    "$WORK/img.dat" >/dev/null 2>"$WORK/station.log" &
  local station=$! t0 t1
  t0=$(date +%s.%N)
  # --once leaves the window open: it is done when every box has its line.
  for _ in $(seq 1 6000); do
    [[ -f $WORK/results.jsonl ]] && (($(wc -l <"$WORK/results.jsonl") >= n)) && break
    sleep 0.05
  done
  t1=$(date +%s.%N)
  # utime + stime of the window's own process (fields 14 and 15).
  local ticks
  ticks=$(awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$station/stat")
  kill -TERM "$station"
  wait "$station" || true
  for p in "${pids[@]}"; do wait "$p" || true; done
  local ok
  ok=$(grep -c '"ok":true' "$WORK/results.jsonl" || true)
  if [[ $ok != "$n" ]]; then echo "run with $n lanes: $ok of $n boxes passed" >&2; cat "$WORK/station.log" >&2; exit 1; fi
  sed -n 's/.*"seconds":\([0-9.]*\).*/\1/p' "$WORK/results.jsonl" | sort -n |
    awk -v cpu="$ticks" -v hz="$HZ" -v a="$t0" -v b="$t1" \
      '{ v[NR] = $1 } END { printf "%.4f %.3f %.3f\n", cpu / hz / (b - a), v[NR], v[int((NR + 1) / 2)] }'
}

stats() {  # median min max of the arguments, with a format for each
  printf '%s\n' "${@:2}" | sort -n |
    awk -v f="$1" '{ v[NR] = $1 } END { printf "median " f "  min " f "  max " f, v[int((NR + 1) / 2)], v[1], v[NR] }'
}

alone=() cpu=() slowest=() ratio=()
for r in $(seq 1 "$RUNS"); do
  read -r _ max1 _ < <(run 1)
  alone+=("$max1")
  read -r share maxn _ < <(run "$LANES")
  cpu+=("$(awk -v s="$share" 'BEGIN { printf "%.1f", s * 100 }')")
  slowest+=("$maxn")
  ratio+=("$(awk -v a="$max1" -v b="$maxn" 'BEGIN { printf "%.3f", b / a }')")
done
echo "256 KiB image, stbsim --pace $RATE, $RUNS runs"
printf '  %-40s %s\n' "one box alone (its seconds):" "$(stats '%.2f s' "${alone[@]}")" \
  "$LANES lanes, the slowest box:" "$(stats '%.2f s' "${slowest[@]}")" \
  "the slowest of $LANES / alone:" "$(stats '%.3f' "${ratio[@]}")" \
  "the window's own CPU (% of one core):" "$(stats '%.1f' "${cpu[@]}")"
