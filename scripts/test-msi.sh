#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Tries the Windows installer under Wine, in a fresh prefix of its own inside
# the build tree: builds dist/marbrix-<version>-windows-x64.msi (through
# package-windows.sh) and, from the same files, the same package with a lower
# ProductVersion and a README marked as the older one; then
#   - the package's tables read back, it is per machine (ALLUSERS 1) and has
#     the PATH row;
#   - the lower version installs, this one replaces it: one product in
#     Add/Remove Programs, this version, this version's files;
#   - the installed marbrix-cli.exe prints this version, also as a bare
#     command in a new Command Prompt (the PATH entry);
#   - the Start-menu shortcuts point at marbrix.exe and marbrix-station.exe;
#   - the lower version over this one is refused and changes nothing;
#   - a silent uninstall leaves nothing named Marbrix in the prefix's files
#     or registry, and the PATH as it was.
# What Wine cannot show: the Start menu and Add/Remove Programs as a user
# sees them (the icon is in the tables only), a real group-policy
# deployment, and a per-machine shortcut in the machine's Start menu (Wine's
# msiexec puts it in the user's: either is accepted). No COM port is used.
#
# Environment: WIN_BUILD (default build-windows); MARBRIX_KEEP_WINE_PREFIX=1
# keeps the prefix for a look.
set -euo pipefail
cd "$(dirname "$0")/.."
SRC=$PWD

. scripts/lib/windows-msi.sh
. scripts/lib/wine-prefix.sh
scripts/need-packages.sh --for test-msi "${WINDOWS_MSI_PACKAGES[@]}" wine wine64 binutils

scripts/package-windows.sh >/dev/null
WIN_BUILD=$(realpath -m "${WIN_BUILD:-$SRC/build-windows}")
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$WIN_BUILD/CMakeCache.txt")
MSI=$SRC/dist/marbrix-$VERSION-windows-x64.msi
FILES=$WIN_BUILD/package/msi-files

T=$WIN_BUILD/wine-msi
# No menu entries written to the Linux desktop (winemenubuilder would put
# them in $HOME).
wine_prefix_fresh "$T" "winemenubuilder.exe=d"
stop_wine() {
  wine_stop
  wine_prefix_drop
}
trap stop_wine EXIT

# The older package: the same programs, a README that says which it is.
OLD_VERSION=0.9
mkdir -p "$T/old-files"
cp "$FILES"/* "$T/old-files/"
printf 'This is the older package.\r\n' >>"$T/old-files/README.txt"
windows_msi_build "$SRC" "$T/old-files" "$OLD_VERSION" "$T/old.msi"

failures=0
check() {  # DESCRIPTION COMMAND...: one line per check, the run goes on
  local what=$1
  shift
  if "$@"; then
    echo "test-msi: ok   $what"
  else
    echo "test-msi: FAIL $what" >&2
    failures=$((failures + 1))
  fi
}
# Wine programs get /dev/null for their input and a file for their output:
# the services the first one starts outlive it and would hold a pipe.
wine_out() {  # COMMAND...: runs it under Wine, output in $T/out, its status returned
  local rc=0
  wine "$@" </dev/null >"$T/out" 2>&1 || rc=$?
  tr -d '\r' <"$T/out" >"$T/out.txt"
  return $rc
}
ENV_KEY='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
# The machine's PATH, its empty entries dropped: Wine's msiexec removes an
# appended entry but leaves its ";" behind (Windows removes both), which
# changes nothing for a program looking a command up.
machine_path() {
  wine_out reg query "$ENV_KEY" /v PATH
  sed -n 's/^ *PATH *REG[A-Z_]* *//p' "$T/out.txt" | tr ';' '\n' | sed '/^$/d' | paste -sd ';'
}
# Add/Remove Programs' entries named Marbrix, as "DisplayVersion" lines.
arp_versions() {
  wine_out reg export 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' "$T/arp.reg" /y
  iconv -f UTF-16LE -t UTF-8 "$T/arp.reg" | tr -d '\r' >"$T/arp.txt"
  awk '/^\[/{name=0} /^"DisplayName"="Marbrix"/{name=1} name && /^"DisplayVersion"=/' "$T/arp.txt" |
    sed 's/^"DisplayVersion"="\(.*\)"$/\1/'
  return 0
}
DIR="$WINEPREFIX/drive_c/Program Files/Marbrix"

