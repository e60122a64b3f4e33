#!/usr/bin/env bash
# Runs the shell against a fresh demo database served on this machine.
# Builds first (installing what is missing). Never touches the user's own
# settings: the shell reads and writes a settings file of the demo's own.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../cmake/bootstrap.sh"

run_dir="$VOREL_BUILD_DIR/demo-run"
bin_dir="$VOREL_BUILD_DIR/bin"
port=${VOREL_DEMO_PORT:-2111}

rm -rf "$run_dir"
mkdir -p "$run_dir/config"
"$bin_dir/vorel-server" init "$run_dir/demo.db" --demo --force
# The built binaries go into TBINS the way a deployment puts them there, so a
# start finds everything current and a rebuilt binary reaches the client.
"$VOREL_SOURCE_DIR/demo/load-binaries.sh" "$run_dir/demo.db" "$bin_dir"

"$bin_dir/vorel-server" serve --db "DEMO=$run_dir/demo.db" --listen "127.0.0.1:$port" \
  >"$run_dir/server.log" 2>&1 &
server_pid=$!
trap 'kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true' EXIT

for _ in $(seq 1 50); do
  if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then break; fi
  if ! kill -0 "$server_pid" 2>/dev/null; then
    echo "vorel-server did not start; see $run_dir/server.log" >&2
    exit 1
  fi
  sleep 0.2
done
# Something else already listening on the port would take the shell's
# connection: the demo's own server must still be running.
sleep 0.3
if ! kill -0 "$server_pid" 2>/dev/null; then
  echo "vorel-server did not start (is port $port taken? set VOREL_DEMO_PORT); see $run_dir/server.log" >&2
  exit 1
fi

# Everything but the password, so the login dialog only asks for "clave".
cat >"$run_dir/config/settings.ini" <<EOF
[Software]

[Software\Vorel7]
Login=1001
dBase=DEMO
Addrs=127.0.0.1
Port=$port
Sitio=

EOF
export VOREL_CONFIG_DIR="$run_dir/config"

echo "Demo users 1001 to 1004, password: clave"
# The shell resolves its relative file names against the working folder,
# which must be its own folder.
cd "$bin_dir"
if [ -z "${DISPLAY:-}" ]; then
  echo "No display (\$DISPLAY is empty): running under xvfb-run, nothing will be visible."
  xvfb-run -a ./Vorel7
else
  ./Vorel7
fi
