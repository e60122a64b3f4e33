#!/usr/bin/env bash
# Builds the Windows client into build-windows/ (bin/: the programs, their
# libraries and the run-time files; vorel-client-setup-<version>.exe: the
# setup program), with the Qt for Windows that windows/qt.sh makes or finds.
# The project's CMake build, cross-compiled with Debian's MinGW-w64.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

vorel_install_packages cmake ninja-build ccache qt6-base-dev qt6-base-dev-tools nsis \
  "${vorel_windows_compiler_packages[@]}"
qt=$(bash "$VOREL_SOURCE_DIR/windows/qt.sh")

if [ ! -f "$VOREL_WINDOWS_BUILD_DIR/build.ninja" ]; then
  "$qt/bin/qt-cmake" -S "$VOREL_SOURCE_DIR" -B "$VOREL_WINDOWS_BUILD_DIR" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release \
    -DQT_CHAINLOAD_TOOLCHAIN_FILE="$VOREL_SOURCE_DIR/windows/mingw.cmake" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$VOREL_SOURCE_DIR/windows/wine.sh"
fi
cmake --build "$VOREL_WINDOWS_BUILD_DIR" -j "$(nproc)"
