#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: each server test
# twice, on SQLite and on PostgreSQL (a throwaway cluster of its own, unless
# VOREL_TEST_PG already names one).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../cmake/bootstrap.sh"

pg_dir=""
stop_cluster() {
  [ -n "$pg_dir" ] && bash "$VOREL_SOURCE_DIR/tests/support/pgcluster.sh" stop "$pg_dir"
  return 0
}
if [ -z "${VOREL_TEST_PG:-}" ]; then
  if (vorel_install_packages postgresql-15 postgresql-15-orafce); then
    pg_dir=$(mktemp -u /tmp/vorel-pg.XXXXXX)
    trap stop_cluster EXIT
    VOREL_TEST_PG=$(bash "$VOREL_SOURCE_DIR/tests/support/pgcluster.sh" start "$pg_dir")
    export VOREL_TEST_PG
    # The cluster's folder, for the test that restarts it.
    export VOREL_TEST_PG_DIR="$pg_dir"
  else
    echo "PostgreSQL cannot be installed here: the tests' PostgreSQL half (*_pg) is skipped." >&2
  fi
fi

cd "$VOREL_BUILD_DIR"
ctest --output-on-failure -j "$(nproc)" "$@"
