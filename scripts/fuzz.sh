#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs one of the engine's libFuzzer targets for a number of minutes.
#
#   scripts/fuzz.sh --list              names the targets
#   scripts/fuzz.sh TARGET MINUTES      fuzzes TARGET; exits 1 on a finding
#
# The build (clang, ASan + UBSan + libFuzzer) goes to build-fuzz/. Each
# target starts from its committed seeds (tests/fuzz/corpus/TARGET) and
# grows a working corpus in build-fuzz/corpus/TARGET, kept between runs.
# A finding is saved as build-fuzz/findings/TARGET-crash-… (or -timeout-,
# -leak-); replay it with build/tests/fuzz/fuzz-replay-TARGET FILE, and add
# it to the committed seeds once it is mended.
set -euo pipefail
cd "$(dirname "$0")/.."

TARGETS=(session ymodem image_file)
describe() {
  case $1 in
    session) echo "a whole session (image and served mode) against arbitrary box bytes on the virtual line" ;;
    ymodem) echo "the YMODEM-1K sender against arbitrary reply streams" ;;
    image_file) echo "the image loader on arbitrary file contents" ;;
  esac
}

usage() {
  echo "usage: scripts/fuzz.sh --list | TARGET MINUTES" >&2
  exit 2
}

if [[ ${1:-} == --list ]]; then
  for t in "${TARGETS[@]}"; do printf '%-11s %s\n' "$t" "$(describe "$t")"; done
  exit 0
fi
[[ $# -eq 2 ]] || usage
target=$1 minutes=$2
[[ " ${TARGETS[*]} " == *" $target "* ]] || { echo "fuzz: no target '$target' (see --list)" >&2; exit 2; }
[[ $minutes =~ ^[0-9]+$ && $minutes -gt 0 ]] || { echo "fuzz: MINUTES must be a whole number above 0" >&2; exit 2; }

scripts/setup.sh clang libclang-rt-dev
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "fuzz-$target"

work=build-fuzz/corpus/$target
mkdir -p "$work" build-fuzz/findings
echo "fuzz: $target for $minutes min; corpus $work, findings in build-fuzz/findings/" >&2
# -timeout: one input is a few milliseconds of virtual time; seconds of real
# time mean the engine spins. -rss_limit_mb: the served file's answers are
# kept in memory for the check, a few MiB at most.
set +e
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  "build-fuzz/tests/fuzz/fuzz-$target" "$work" "tests/fuzz/corpus/$target" \
  -max_total_time=$((minutes * 60)) -timeout=20 -rss_limit_mb=2048 -max_len=4096 \
  -print_final_stats=1 -artifact_prefix="build-fuzz/findings/$target-" 2>&1 |
  tee "build-fuzz/$target.log" | grep -E --line-buffered '^#[0-9]+.*(pulse|DONE)|ERROR|rule broken|SUMMARY|stat::'
status=${PIPESTATUS[0]}
set -e
if [[ $status -ne 0 ]]; then
  echo "fuzz: $target FOUND A FAULT (exit $status); see build-fuzz/$target.log and build-fuzz/findings/" >&2
  exit 1
fi
execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "build-fuzz/$target.log" | tail -1)
echo "fuzz: $target ran $minutes min, ${execs:-?} inputs, no finding" >&2
