# SPDX-License-Identifier: MIT
# Sourced by the scripts that run the Windows programs under Wine, each in a
# throwaway prefix of its own:
#   . scripts/lib/wine-prefix.sh
#   wine_prefix_fresh DIR [OVERRIDE]   WINEPREFIX is DIR/prefix, DIR emptied
#   wine_stop                          ends the prefix's wineserver, and waits
#   wine_prefix_drop                   the prefix goes (unless kept, see below)
# MARBRIX_KEEP_WINE_PREFIX=1 keeps the prefix for a look after the run.

# Exports WINEPREFIX=DIR/prefix, a quiet Wine, and no Mono or Gecko
# installer prompts (OVERRIDE adds a DLL override of the caller's, such as
# "winemenubuilder.exe=d"); then DIR is made afresh.
wine_prefix_fresh() {  # DIR [OVERRIDE]
  local dir=$1
  export WINEPREFIX=$dir/prefix
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=${2:+;$2}"
  # A server left behind by an interrupted run must not outlive its prefix.
  if [[ -d $WINEPREFIX ]]; then wineserver -k 2>/dev/null || true; fi
  rm -rf "$dir"
  mkdir -p "$dir"
}

# For an EXIT trap: never fails, whatever state the server is in.
wine_stop() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}

wine_prefix_drop() {
  if [[ ${MARBRIX_KEEP_WINE_PREFIX:-0} != 1 ]]; then rm -rf "$WINEPREFIX"; fi
}
