#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds dist/marbrix-<version>-windows-x64.zip and, from the same files,
# dist/marbrix-<version>-windows-x64.msi: the statically linked
# marbrix-cli.exe, marbrix.exe (the operator console), marbrix-station.exe
# (many boxes in one window), a short text on their use and the licence. The
# zip is for running without an installation; the MSI installs per machine
# into C:\Program Files\Marbrix with Start-menu entries and the folder on
# the PATH (packaging/windows/marbrix.wxs). Cross-built with the windows
# preset (mingw-w64); installs the compilers (mingw-w64, and the build
# machine's for the icon), zip, wixl and msitools when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
SRC=$PWD

. scripts/lib/windows-build.sh
. scripts/lib/windows-msi.sh
scripts/need-packages.sh --for package-windows "${WINDOWS_BUILD_PACKAGES[@]}" zip "${WINDOWS_MSI_PACKAGES[@]}"

windows_build_configure "$SRC"
nice cmake --build "$WIN_BUILD" -j2 --target marbrix-cli marbrix marbrix-station

VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$WIN_BUILD/CMakeCache.txt")
NAME=marbrix-$VERSION-windows-x64
STAGE=$WIN_BUILD/package/$NAME
rm -rf "$WIN_BUILD/package"
mkdir -p "$STAGE" dist
cp "$WIN_BUILD/cli/marbrix-cli.exe" "$WIN_BUILD/console/marbrix.exe" "$WIN_BUILD/cli/marbrix-station.exe" \
  "$STAGE/"
x86_64-w64-mingw32-strip "$STAGE/marbrix-cli.exe" "$STAGE/marbrix.exe" "$STAGE/marbrix-station.exe"
# Windows line endings, so that Notepad shows the text as written.
sed 's/$/\r/' packaging/windows/README.txt >"$STAGE/README.txt"
sed 's/$/\r/' LICENSE >"$STAGE/LICENSE.txt"
rm -f "dist/$NAME.zip"
(cd "$WIN_BUILD/package" && zip -q -X -r "$SRC/dist/$NAME.zip" "$NAME")
echo "dist/$NAME.zip"
unzip -l "dist/$NAME.zip"

# The installer: the same files, and the icon for the Start menu and
# Add/Remove Programs.
MSI_FILES=$WIN_BUILD/package/msi-files
mkdir -p "$MSI_FILES"
cp "$STAGE"/* "$MSI_FILES/"
cp "$WIN_BUILD/console/win32/marbrix.ico" "$MSI_FILES/"
rm -f "dist/$NAME.msi"
windows_msi_build "$SRC" "$MSI_FILES" "$VERSION" "dist/$NAME.msi"
echo "dist/$NAME.msi ($(stat -c %s "dist/$NAME.msi") bytes)"
