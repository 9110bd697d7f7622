#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The demonstration: set up this machine, build, make a sample image, and send
# it with marbrix-cli to the set-top box simulator on a pseudo-terminal, paced
# like a real 115200 bit/s line so the progress bar has something to show.
# Exit 0 only when the CLI reports the image sent AND the simulator's checks pass.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
. scripts/lib/stbsim.sh

if [[ -z ${DEMO_SKIP_BUILD:-} ]]; then
  scripts/setup.sh
  scripts/build.sh
fi

BUILD=${MARBRIX_BUILD_DIR:-$ROOT/build}
CLI=$BUILD/cli/marbrix-cli
SIM=$BUILD/sim/stbsim
BAUD=${DEMO_BAUD:-115200}
PAYLOAD_KIB=${DEMO_PAYLOAD_KIB:-64}

WORK=$(mktemp -d /tmp/marbrix-demo.XXXXXX)
cleanup() {
  stbsim_stop
  rm -rf "$WORK"
}
trap cleanup EXIT

echo "== making a sample image (${PAYLOAD_KIB} KiB payload)"
head -c $((PAYLOAD_KIB * 1024)) /dev/urandom >"$WORK/payload.bin"
"$CLI" pack --version 1.2 --service-word 0A0B0C0D --mask-key 5A "$WORK/payload.bin" -o "$WORK/sample.dat"
"$CLI" inspect "$WORK/sample.dat"

echo "== starting stbsim (image mode, paced at $BAUD bit/s)"
if ! stbsim_start "$WORK/sim.log" "$SIM" --mode image --expect "$WORK/sample.dat" --pace "$BAUD" --timeout 120; then
  echo "demo: stbsim did not start" >&2
  cat "$WORK/sim.log" >&2
  exit 1
fi
PTY=$STBSIM_PTY
echo "   simulated box on $PTY"

echo "== marbrix-cli -p $PTY -b $BAUD sample.dat"
cli_rc=0
timeout 150 "$CLI" -p "$PTY" -b "$BAUD" --timeout 120 "$WORK/sample.dat" || cli_rc=$?

sim_rc=0
for _ in $(seq 1 300); do
  kill -0 "$STBSIM_PID" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$STBSIM_PID" 2>/dev/null; then
  kill "$STBSIM_PID" 2>/dev/null || true
  sim_rc=124
fi
wait "$STBSIM_PID" 2>/dev/null || sim_rc=$?
STBSIM_PID=""

echo "== the simulator's verdict"
cat "$WORK/sim.log"
echo
echo "marbrix-cli exit code: $cli_rc, stbsim exit code: $sim_rc"
if [[ $cli_rc -eq 0 && $sim_rc -eq 0 ]] && grep -q '^stbsim: PASS' "$WORK/sim.log"; then
  echo "demo: OK"
  exit 0
fi
echo "demo: FAILED" >&2
exit 1
