#!/usr/bin/env bash
# Takes the README's pictures on a virtual display: the shell after login,
# a list window on the demo's orders and its selection, sort and statistics
# dialogs. Writes them into docs/.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../cmake/bootstrap.sh"

run_dir="$VOREL_BUILD_DIR/screenshots-run"
bin_dir="$VOREL_BUILD_DIR/bin"
port=${VOREL_SCREENSHOT_PORT:-2119}

rm -rf "$run_dir"
mkdir -p "$run_dir/config"
"$bin_dir/vorel-server" init "$run_dir/demo.db" --demo --force
"$bin_dir/vorel-server" serve --db "DEMO=$run_dir/demo.db" --listen "127.0.0.1:$port" \
  >"$run_dir/server.log" 2>&1 &
server_pid=$!
trap 'kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true' EXIT
for _ in $(seq 1 50); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.2
done

# The picture taker stands in for the shell: its own folder holds the
# libraries it loads, as the shell's folder does.
mkdir -p "$run_dir/bin"
cp "$VOREL_BUILD_DIR/tests/bin/shell_screenshot" "$bin_dir/libCambia.so" "$bin_dir/libComun.so" "$run_dir/bin/"
export VOREL_CONFIG_DIR="$run_dir/config"
cd "$run_dir/bin"
xvfb-run -a -s "-screen 0 1280x800x24" ./shell_screenshot \
  127.0.0.1 "$port" 1001 clave "$VOREL_SOURCE_DIR/docs/shell.png" "$VOREL_SOURCE_DIR/docs"