# The package itself.
(cd "$T" && msiinfo export "$MSI" Property) | tr -d '\r' >"$T/property.txt"
check "per-machine package (ALLUSERS 1)" grep -qx $'ALLUSERS\t1' "$T/property.txt"
check "Add/Remove Programs' icon" grep -qx $'ARPPRODUCTICON\tmarbrix.ico' "$T/property.txt"
(cd "$T" && msiinfo export "$MSI" Shortcut) | tr -d '\r' >"$T/shortcut.txt"
check "the shortcut's icon" grep -q $'\tmarbrix.ico\t' "$T/shortcut.txt"
check "ProductVersion $VERSION" grep -qx $'ProductVersion\t'"$VERSION" "$T/property.txt"
(cd "$T" && msiinfo export "$MSI" Environment) | tr -d '\r' >"$T/environment.txt"
check "the PATH row appends the folder" grep -qF $'=-*PATH\t[~];[INSTALLDIR]\tPathEntry' "$T/environment.txt"
echo "test-msi: $(basename "$MSI"): $(stat -c %s "$MSI") bytes"

wineboot -i </dev/null >/dev/null 2>&1
wineserver -w
wineserver -p 2>"$T/wineserver.log"
PATH_BEFORE=$(machine_path)
echo "test-msi: Wine prefix ready after ${SECONDS} s"

check "installs $OLD_VERSION silently" wine_out msiexec /i "$T/old.msi" /qn
# A bare command in a new Command Prompt, found through the PATH entry (the
# older package holds the same programs). Asked here, before the upgrade:
# Wine's cmd stops searching the PATH at an empty entry, and Wine's removal
# of the older version's entry leaves one (its ";").
wine_out cmd /c marbrix-cli --version || true
check "marbrix-cli in a new Command Prompt" grep -qx "marbrix-cli $VERSION" "$T/out.txt"
check "installs $VERSION silently over it" wine_out msiexec /i "$MSI" /qn
check "one Marbrix in Add/Remove Programs, version $VERSION" test "$(arp_versions)" = "$VERSION"
check "Add/Remove Programs: the publisher" \
  grep -qxF '"Publisher"="The Marbrix developers"' "$T/arp.txt"
check "Add/Remove Programs: the README as help link" \
  grep -qxF '"HelpLink"="C:\\Program Files\\Marbrix\\README.txt"' "$T/arp.txt"
check "the README is this version's" cmp -s "$DIR/README.txt" "$FILES/README.txt"
check "marbrix.exe, marbrix-station.exe and LICENSE.txt installed" \
  test -f "$DIR/marbrix.exe" -a -f "$DIR/marbrix-station.exe" -a -f "$DIR/LICENSE.txt"
wine_out 'C:\Program Files\Marbrix\marbrix-cli.exe' --version || true
check "the installed marbrix-cli.exe prints $VERSION" grep -qx "marbrix-cli $VERSION" "$T/out.txt"
PATH_AFTER=$(machine_path)
check "the machine's PATH keeps its entries and ends in the folder" \
  test "$PATH_AFTER" = "$PATH_BEFORE;C:\\Program Files\\Marbrix\\"
# start_menu_link NAME: the shortcut's path in the machine's or the user's
# Start menu, or /dev/null.
start_menu_link() {
  local menu lnk=/dev/null
  for menu in "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Marbrix" \
    "$WINEPREFIX"/drive_c/users/*/AppData/Roaming/Microsoft/Windows/Start\ Menu/Programs/Marbrix; do
    if [[ -f "$menu/$1" ]]; then lnk=$menu/$1; fi
  done
  echo "$lnk"
}
check "the Start menu's Marbrix.lnk points at marbrix.exe" \
  grep -qxF 'C:\Program Files\Marbrix\marbrix.exe' <(strings -a "$(start_menu_link Marbrix.lnk)")
check "the Start menu's \"Marbrix Station.lnk\" points at marbrix-station.exe" \
  grep -qxF 'C:\Program Files\Marbrix\marbrix-station.exe' <(strings -a "$(start_menu_link 'Marbrix Station.lnk')")

rc=0
wine_out msiexec /i "$T/old.msi" /qn || rc=$?
check "$OLD_VERSION over $VERSION is refused (exit $rc)" test "$rc" -ne 0
check "... and $VERSION stays" test "$(arp_versions)" = "$VERSION"
check "... with its files" cmp -s "$DIR/README.txt" "$FILES/README.txt"

check "uninstalls silently" wine_out msiexec /x "$MSI" /qn
check "the machine's PATH is as before" test "$(machine_path)" = "$PATH_BEFORE"
check "no Marbrix in Add/Remove Programs" test -z "$(arp_versions)"
# The registry reaches its files when the server stops.
wineserver -k
wineserver -w
find "$WINEPREFIX" -iname '*marbrix*' >"$T/left-files.txt"
check "no file or folder named Marbrix left in the prefix" test ! -s "$T/left-files.txt"
grep -il marbrix "$WINEPREFIX"/*.reg >"$T/left-registry.txt" || true
check "nothing named Marbrix left in the registry" test ! -s "$T/left-registry.txt"
cat "$T/left-files.txt" "$T/left-registry.txt" >&2

echo "test-msi: done in ${SECONDS} s, $failures failure(s)"
((failures == 0))
