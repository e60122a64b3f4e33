#!/usr/bin/env bash
# Installs what the build needs (Debian 12), then configures and builds
# incrementally into ${VOREL_BUILD_DIR:-build}. Sourced by demo/run.sh and
# tests/run.sh.
set -euo pipefail

VOREL_SOURCE_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VOREL_BUILD_DIR=${VOREL_BUILD_DIR:-$VOREL_SOURCE_DIR/build}

vorel_packages=(cmake g++ ninja-build ccache pkg-config libssl-dev
  qt6-base-dev qt6-base-dev-tools qt6-translations-l10n libgl-dev
  libsqlite3-dev sqlite3 xvfb xauth fonts-dejavu-core python3)

vorel_install_packages() {
  local missing=()
  for p in "${vorel_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
      echo "These Debian packages are missing: ${missing[*]}" >&2
      echo "Install them as root (apt-get install ${missing[*]}) or install sudo, then run again." >&2
      exit 1
    fi
    sudo="sudo"
  fi
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

vorel_build() {
  if [ ! -f "$VOREL_BUILD_DIR/build.ninja" ]; then
    cmake -S "$VOREL_SOURCE_DIR" -B "$VOREL_BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
  fi
  cmake --build "$VOREL_BUILD_DIR" -j "$(nproc)"
}

vorel_install_packages
vorel_build
