#!/usr/bin/env bash
# Makes the Debian packages from the build, installs them on this machine and
# checks them: lintian without errors, the client's desktop entry, icon,
# AppStream record and manual pages in place and valid, the service unit
# verified by systemd, and the installed server answering the installed
# console.
#
#   packaging/check.sh            (after a build: tests/run.sh or cmake/bootstrap.sh)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../cmake/packages.sh"
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${VOREL_BUILD_DIR:-$source_dir/build}
vorel_install_packages dpkg-dev lintian systemd desktop-file-utils appstream man-db
as_root=""
[ "$(id -u)" -eq 0 ] || as_root=sudo

cd "$build_dir"
rm -f vorel-server_*.deb vorel-client_*.deb
cpack -G DEB >/dev/null
debs=(./vorel-server_*.deb ./vorel-client_*.deb)
echo "packages: ${debs[*]}"

# What makes the client a desktop program, and the manual pages of both.
listing=$(dpkg-deb -c ./vorel-client_*.deb)
for f in usr/share/applications/vorel7.desktop usr/share/metainfo/org.example.vorel7.metainfo.xml \
  usr/share/icons/hicolor/scalable/apps/vorel7.svg usr/share/icons/hicolor/{16x16,22x22,24x24,32x32,48x48}/apps/vorel7.png \
  usr/share/icons/hicolor/{64x64,128x128,256x256}/apps/vorel7.png usr/share/man/man1/vorel7.1.gz \
  usr/share/man/man1/vorel-sql.1.gz; do
  grep -q " \./$f\$" <<<"$listing" || { echo "vorel-client lacks /$f" >&2; exit 1; }
done
dpkg-deb -c ./vorel-server_*.deb | grep -q ' \./usr/share/man/man8/vorel-server\.8\.gz$' \
  || { echo "vorel-server lacks its manual page" >&2; exit 1; }
grep -E 'applications/|metainfo/|icons/|man/man' <<<"$listing"
unpacked=$(mktemp -d)
dpkg-deb -x ./vorel-client_*.deb "$unpacked"
desktop-file-validate "$unpacked/usr/share/applications/vorel7.desktop"
# --no-net: the record's home page is not to be fetched from a build machine.
appstreamcli validate --no-net "$unpacked/usr/share/metainfo/org.example.vorel7.metainfo.xml"
rm -rf "$unpacked"

# Errors fail the check; warnings (ldconfig in the maintainer scripts) are
# printed.
lintian --fail-on error "${debs[@]}"

# apt resolves the dependencies the packages declare by Debian name.
$as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${debs[@]}" >/dev/null
dpkg -s vorel-server vorel-client | grep -E '^(Package|Status|Depends):'
# Slimmed images keep dpkg from installing manual pages at all.
if grep -rqsE '^path-exclude[= ]+/usr/share/man' /etc/dpkg/dpkg.cfg.d; then
  echo "manual pages are not installed on this machine (dpkg path-exclude): man is not asked"
else
  for page in vorel7 vorel-sql vorel-server; do man -w "$page"; done
fi
systemd-analyze verify /lib/systemd/system/vorel-server.service

work=$(mktemp -d)
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
/usr/bin/vorel-server init "$work/demo.db" --demo >/dev/null
# init makes the certificate beside the database unless one is there.
[ -e "$work/vorel-server.crt" ] || /usr/bin/vorel-server certificate --out "$work" >/dev/null
/usr/bin/vorel-server serve --db "DEMO=$work/demo.db" --listen 127.0.0.1:0 \
  --tls-cert "$work/vorel-server.crt" --tls-key "$work/vorel-server.key" >"$work/serve.out" 2>"$work/serve.err" &
server_pid=$!
for _ in $(seq 100); do
  grep -q '^listening on' "$work/serve.out" 2>/dev/null && break
  sleep 0.1
done
port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/serve.out")
[ -n "$port" ] || { echo "the installed server did not start:" >&2; cat "$work/serve.err" >&2; exit 1; }
answer=$(/usr/bin/vorel-sql --host 127.0.0.1 --port "$port" --user 1001 --password clave --database DEMO \
  --ca "$work/vorel-server.crt" "SELECT count(*) N FROM TCLIENTES")
echo "$answer"
[ "$(echo "$answer" | tail -n 1)" -gt 0 ] || { echo "unexpected answer from the installed server" >&2; exit 1; }
echo "the installed vorel-server answered the installed vorel-sql on port $port"
