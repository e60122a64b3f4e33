#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../cmake/bootstrap.sh"
cd "$VOREL_BUILD_DIR"
ctest --output-on-failure -j "$(nproc)" "$@"
