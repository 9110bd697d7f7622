#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds dist/marbrix-<version>-windows-x64.zip: the statically linked
# marbrix-cli.exe, marbrix.exe (the operator console), marbrix-station.exe
# (many boxes in one window) and a short text on their use. Cross-built
# with the windows preset (mingw-w64); installs the compilers (mingw-w64,
# and the build machine's for the icon) and zip when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
SRC=$PWD

. scripts/lib/windows-build.sh
scripts/need-packages.sh --for package-windows "${WINDOWS_BUILD_PACKAGES[@]}" zip

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
rm -f "dist/$NAME.zip"
(cd "$WIN_BUILD/package" && zip -q -X -r "$SRC/dist/$NAME.zip" "$NAME")
echo "dist/$NAME.zip"
unzip -l "dist/$NAME.zip"
