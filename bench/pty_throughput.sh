#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Wall time of one image download through marbrix-cli into stbsim over a pty:
# paced like a 115200 bit/s line (10 bits per byte: about 27 s for 300 KiB)
# and unpaced (what the engine and the pty manage on their own).
# Usage: bench/pty_throughput.sh [BUILD_DIR] [PAYLOAD_KIB]
set -euo pipefail
source "$(dirname "$0")/bench_common.sh"
bench_programs bench "${1:-build}"
KIB=${2:-300}

bench_workdir
bench_image "$KIB" 1.0 00000000

run() {  # label, extra stbsim options...
  local label=$1
  shift
  "$SIM" --mode image --expect "$WORK/img.dat" --timeout 300 "$@" >"$WORK/sim.log" 2>&1 &
  local sim=$!
  local pty=""
  for _ in $(seq 1 100); do
    pty=$(sed -n 's/^stbsim: pty //p' "$WORK/sim.log" | head -n 1)
    [[ -n $pty ]] && break
    sleep 0.1
  done
  [[ -n $pty ]] || { kill "$sim" 2>/dev/null; echo "bench: stbsim did not start" >&2; return 1; }
  local t0 t1 rc=0 simrc=0
  t0=$(date +%s.%N)
  timeout 320 "$CLI" -p "$pty" "$WORK/img.dat" 2>"$WORK/cli.log" >/dev/null || rc=$?
  t1=$(date +%s.%N)
  wait "$sim" || simrc=$?
  local verdict=FAIL
  [[ $rc -eq 0 && $simrc -eq 0 ]] && verdict=PASS
  local secs
  secs=$(echo "$t1 - $t0" | bc -l 2>/dev/null || awk "BEGIN{print $t1 - $t0}")
  printf '%-22s %7.2f s  %8.1f KiB/s  %s\n' "$label" "$secs" "$(awk "BEGIN{print $KIB / $secs}")" "$verdict"
}

BLOCKS=$(( (KIB * 1024 + 1023) / 1024 ))
echo "image of ${KIB} KiB payload ($BLOCKS blocks), marbrix-cli -> stbsim over a pty"
awk "BEGIN{printf \"%-22s %7.2f s  (the data blocks alone, 1029 bytes x 10 bits each)\\n\", \"line time at 115200\", $BLOCKS * 1029 * 10 / 115200}"
run "paced 115200 bit/s" --pace 115200
run "unpaced" 
