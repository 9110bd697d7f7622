#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian package dist/marbrix_<version>_<arch>.deb: a release
# build with Debian's hardening flags, installed into a staging tree under
# /usr, its library dependencies computed by dpkg-shlibdeps.
#   scripts/package-deb.sh [BUILD_DIR]        (default: build-deb)
# Needs cmake, ninja-build, g++, the build's libraries and dpkg-dev
# (scripts/setup.sh installs them). Prints the package's path last.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath -m "${1:-build-deb}")
stage=$build/deb-root
mkdir -p dist

# Debian's compiler and linker flags (stack protector, fortify, relro, now).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S . -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=None \
  -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_CXX_FLAGS="$cflags" \
  -DCMAKE_C_FLAGS="$cflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
  -DMARBRIX_TESTS=OFF >/dev/null
cmake --build "$build" >&2  # stdout carries only the package's path

rm -rf "$stage"
DESTDIR=$stage cmake --install "$build" --strip >/dev/null
# The compiler's version notes are of no use in an installed program.
for b in "$stage"/usr/bin/*; do strip --remove-section=.comment "$b"; done

version=$("$stage/usr/bin/marbrix-cli" --version | awk '{print $2}')
arch=$(dpkg --print-architecture)
[[ -n $version ]] || { echo "package-deb: marbrix-cli printed no version" >&2; exit 1; }
doc=$stage/usr/share/doc/marbrix

# Debian's places for the licence and the history; manual pages compressed.
rm -f "$doc/LICENSE"
{
  echo "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"
  echo "Upstream-Name: marbrix"
  echo
  echo "Files: *"
  sed -n 's/^Copyright (c) /Copyright: /p' LICENSE
  echo "License: Expat"
  sed -n '/^Permission is hereby granted/,$p' LICENSE | sed 's/^$/./; s/^/ /'
} >"$doc/copyright"
{
  echo "marbrix ($version) unstable; urgency=medium"
  echo
  echo "  * Release $version, built from the source tree."
  echo
  echo " -- ${DEB_MAINTAINER:-Marbrix developers <marbrix@example.org>}  $(date -R -d @"${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}")"
} >"$doc/changelog"
gzip -9nf "$doc/changelog" "$stage"/usr/share/man/man1/*.1

# Dependencies from the programs' shared libraries. dpkg-shlibdeps wants a
# source package around it; a minimal one in a scratch folder will do.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/debian"
printf 'Source: marbrix\n\nPackage: marbrix\nArchitecture: any\n' >"$scratch/debian/control"
bins=()
for b in "$stage"/usr/bin/*; do bins+=("$b"); done
depends=$(cd "$scratch" && dpkg-shlibdeps -O "${bins[@]}" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
[[ -n $depends ]] || { echo "package-deb: dpkg-shlibdeps found no dependencies" >&2; exit 1; }

mkdir -p "$stage/DEBIAN"
cat >"$stage/DEBIAN/control" <<CONTROL
Package: marbrix
Version: $version
Architecture: $arch
Maintainer: ${DEB_MAINTAINER:-Marbrix developers <marbrix@example.org>}
Installed-Size: $(du -sk --exclude=DEBIAN "$stage" | cut -f1)
Depends: $depends
Section: electronics
Priority: optional
Description: send download files to a set-top box over a serial line
 Marbrix sends firmware images and data files from a PC to a set-top box
 over RS-232. The box leads the exchange; images go with YMODEM-1K, other
 files are served to the box on request.
 .
 This package holds the Qt operator console (marbrix), the command-line
 sender (marbrix-cli) and a simulated box for trying them out (stbsim).
CONTROL
(cd "$stage" && find usr -type f | LC_ALL=C sort | xargs md5sum) >"$stage/DEBIAN/md5sums"

deb=dist/marbrix_${version}_${arch}.deb
dpkg-deb --root-owner-group -Zxz --build "$stage" "$deb" >/dev/null
echo "$deb"
