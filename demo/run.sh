#!/usr/bin/env bash
# Runs the shell against a fresh demo database served on this machine.
# Builds first (installing what is missing). Never touches the user's own
# settings: the shell reads and writes a settings file of the demo's own.
#
#   demo/run.sh                  the demo database in a file of the build's
#   demo/run.sh --pg URI         in a PostgreSQL database (replacing what it holds)
set -euo pipefail
pg_uri=""
if [ "${1:-}" = "--pg" ]; then
  [ -n "${2:-}" ] || { echo "usage: $0 [--pg postgresql://USER@HOST:PORT/DATABASE]" >&2; exit 2; }
  pg_uri=$2
fi
source "$(dirname "${BASH_SOURCE[0]}")/../cmake/bootstrap.sh"
source "$VOREL_SOURCE_DIR/demo/serve.sh"
# psql loads the binaries into a PostgreSQL database.
[ -n "$pg_uri" ] && vorel_install_packages postgresql-client-15

run_dir="$VOREL_BUILD_DIR/demo-run"
bin_dir="$VOREL_BUILD_DIR/bin"
port=${VOREL_DEMO_PORT:-2111}

rm -rf "$run_dir"
mkdir -p "$run_dir/config"
VOREL_DEMO_LOAD_BINARIES=1 vorel_demo_serve "$run_dir" "$port" "$pg_uri"

# Everything but the password, so the login dialog only asks for "clave";
# the client verifies the demo server's certificate against itself.
cat >"$run_dir/config/settings.ini" <<EOF
[Software]

[Software\Vorel7]
Login=1001
dBase=DEMO
Addrs=127.0.0.1
Port=$port
Sitio=
CertCA=$run_dir/vorel-server.crt

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
