# SPDX-License-Identifier: MIT
# Sourced by the scripts that cross-build the Windows programs:
#   . scripts/lib/windows-build.sh
#   scripts/need-packages.sh --for NAME "${WINDOWS_BUILD_PACKAGES[@]}" MORE...
#   windows_build_configure SRC       sets WIN_BUILD and configures it

# What the cross-build needs: mingw-w64 for the programs, and the build
# machine's compiler for the tool that draws the icon.
WINDOWS_BUILD_PACKAGES=(cmake ninja-build g++ libgtest-dev g++-mingw-w64-x86-64-posix)

# WIN_BUILD (default SRC/build-windows, the windows preset's folder) as an
# absolute path, configured: through the preset in its own folder, with the
# preset's settings elsewhere.
windows_build_configure() {  # SRC
  local src=$1
  WIN_BUILD=$(realpath -m "${WIN_BUILD:-$src/build-windows}")
  if [[ $WIN_BUILD == "$src/build-windows" ]]; then
    cmake --preset windows >/dev/null
  else
    cmake -S "$src" -B "$WIN_BUILD" -G Ninja --toolchain "$src/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DMARBRIX_CONSOLE=ON >/dev/null
  fi
}
