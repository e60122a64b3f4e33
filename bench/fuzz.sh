#!/usr/bin/env bash
# The fuzz targets run long: SECONDS each (default 600), all targets or the
# ones named. See tests/fuzz/run.sh.
set -euo pipefail
seconds=${1:-600}
[ $# -gt 0 ] && shift
exec bash "$(dirname "${BASH_SOURCE[0]}")/../tests/fuzz/run.sh" "$seconds" "$@"
