# SPDX-License-Identifier: MIT
# Sourced by the scripts that put the simulated box on a pty of its own:
#   . scripts/lib/stbsim.sh
#   stbsim_start LOG STBSIM ARGS...   sets STBSIM_PID and STBSIM_PTY
#   stbsim_stop                       in the script's EXIT trap
# The pty is the one stbsim names in its log ("stbsim: pty PATH") once it has
# made it; nothing else in the log is read here.

STBSIM_PID=""
STBSIM_PTY=""

# Starts STBSIM with ARGS in the background, everything it writes in LOG, and
# waits up to 10 s for its pty (less when it ends first). Fails when it named
# none: the caller says so and shows LOG.
stbsim_start() {  # LOG STBSIM ARGS...
  local log=$1
  shift
  : >"$log"  # there before the first look: the background start makes it late
  "$@" >"$log" 2>&1 &
  STBSIM_PID=$!
  STBSIM_PTY=""
  for _ in $(seq 1 100); do
    STBSIM_PTY=$(sed -n 's/^stbsim: pty //p' "$log" | head -n 1)
    [[ -n $STBSIM_PTY ]] && return 0
    kill -0 "$STBSIM_PID" 2>/dev/null || break
    sleep 0.1
  done
  return 1
}

# Ends a simulator still running (one that has ended is left alone).
stbsim_stop() {
  if [[ -n $STBSIM_PID ]] && kill -0 "$STBSIM_PID" 2>/dev/null; then kill "$STBSIM_PID" 2>/dev/null || true; fi
}
