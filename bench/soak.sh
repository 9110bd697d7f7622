#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Fault soak: many downloads from marbrix-cli into stbsim over ptys, paced
# like a 115200 bit/s line, each with a fault the box plays, and a table of
# how every run ended. This prints figures; it is not a test.
#
#   bench/soak.sh [BUILD_DIR] [SCALE] [JOBS]
#
# SCALE multiplies the run counts (1: 1075 image runs and 40 served runs,
# about 11 minutes on 2 cores with JOBS=8; the runs mostly wait on their
# paced lines). Every run draws its fault point, sizes and seeds from its
# own number, so a run can be repeated:
#   bench/soak.sh --one CONDITION NUMBER [BUILD_DIR]
#
# Columns, per condition:
#   runs       downloads started
#   sent OK    the CLI said "Velto file send OK!" (served: the box got every
#              byte it asked for) and the box's copy is identical. A box that
#              reboots, or a CLI that was stopped for a while, may well end
#              here: the box then ran the whole download (again) and holds it
#   failed     the CLI ended with a failure line (Send File Failed!!, Serial
#              port lost!, User break off) and exit 3 or 5
#   other      ended in any other way (should stay 0; the run's folder is kept)
#   corrupt    the box ended with a whole image that differs from the file,
#              or served bytes that differ (must be 0)
#   false OK   the CLI said sent, but the box does not hold the image, or had
#              not passed it 15 s after the CLI ended (must be 0)
#   hangs      the CLI did not end within its bound, or more than 1 s after
#              its stop request (--timeout) or after the box went away (must be 0)
set -euo pipefail
source "$(dirname "$0")/bench_common.sh"
ROOT=$PWD

# condition  runs-at-scale-1  what the box does
CONDITIONS=(
  "ber-1e-5      120  bit errors at 1e-5 on every byte the box receives"
  "ber-1e-4      120  bit errors at 1e-4 on every byte the box receives"
  "nak-storm     100  one random block NAKed 1 to 7 times (5 or more fail it)"
  "can-block      80  CAN in answer to a random block"
  "junk          100  console chatter before every frame and junk before the first 'C'"
  "line-lost      80  the box hangs up its line when a random block arrives"
  "silent         15  no answer to a random block (each run waits out 20 s)"
  "dup-ack       120  an extra ACK behind the answer to the block before a random block, which is then NAKed once"
  "reboot-block   80  the box reboots when a random block arrives and runs the download again"
  "reboot-open    60  the box reboots instead of sending the 'C' that opens the batch"
  "reboot-close   60  the box reboots instead of sending the 'C' that asks for the closing block 0"
  "pause          60  the box holds a random block 2 to 12 s, then sends its time-out NAKs and the ACK at once"
  "cli-stop       80  the CLI is stopped (SIGSTOP) once or twice at random points for 2 to 8 s, then continued"
  "served         40  served download: shuffled chunks, requests at and past the end, time requests"
)
CLI_TIMEOUT=45  # the stop request of every image run
HARD_BOUND=48   # killed after this: a hang

