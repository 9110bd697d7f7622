#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Lists the project's C++ files whose layout differs from .clang-format,
# and fails if any do.
#   scripts/format-check.sh          list them (exit 1 if there are any)
#   scripts/format-check.sh --diff   the same, with what would change
#   scripts/format-check.sh --fix    format them in place
# The files: the tracked and new (not ignored) .cpp and .h files. The layout
# is clang-format 14's: another version lays some lines out differently, so
# the check refuses to judge with one (CLANG_FORMAT names another program).
set -euo pipefail
cd "$(dirname "$0")/.."
mode=list
case ${1:-} in
  --diff) mode=diff ;;
  --fix) mode=fix ;;
  "") ;;
  *) echo "usage: scripts/format-check.sh [--diff | --fix]" >&2; exit 2 ;;
esac

tool=${CLANG_FORMAT:-}
if [[ -z $tool ]]; then
  # CI runs this before anything else has installed packages.
  scripts/need-packages.sh --for format-check clang-format
  tool=clang-format-14
  command -v "$tool" >/dev/null || tool=clang-format
fi
if ! command -v "$tool" >/dev/null; then
  echo "format-check: $tool is not installed" >&2
  exit 2
fi
version=$("$tool" --version)
if [[ ! $version =~ version\ 14\. ]]; then
  echo "format-check: $tool is not clang-format 14 ($version); set CLANG_FORMAT to a clang-format 14" >&2
  exit 2
fi

if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files --cached --others --exclude-standard -- '*.cpp' '*.h')
else
  mapfile -t files < <(find . -path ./.git -prune -o -path './build*' -prune -o -path ./dist -prune \
    -o -type f \( -name '*.cpp' -o -name '*.h' \) -print | sed 's|^\./||')
fi
present=()
for f in "${files[@]}"; do
  [[ -f $f ]] && present+=("$f")
done
files=("${present[@]}")

# One run over every file: clang-format's dry run names each place that
# would change, and fails by itself only when it cannot read the layout.
((${#files[@]})) || exit 0
report=$(printf '%s\0' "${files[@]}" | xargs -0 "$tool" --style=file --dry-run 2>&1) || {
  printf '%s\n' "$report" >&2
  echo "format-check: $tool failed" >&2
  exit 2
}
mapfile -t differ < <(printf '%s\n' "$report" |
  sed -n 's/^\(.*\):[0-9]*:[0-9]*: warning: .*\[-Wclang-format-violations\]$/\1/p' | sort -u)

((${#differ[@]})) || exit 0
for f in "${differ[@]}"; do
  case $mode in
    list) echo "$f" ;;
    diff) "$tool" --style=file "$f" | diff -u --label "$f" --label "$f (formatted)" "$f" - || true ;;
    fix) "$tool" --style=file -i "$f" && echo "format: $f" ;;
  esac
done
if [[ $mode != fix ]]; then
  echo "format-check: ${#differ[@]} file(s) above differ from .clang-format" \
    "(scripts/format-check.sh --fix formats them; --diff shows how)" >&2
  exit 1
fi
