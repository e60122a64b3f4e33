#!/usr/bin/env bash
# Soak of the reference server at the protocol level:
#   bash bench/soak.sh [CLIENTS [SECONDS]]     (defaults: 100 clients, 600 s)
# Builds the server and the driver into ${VOREL_BUILD_DIR:-build}, starts the
# server on 127.0.0.1 with a fresh demo database, runs the driver and stops
# the server. Exits non-zero on any error or cross-session leak.
set -euo pipefail

clients=${1:-100}
seconds=${2:-600}
src=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VOREL_BUILD_DIR:-$src/build}

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake -S "$src" -B "$build" -DVOREL_BENCH=ON >/dev/null
cmake --build "$build" --target vorel-server soak_driver >/dev/null

work=$(mktemp -d)
server_pid=""
cleanup() {
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

"$build/bin/vorel-server" init "$work/soak.db" --demo
"$build/bin/vorel-server" serve --db "DEMO=$work/soak.db" --listen 127.0.0.1:0 \
  --max-sessions $((clients + 16)) --metrics 127.0.0.1:0 >"$work/out" 2>"$work/log" &
server_pid=$!

port=""
for _ in $(seq 1 300); do
  port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/out")
  [ -n "$port" ] && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "soak: the server did not start" >&2
  cat "$work/log" >&2
  exit 1
fi

rc=0
# init made the server's certificate beside the database; the clients
# verify it against itself.
export VOREL_CA_FILE="$work/vorel-server.crt"
timeout $((seconds + 180)) "$build/bench/soak_driver" "$clients" "$seconds" "$port" "$server_pid" &
driver_pid=$!
# Halfway, an online backup of the database the clients are writing to: it
# must finish, pass its check and open with the rows of the demo in it.
sleep $((seconds / 2))
if "$build/bin/vorel-server" backup "$work/soak.db" "$work/copy.db" >"$work/backup" 2>&1; then
  echo "soak: backup halfway: $(cat "$work/backup")"
  echo "soak: the copy's tables and rows: $(python3 - "$work/copy.db" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
tables = [r[0] for r in db.execute("SELECT name FROM sqlite_master WHERE type = 'table'")]
print(len(tables), sum(db.execute(f'SELECT count(*) FROM "{t}"').fetchone()[0] for t in tables),
      db.execute("PRAGMA integrity_check").fetchone()[0])
PY
)"
else
  echo "soak: the backup failed: $(cat "$work/backup")" >&2
  rc=1
fi
# The server's figures, scraped as a monitoring system would, halfway.
metrics=$(sed -n 's|^metrics on \(.*\)$|\1|p' "$work/out")
python3 - "$metrics" <<'PY' || rc=1
import sys, urllib.request
text = urllib.request.urlopen(sys.argv[1], timeout=10).read().decode()
values = {l.rsplit(" ", 1)[0]: float(l.rsplit(" ", 1)[1]) for l in text.splitlines() if l and not l.startswith("#")}
for name in ("vorel_sessions", 'vorel_requests_total{kind="call"}', 'vorel_requests_total{kind="open"}',
             'vorel_requests_total{kind="fetch"}', "vorel_rows_sent_total", "vorel_errors_total",
             "vorel_open_cursors", "vorel_write_lock_wait_seconds_total"):
    shown = {k: v for k, v in values.items() if k == name or k.startswith(name + "{")}
    for k, v in sorted(shown.items()):
        print(f"soak: metrics: {k} {v:g}")
if values.get("vorel_sessions", 0) < 1 or values.get('vorel_requests_total{kind="call"}', 0) < 1:
    sys.exit("soak: the metrics do not show the clients at work")
PY
wait "$driver_pid" || rc=$?
if ! kill -0 "$server_pid" 2>/dev/null; then
  echo "soak: the server is gone" >&2
  rc=1
fi
echo "soak: server log lines: $(wc -l <"$work/log")"
exit "$rc"
