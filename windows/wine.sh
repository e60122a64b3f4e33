#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's own Wine prefix, quietly:
# what CTest puts before each test of the Windows build.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
if [ ! -d "$WINEPREFIX" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  wineboot --init >/dev/null 2>&1 || true
  wineserver -w
fi
exec wine "$@"
