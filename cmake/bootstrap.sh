#!/usr/bin/env bash
# Installs what the build needs (Debian 12), then configures and builds
# incrementally into ${VOREL_BUILD_DIR:-build}. Sourced by demo/run.sh and
# tests/run.sh.
set -euo pipefail

VOREL_SOURCE_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$VOREL_SOURCE_DIR/cmake/packages.sh"
VOREL_BUILD_DIR=${VOREL_BUILD_DIR:-$VOREL_SOURCE_DIR/build}

vorel_packages=(cmake g++ ninja-build ccache pkg-config libssl-dev
  qt6-base-dev qt6-base-private-dev qt6-base-dev-tools qt6-translations-l10n libgl-dev
  libsqlite3-dev sqlite3 libpq-dev xvfb xauth fonts-dejavu-core python3 librsvg2-bin)

vorel_build() {
  if [ ! -f "$VOREL_BUILD_DIR/build.ninja" ]; then
    cmake -S "$VOREL_SOURCE_DIR" -B "$VOREL_BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
  fi
  cmake --build "$VOREL_BUILD_DIR" -j "$(nproc)"
}

vorel_install_packages "${vorel_packages[@]}"
vorel_build
