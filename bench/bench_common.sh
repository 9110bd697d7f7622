# SPDX-License-Identifier: MIT
# Sourced by the benchmark scripts for what they all start with. Sourcing it
# moves to the top of the tree, so a relative build folder means the same
# from anywhere.
cd "$(dirname "${BASH_SOURCE[0]}")/.."

# bench_programs NAME [BUILD_DIR]: sets BUILD (absolute), CLI and SIM, and
# ends the script (exit 2) when either program is not built.
bench_programs() {
  local name=$1
  BUILD=$(realpath "${2:-build}")
  CLI=$BUILD/cli/marbrix-cli
  SIM=$BUILD/sim/stbsim
  local exe
  for exe in "$CLI" "$SIM"; do
    [[ -x $exe ]] || { echo "$name: $exe not built (scripts/build.sh)" >&2; exit 2; }
  done
}

# bench_workdir: WORK, a scratch folder removed when the script ends.
bench_workdir() {
  WORK=$(mktemp -d /tmp/marbrix-bench.XXXXXX)
  trap 'rm -rf "$WORK"' EXIT
}

# bench_image KIB VERSION SERVICE_WORD: a random payload of KIB KiB packed
# as $WORK/img.dat (the payload stays as $WORK/payload.bin).
bench_image() {
  head -c $(($1 * 1024)) /dev/urandom >"$WORK/payload.bin"
  "$CLI" pack --version "$2" --service-word "$3" "$WORK/payload.bin" -o "$WORK/img.dat" >/dev/null
}