# One run: sets REPORT to "condition outcome seconds".
one_run() {
  local cond=$1 n=$2 build=$3
  local cli=$build/cli/marbrix-cli sim=$build/sim/stbsim
  local dir=$WORK/$cond-$n
  mkdir -p "$dir"
  RANDOM=$((n * 7919 + ${#cond} * 104729))
  local kib=$((1 + RANDOM % 16)) blocks
  blocks=$(((kib * 1024 + 1023) / 1024))
  local k=$((1 + RANDOM % blocks))
  local simargs=(--pace 115200 --timeout 90 --seed "$((n + 1))" --out "$dir/box.bin")
  local file
  case $cond in
    ber-1e-5) simargs+=(--ber 1e-5) ;;
    ber-1e-4) simargs+=(--ber 1e-4) ;;
    nak-storm) simargs+=(--nak-block "$k:$((1 + RANDOM % 7))") ;;
    can-block) simargs+=(--can-block "$k") ;;
    junk) simargs+=(--junk-before-stx "$((1 + RANDOM % 200))" --junk-before-c "$((RANDOM % 50))") ;;
    line-lost) simargs+=(--hang-up-block "$k") ;;
    silent) simargs+=(--silent-block "$k") ;;
    dup-ack) simargs+=(--dup-ack-block "$k") ;;
    reboot-block) simargs+=(--restart-block "$k") ;;
    reboot-open) simargs+=(--restart-at-c open) ;;
    reboot-close) simargs+=(--restart-at-c close) ;;
    pause) simargs+=(--pause-block "$k:$((2 + RANDOM % 11))") ;;
  esac
  if [[ $cond == served ]]; then
    file=$dir/app.bin
    head -c $((20 * 1024 + RANDOM * 3)) /dev/urandom >"$file"
    simargs+=(--mode served --expect "$file" --chunk "$((512 + RANDOM % 8192))" --shuffle="$n"
              --edge-every 3 --time-every 4)
  else
    file=$dir/img.dat
    head -c $((kib * 1024 - RANDOM % 1000)) /dev/urandom >"$dir/payload"
    "$cli" pack --version 1.0 --service-word 0A0B0C0D "$dir/payload" -o "$file" >/dev/null
    simargs+=(--mode image --expect "$file")
  fi

  "$sim" "${simargs[@]}" >"$dir/sim.log" 2>&1 &
  local simpid=$! pty=""
  for _ in $(seq 1 100); do
    # The log may not exist yet: stbsim's redirection is made in the background.
    pty=$(sed -n 's/^stbsim: pty //p' "$dir/sim.log" 2>/dev/null | head -n 1 || true)
    [[ -n $pty ]] && break
    sleep 0.05
  done
  if [[ -z $pty ]]; then
    kill "$simpid" 2>/dev/null || true
    REPORT="$cond other 0"
    return
  fi

  local t0 t1 rc=0 simrc=0 simend=""
  t0=$(date +%s.%N)
  local cliargs=(-p "$pty" "$file")
  [[ $cond == served ]] || cliargs+=(--timeout "$CLI_TIMEOUT")
  timeout -s KILL "$HARD_BOUND" "$cli" "${cliargs[@]}" >"$dir/box-output" 2>"$dir/cli.log" &
  local clipid=$! stopper=""
  if [[ $cond == cli-stop ]]; then
    # timeout runs the CLI in a process group of its own (led by timeout):
    # stopping the group stops the CLI and its hard bound alike. Every stop
    # is followed by its SIGCONT, whatever happens meanwhile.
    # One or two stops of 2 to 8 s, each after a stretch of running drawn
    # from about the time the download takes (the handshake, then some
    # 90 ms a KiB), so that they land anywhere from the handshake to the end.
    local plan="" stops=$((1 + RANDOM % 2)) i
    for ((i = 0; i < stops; i++)); do
      plan+=" $((50 + RANDOM % (300 + kib * 100))) $((2000 + RANDOM % 6001))"
    done
    (
      set -- $plan
      while [[ $# -ge 2 ]]; do
        sleep "$(awk -v m="$1" 'BEGIN{print m / 1000}')"
        kill -0 "$clipid" 2>/dev/null || exit 0
        kill -STOP -- "-$clipid" 2>/dev/null || exit 0
        echo "stopped $2 ms" >>"$dir/stops"
        sleep "$(awk -v m="$2" 'BEGIN{print m / 1000}')"
        kill -CONT -- "-$clipid" 2>/dev/null || true
        shift 2
      done
    ) &
    stopper=$!
  fi
  if [[ $cond == served ]]; then
    # A served download has no end of its own: once the box has checked
    # everything it asked for, the operator stops the CLI (if the box's
    # going away has not ended it already).
    wait "$simpid" || simrc=$?
    simend=$(date +%s.%N)
    kill -INT "$clipid" 2>/dev/null || true
  fi
  wait "$clipid" || rc=$?
  t1=$(date +%s.%N)
  [[ -z $stopper ]] || wait "$stopper" || true
  if [[ $cond != served ]]; then
    # A box that got the image has checked it within a second of the CLI's
    # end; one still waiting for an answer is not going to get it.
    local waited=0
    while kill -0 "$simpid" 2>/dev/null && [[ $waited -lt 150 ]]; do
      sleep 0.1
      waited=$((waited + 1))
    done
    kill -TERM "$simpid" 2>/dev/null || true
    wait "$simpid" || simrc=$?
  fi

  local secs outcome
  secs=$(awk -v a="$t0" -v b="$t1" 'BEGIN{printf "%.2f", b - a}')
  local log=$dir/cli.log
  if [[ $cond == served ]]; then
    local late
    late=$(awk -v a="$simend" -v b="$t1" 'BEGIN{print (b - a > 1.0) ? 1 : 0}')
    if [[ $rc -eq 137 || $late -eq 1 ]]; then
      outcome=hang
    elif [[ -f $dir/box.bin ]] && ! cmp -s "$dir/box.bin" "$file"; then
      outcome=corrupt
    elif [[ $simrc -eq 0 ]] && cmp -s "$dir/box.bin" "$file" && [[ $rc -eq 0 || $rc -eq 3 ]]; then
      outcome=ok
    else
      outcome=other
    fi
  else
    local whole=0 identical=0
    if [[ -f $dir/box.bin ]]; then
      whole=1
      # The image as the box must hold it: the payload padded with 0xFF.
      local padded=$dir/padded
      cp "$dir/payload" "$padded"
      local size pad
      size=$(stat -c %s "$padded")
      pad=$(((size + 1023) / 1024 * 1024 - size))
      head -c "$pad" /dev/zero | tr '\0' '\377' >>"$padded"
      cmp -s "$dir/box.bin" "$padded" && identical=1
    fi
    local over
    over=$(awk -v s="$secs" -v b="$((CLI_TIMEOUT + 1))" 'BEGIN{print (s > b) ? 1 : 0}')
    if [[ $rc -eq 137 || $over -eq 1 ]]; then
      outcome=hang
    elif [[ $whole -eq 1 && $identical -eq 0 ]]; then
      outcome=corrupt
    elif [[ $rc -eq 0 || $(grep -c "Velto file send OK!" "$log") -gt 0 ]]; then
      # Sent only counts when the box passed the very image it holds.
      if [[ $rc -eq 0 && $identical -eq 1 && $simrc -eq 0 ]] && grep -q "Velto file send OK!" "$log"; then
        outcome=ok
      else
        outcome=false-ok
      fi
    elif [[ ($rc -eq 3 && $(grep -c "Serial port lost! Abort Download" "$log") -gt 0) ||
            ($rc -eq 5 && $(grep -c "User break off" "$log") -gt 0) ]]; then
      outcome=failed
    else
      outcome=other
    fi
  fi
  REPORT="$cond $outcome $secs"
  if [[ -z ${KEEP:-} && ($outcome == ok || $outcome == failed) ]]; then rm -rf "$dir"; fi
}

if [[ ${1:-} == --one ]]; then
  WORK=$(mktemp -d /tmp/marbrix-soak.XXXXXX)
  KEEP=1
  one_run "$2" "$3" "${4:-build}"
  echo "$REPORT"
  echo "files in $WORK"
  exit 0
fi
if [[ ${1:-} == __run ]]; then
  # Every run reports, also one that breaks down on the way (its folder is
  # then kept for a look).
  REPORT=""
  # The trap may run inside one_run, where $2 is no longer the condition.
  RUN_COND=$2
  trap 'echo "${REPORT:-$RUN_COND other 0}"' EXIT
  one_run "$2" "$3" "$4"
  exit 0
fi

bench_programs soak "${1:-build}"
SCALE=${2:-1}
JOBS=${3:-4}
export WORK
WORK=$(mktemp -d /tmp/marbrix-soak.XXXXXX)
RESULTS=$WORK/results
: >"$RESULTS"

echo "fault soak: marbrix-cli -> stbsim over ptys, paced at 115200 bit/s, images of 1..16 KiB"
echo "started $(date -u '+%Y-%m-%d %H:%M UTC'), scale $SCALE, $JOBS runs at a time, work in $WORK"
start=$(date +%s)
for c in "${CONDITIONS[@]}"; do
  read -r cond count _ <<<"$c"
  count=$(awk -v c="$count" -v s="$SCALE" 'BEGIN{n = int(c * s + 0.5); print n < 1 ? 1 : n}')
  echo "  $cond: $count runs" >&2
  # A run that breaks down is counted by its missing line, never ends the soak.
  seq 1 "$count" | xargs -P "$JOBS" -I{} "$0" __run "$cond" {} "$BUILD" >>"$RESULTS" || true
done
elapsed=$(($(date +%s) - start))

echo
order=""
for c in "${CONDITIONS[@]}"; do order+="${c%% *} "; done
awk -v elapsed="$elapsed" -v order="$order" '
  BEGIN { conds = split(order, sequence, " ") }
  {
    runs[$1]++; n[$1 "," $2]++; t[$1] = t[$1] " " $3
  }
  function median(list,   a, k, i, j, x) {
    k = split(list, a, " ")
    for (i = 2; i <= k; i++) { x = a[i]; for (j = i - 1; j >= 1 && a[j] + 0 > x + 0; j--) a[j + 1] = a[j]; a[j + 1] = x }
    return k % 2 ? a[(k + 1) / 2] : (a[k / 2] + a[k / 2 + 1]) / 2
  }
  END {
    printf "| condition | runs | sent OK, identical | failed with a line | other | silent corruptions | false OKs | hangs | median s |\n"
    printf "|---|---|---|---|---|---|---|---|---|\n"
    for (i = 1; i <= conds; i++) {
      c = sequence[i]; if (!(c in runs)) continue
      printf "| %s | %d | %d | %d | %d | %d | %d | %d | %.1f |\n", c, runs[c], n[c ",ok"], n[c ",failed"], n[c ",other"], n[c ",corrupt"], n[c ",false-ok"], n[c ",hang"], median(t[c])
      R += runs[c]; if (c != "served") I += runs[c]
      O += n[c ",ok"]; F += n[c ",failed"]; X += n[c ",other"]; S += n[c ",corrupt"]; FO += n[c ",false-ok"]; H += n[c ",hang"]
    }
    printf "| all | %d | %d | %d | %d | %d | %d | %d | |\n", R, O, F, X, S, FO, H
    printf "\n%d image runs, %d runs in all, %d s\n", I, R, elapsed
    exit (S + FO + H > 0) ? 1 : 0
  }' "$RESULTS"
status=$?
if [[ $(grep -vc ' ok \| failed ' "$RESULTS" || true) -gt 0 ]]; then
  echo "runs kept for a look: $WORK"
else
  rm -rf "$WORK"
fi
exit $status
