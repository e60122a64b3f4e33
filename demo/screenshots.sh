#!/usr/bin/env bash
# Takes the README's pictures on a virtual display: the shell after login,
# a list window on the demo's orders and its selection, sort and statistics
# dialogs. Writes them into docs/.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../cmake/bootstrap.sh"
source "$VOREL_SOURCE_DIR/demo/serve.sh"

run_dir="$VOREL_BUILD_DIR/screenshots-run"
bin_dir="$VOREL_BUILD_DIR/bin"
port=${VOREL_SCREENSHOT_PORT:-2119}

rm -rf "$run_dir"
mkdir -p "$run_dir/config"
vorel_demo_serve "$run_dir" "$port"

# The picture taker stands in for the shell: its own folder holds the
# libraries it loads, as the shell's folder does.
mkdir -p "$run_dir/bin"
cp "$VOREL_BUILD_DIR/tests/bin/shell_screenshot" "$bin_dir/libCambia.so" "$bin_dir/libComun.so" "$run_dir/bin/"
export VOREL_CONFIG_DIR="$run_dir/config"
export VOREL_CA_FILE="$run_dir/vorel-server.crt"
cd "$run_dir/bin"
xvfb-run -a -s "-screen 0 1280x800x24" ./shell_screenshot \
  127.0.0.1 "$port" 1001 clave "$VOREL_SOURCE_DIR/docs/shell.png" "$VOREL_SOURCE_DIR/docs"

# The same pictures at 200 %, on a screen of twice the pixels: the button
# images must stay sharp and no dialog may cut its controls.
mkdir -p "$VOREL_SOURCE_DIR/docs/200"
QT_SCALE_FACTOR=2 xvfb-run -a -s "-screen 0 2560x1600x24" ./shell_screenshot \
  127.0.0.1 "$port" 1001 clave "$VOREL_SOURCE_DIR/docs/200/shell.png" "$VOREL_SOURCE_DIR/docs/200"
