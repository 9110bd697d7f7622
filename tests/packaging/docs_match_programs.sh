#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The installed documentation must keep up with the programs: every long
# option a program's --help names is in its manual page (and, for
# marbrix-cli, in the bash completion, with the same baud rates), every exit
# code marbrix-cli lists is in its manual page, and each program's --version
# is the project's version. The guide docs/cli.md must agree with
# marbrix-cli --help both ways: its table of options names exactly the
# options --help names, its table of exit codes exactly the codes.
#   docs_match_programs.sh SOURCE_DIR VERSION marbrix-cli=PATH stbsim=PATH [marbrix=PATH]
set -uo pipefail
src=$1
version=$2
shift 2
fail=0
problem() {
  echo "FAIL: $*"
  fail=1
}

# The manual page's words, with roff's escaped hyphens made plain.
page_text() { sed 's/\\-/-/g; s/\\f[BIRP]//g' "$src/packaging/man/$1.1"; }
long_options() { grep -o -- '--[a-z][a-z0-9-]*' | sort -u; }

for arg in "$@"; do
  name=${arg%%=*}
  exe=${arg#*=}
  help=$("$exe" --help) || problem "$name --help failed"
  page=$(page_text "$name")
  for opt in $(long_options <<<"$help"); do
    grep -q -- "$opt\b" <<<"$page" || problem "$name.1 lacks $opt"
  done
  if [[ $name != stbsim ]]; then
    got=$("$exe" --version)
    [[ $got == "$name $version" ]] || problem "$name --version says '$got', the project is $version"
  fi
done

cli=""
for arg in "$@"; do [[ ${arg%%=*} == marbrix-cli ]] && cli=${arg#*=}; done
if [[ -n $cli ]]; then
  help=$("$cli" --help)
  completion=$(cat "$src/packaging/marbrix-cli.bash-completion")
  for opt in $(long_options <<<"$help"); do
    grep -q -- "$opt\b" <<<"$completion" || problem "the completion lacks $opt"
  done
  rates=$(sed -n 's/.*one of: //p' <<<"$help")
  [[ -n $rates ]] || problem "marbrix-cli --help lists no rates"
  [[ $completion == *"rates='$rates'"* ]] || problem "the completion's rates are not '$rates'"
  page=$(page_text marbrix-cli)
  for rate in $rates; do
    grep -qw -- "$rate" <<<"$page" || problem "marbrix-cli.1 lacks the rate $rate"
  done
  status=$(sed -n '/^\.SH EXIT STATUS/,/^\.SH /p' <<<"$page")
  help_codes=$(sed -n '/^Exit codes:/,$s/^  \([0-9]\)  .*/\1/p' <<<"$help")
  for code in $help_codes; do
    grep -qx "\.B $code" <<<"$status" || problem "marbrix-cli.1 lacks exit code $code"
  done

  # The guide's tables, both ways: an option the program dropped must leave
  # the guide as surely as a new one must enter it.
  guide=$src/docs/cli.md
  first_cells() {  # the first column of the table under the heading "## $1"
    sed -n "/^## $1\$/,/^## /p" "$guide" | sed -n 's/^| *\([^|]*\)|.*/\1/p' | sed '1,2d'
  }
  options() { grep -oE -- '(^|[^-[:alnum:]])--?[[:alpha:]][[:alnum:]-]*' | grep -oE -- '--?[[:alpha:]][[:alnum:]-]*' | sort -u; }
  guide_opts=$(first_cells Options | options)
  help_opts=$(options <<<"$help")
  [[ -n $guide_opts ]] || problem "docs/cli.md has no table of options under '## Options'"
  for opt in $(comm -23 <(echo "$help_opts") <(echo "$guide_opts")); do
    problem "docs/cli.md's table of options lacks $opt"
  done
  for opt in $(comm -13 <(echo "$help_opts") <(echo "$guide_opts")); do
    problem "docs/cli.md's table of options names $opt, which marbrix-cli --help does not"
  done
  guide_codes=$(first_cells 'Exit codes' | tr -d ' ' | sort -u)
  help_codes=$(sort -u <<<"$help_codes")
  [[ $guide_codes == "$help_codes" ]] ||
    problem "docs/cli.md's exit codes are" $guide_codes "but marbrix-cli --help lists" $help_codes
fi

if ((fail)); then exit 1; fi
echo "the manual pages and the completion cover every option, rate and exit code"
