#!/usr/bin/env bash
# vorel_demo_serve RUN_DIR PORT [POSTGRESQL_URI]: a fresh demo database in
# RUN_DIR/demo.db (or in the PostgreSQL database the URI names, replacing
# what it holds), served on 127.0.0.1:PORT as database DEMO until the calling
# script ends (log in RUN_DIR/server.log). Sourced after cmake/bootstrap.sh;
# with VOREL_DEMO_LOAD_BINARIES=1 the built binaries go into its TBINS first.
# The server's certificate, made afresh for 127.0.0.1 and localhost, is
# RUN_DIR/vorel-server.crt: clients trust it as their CA file.
vorel_demo_serve() {
  local run_dir=$1 port=$2 bin_dir="$VOREL_BUILD_DIR/bin" db
  if [ -n "${3:-}" ]; then
    db=$3
    "$bin_dir/vorel-server" init --pg "$db" --demo --force
  else
    db="$run_dir/demo.db"
    "$bin_dir/vorel-server" init "$db" --demo --force
  fi
  if [ "${VOREL_DEMO_LOAD_BINARIES:-0}" = 1 ]; then
    # The built binaries go into TBINS the way a deployment puts them there,
    # so a start finds everything current and a rebuilt binary reaches the
    # client.
    "$VOREL_SOURCE_DIR/demo/load-binaries.sh" "$db" "$bin_dir"
  fi
  "$bin_dir/vorel-server" certificate --out "$run_dir" --name 127.0.0.1 --name localhost --force
  "$bin_dir/vorel-server" serve --db "DEMO=$db" --listen "127.0.0.1:$port" \
    --tls-cert "$run_dir/vorel-server.crt" --tls-key "$run_dir/vorel-server.key" \
    >"$run_dir/server.log" 2>&1 &
  vorel_server_pid=$!
  trap 'kill "$vorel_server_pid" 2>/dev/null || true; wait "$vorel_server_pid" 2>/dev/null || true' EXIT

  for _ in $(seq 1 50); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then break; fi
    if ! kill -0 "$vorel_server_pid" 2>/dev/null; then
      echo "vorel-server did not start; see $run_dir/server.log" >&2
      exit 1
    fi
    sleep 0.2
  done
  # Something else already listening on the port would take the client's
  # connection: the demo's own server must still be running.
  sleep 0.3
  if ! kill -0 "$vorel_server_pid" 2>/dev/null; then
    echo "vorel-server did not start (is port $port taken?); see $run_dir/server.log" >&2
    exit 1
  fi
}
