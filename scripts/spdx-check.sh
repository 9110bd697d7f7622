#!/usr/bin/env bash
# Lists the project's source files that lack the licence line
# "SPDX-License-Identifier: MIT" in their first lines, and fails if any do.
#   scripts/spdx-check.sh          list them (exit 1 if there are any)
#   scripts/spdx-check.sh --fix    add the line where it is missing: first
#                                  line, or after a script's #! line
# Source files: C++ (.cpp .h .c .hpp), shell (.sh, the CI entry point),
# CMake (CMakeLists.txt, .cmake), manual pages (.1), the bash completion and
# the desktop entry. Other files (README, pictures, JSON) carry none.
set -euo pipefail
cd "$(dirname "$0")/.."
fix=0
[[ ${1:-} == --fix ]] && fix=1

if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files --cached --others --exclude-standard)
else
  mapfile -t files < <(find . -path ./.git -prune -o -path './build*' -prune -o -path ./dist -prune \
    -o -type f -print | sed 's|^\./||')
fi

comment_for() {  # the line to put in FILE, empty for files that take none
  case $1 in
    *.cpp | *.h | *.c | *.hpp) echo '// SPDX-License-Identifier: MIT' ;;
    *.sh | .ci/run | */CMakeLists.txt | CMakeLists.txt | *.cmake | *.bash-completion | *.desktop)
      echo '# SPDX-License-Identifier: MIT' ;;
    *.1) echo '.\" SPDX-License-Identifier: MIT' ;;
    *) ;;
  esac
}

lacking=0
for f in "${files[@]}"; do
  [[ -f $f ]] || continue
  line=$(comment_for "$f")
  [[ -n $line ]] || continue
  head -n 3 "$f" | grep -q 'SPDX-License-Identifier:' && continue
  if ((fix)); then
    tmp=$(mktemp)
    if head -n 1 "$f" | grep -q '^#!'; then
      { head -n 1 "$f"; printf '%s\n' "$line"; tail -n +2 "$f"; } >"$tmp"
    else
      { printf '%s\n' "$line"; cat "$f"; } >"$tmp"
    fi
    cat "$tmp" >"$f"  # in place, so the file keeps its mode
    rm -f "$tmp"
    echo "spdx: added to $f"
  else
    echo "$f"
    lacking=$((lacking + 1))
  fi
done
if ((lacking)); then
  echo "spdx-check: $lacking file(s) above lack 'SPDX-License-Identifier: MIT' (scripts/spdx-check.sh --fix adds it)" >&2
  exit 1
fi
