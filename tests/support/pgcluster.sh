#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for the tests and benchmarks, in a folder
# of its own, on a free port of 127.0.0.1, run by an unprivileged user.
#
#   pgcluster.sh start DIR   prints the cluster's connection URI (also in DIR/uri)
#   pgcluster.sh restart DIR stops it and starts it again on the same port
#   pgcluster.sh stop DIR    stops it and removes DIR
set -euo pipefail

pg_bin() {
  local d
  for d in /usr/lib/postgresql/*/bin; do
    [ -x "$d/initdb" ] && { echo "$d"; return 0; }
  done
  return 1
}

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# PostgreSQL refuses to run as root: the cluster then belongs to nobody.
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u nobody -- "$@"
  else
    "$@"
  fi
}

cmd=${1:-}
dir=${2:-}
[ -n "$cmd" ] && [ -n "$dir" ] || { echo "usage: $0 start|stop DIR" >&2; exit 2; }

case "$cmd" in
start)
  bin=$(pg_bin) || { echo "PostgreSQL's server programs are not installed" >&2; exit 1; }
  mkdir -p "$dir"
  [ "$(id -u)" -eq 0 ] && chown nobody "$dir"
  as_owner "$bin/initdb" -D "$dir/data" -U vorel --auth=trust -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 \
    || { cat "$dir/initdb.log" >&2; exit 1; }
  port=$(free_port)
  # fsync off: the cluster lives as long as one test run. Each session holds a
  # connection, and the director test logs 300 in while other tests run beside it.
  as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/data/server.log" -w -t 60 \
    -o "-p $port -k $dir -c listen_addresses=127.0.0.1 -c fsync=off -c synchronous_commit=off -c full_page_writes=off -c max_connections=1000" \
    start >/dev/null || { cat "$dir/data/server.log" >&2; exit 1; }
  echo "postgresql://vorel@127.0.0.1:$port/postgres" | tee "$dir/uri"
  ;;
restart)
  bin=$(pg_bin) || { echo "PostgreSQL's server programs are not installed" >&2; exit 1; }
  # "fast": the connections are cut, as when PostgreSQL is restarted for real.
  as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/data/server.log" -m fast -w -t 60 restart >/dev/null \
    || { cat "$dir/data/server.log" >&2; exit 1; }
  ;;
stop)
  if bin=$(pg_bin) && [ -d "$dir/data" ]; then
    as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$dir"
  ;;
*)
  echo "usage: $0 start|restart|stop DIR" >&2; exit 2 ;;
esac
