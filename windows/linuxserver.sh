# The Linux vorel-server that the Windows client talks to in the tests under
# Wine. Sourced by windows/test.sh and windows/e2e.sh.
VOREL_BUILD_DIR=${VOREL_BUILD_DIR:-$VOREL_SOURCE_DIR/build}
vorel_server_pid=""

# The server and the version reader of this machine's build, built when
# missing (the whole build, as tests/run.sh makes it, when not configured).
vorel_linux_server_ready() {
  if [ ! -x "$VOREL_BUILD_DIR/bin/vorel-server" ] || [ ! -x "$VOREL_BUILD_DIR/bin/vorel-fileversion" ]; then
    if [ -f "$VOREL_BUILD_DIR/build.ninja" ]; then
      cmake --build "$VOREL_BUILD_DIR" -j "$(nproc)" --target vorel-server vorel-fileversion
    else
      (source "$VOREL_SOURCE_DIR/cmake/bootstrap.sh")
    fi
  fi
}

vorel_free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# vorel_start_server RUN_DIR PORT [--new-certificate] [--bins BIN_DIR]: the
# demo database RUN_DIR/demo.db (made once; with --bins, that folder's
# binaries in its TBINS) served as DEMO on 127.0.0.1:PORT with the
# certificate RUN_DIR/vorel-server.crt (made once, or anew), the trace in
# RUN_DIR/server.log, the trace of requests in RUN_DIR/trace.log.
vorel_start_server() {
  local run_dir=$1 port=$2 new_certificate=0 bins=""
  shift 2
  while [ $# -gt 0 ]; do
    case $1 in
      --new-certificate) new_certificate=1 ;;
      --bins) bins=$2; shift ;;
    esac
    shift
  done
  local server=$VOREL_BUILD_DIR/bin/vorel-server
  if [ ! -f "$run_dir/demo.db" ]; then
    "$server" init "$run_dir/demo.db" --demo --force >/dev/null
    if [ -n "$bins" ]; then
      VOREL_FILEVERSION=$VOREL_BUILD_DIR/bin/vorel-fileversion \
        "$VOREL_SOURCE_DIR/demo/load-binaries.sh" "$run_dir/demo.db" "$bins"
    fi
  fi
  if [ ! -f "$run_dir/vorel-server.crt" ] || [ $new_certificate -eq 1 ]; then
    "$server" certificate --out "$run_dir" --name 127.0.0.1 --name localhost --force >/dev/null
  fi
  "$server" serve --db "DEMO=$run_dir/demo.db" --listen "127.0.0.1:$port" --trace "$run_dir/trace.log" \
    --tls-cert "$run_dir/vorel-server.crt" --tls-key "$run_dir/vorel-server.key" >>"$run_dir/server.log" 2>&1 &
  vorel_server_pid=$!
  for _ in $(seq 1 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && return 0
    kill -0 "$vorel_server_pid" 2>/dev/null || break
    sleep 0.2
  done
  echo "vorel-server did not start; see $run_dir/server.log" >&2
  return 1
}

vorel_stop_server() {
  if [ -n "$vorel_server_pid" ]; then
    kill "$vorel_server_pid" 2>/dev/null || true
    wait "$vorel_server_pid" 2>/dev/null || true
    vorel_server_pid=""
  fi
}
