#!/usr/bin/env bash
# Builds the Windows client (windows/build.sh) and tests it under Wine:
#  1. the client's tests that need none of the server's code (CTest, each
#     program run by windows/wine.sh);
#  2. the settings they leave, read back from the registry by "wine reg query";
#  3. a TLS login through Schannel to this machine's Linux vorel-server, with
#     trust on first use and with a CA file (vorel-sql.exe);
#  4. the setup program, installed and uninstalled silently;
#  5. windows/e2e.sh: Vorel7.exe under Wine and Xvfb against a demo server
#     whose TBINS holds the Windows binaries (skipped with --no-e2e).
# Ends with "N passed, M failed".
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
e2e=1
[ "${1:-}" = "--no-e2e" ] && e2e=0

vorel_install_packages wine wine64 xvfb xauth sqlite3 openssl
bash "$VOREL_SOURCE_DIR/windows/build.sh"
bin=$VOREL_WINDOWS_BUILD_DIR/bin
wine_run() { bash "$VOREL_SOURCE_DIR/windows/wine.sh" "$@"; }

passed=0
failed=0
check() { # check NAME COMMAND...: one named check, counted.
  local name=$1
  shift
  if "$@"; then
    echo "PASS: $name"
    passed=$((passed + 1))
  else
    echo "FAIL: $name"
    failed=$((failed + 1))
  fi
}

# Wine's first start makes its prefix; later ones reuse it.
wine_run cmd /c exit >/dev/null 2>&1 || true

# ---- 1. The tests --------------------------------------------------------------
ctest_ok() { (cd "$VOREL_WINDOWS_BUILD_DIR" && ctest --output-on-failure -j 1); }
check "the client's tests under Wine" ctest_ok

# ---- 2. The registry ---------------------------------------------------------------
reg_has_once() {
  wine_run reg query "HKEY_CURRENT_USER\\Software\\Vorel7$1" /v "$2" 2>/dev/null | tr -d '\r' \
    | grep -Eq "^ +$2 +REG_SZ +$3\$"
}
# reg_has KEY NAME VALUE: the value, of type REG_SZ, as the test left it. Asked
# twice: once on a busy machine a query came back without a value the full
# listing just before it showed.
reg_has() { reg_has_once "$@" || { sleep 1; reg_has_once "$@"; }; }
echo "wine reg query HKEY_CURRENT_USER\\Software\\Vorel7 /s:"
wine_run reg query 'HKEY_CURRENT_USER\Software\Vorel7' /s 2>/dev/null | tr -d '\r' | sed 's/^/    /'
check "registry: Login" reg_has "" Login 1001
check "registry: dBase" reg_has "" dBase PROD
check "registry: Addrs" reg_has "" Addrs 127.0.0.1
check "registry: Port" reg_has "" Port 211
check "registry: CertCA" reg_has "" CertCA 'C:\\Vorel\\vorel-ca.pem'
check "registry: PROD\\VerBoton" reg_has '\PROD' VerBoton 3
check "registry: Certificados" reg_has '\Certificados' '127.0.0.1:211' 'AB:CD:EF'
check "registry: Columnas" reg_has '\PROD\TCLIENTE\Columnas\1001' Orden 'NOMBRE,CODIGO'

# ---- 3. TLS login through Schannel -------------------------------------------------
source "$VOREL_SOURCE_DIR/windows/linuxserver.sh"
run_dir=$(mktemp -d /tmp/vorel-wine.XXXXXX)
trap 'vorel_stop_server; rm -rf "$run_dir"' EXIT
vorel_linux_server_ready
port=$(vorel_free_port)
vorel_start_server "$run_dir" "$port"
winpath() { echo "Z:${1//\//\\}"; }
sql() { wine_run "$bin/vorel-sql.exe" --host "$1" --port "$port" --user 1001 --password clave --database DEMO \
  "${@:2}" "SELECT COUNT(*) N FROM TUSUARIOS" 2>&1 | tr -d '\r'; }
pin() { wine_run reg query 'HKEY_CURRENT_USER\Software\Vorel7\Certificados' /v "127.0.0.1:$port" 2>/dev/null \
  | tr -d '\r' | awk -v n="127.0.0.1:$port" '$1 == n {print $3}'; }
fingerprint=$(openssl x509 -in "$run_dir/vorel-server.crt" -noout -fingerprint -sha256 | cut -d= -f2)
# The CA file the tests above named does not exist (a login through it is
# refused, and says so); here the client trusts on first use.
wine_run reg delete 'HKEY_CURRENT_USER\Software\Vorel7' /v CertCA /f >/dev/null 2>&1 || true
wine_run reg delete 'HKEY_CURRENT_USER\Software\Vorel7\Certificados' /f >/dev/null 2>&1 || true

tofu_login() { local out; out=$(sql 127.0.0.1); echo "$out" | sed 's/^/    /'; grep -Eqx '[0-9]+' <<<"$out"; }
check "TLS login, trust on first use" tofu_login
pinned() { echo "    pinned: $(pin)"; [ "$(pin)" = "$fingerprint" ]; }
check "the certificate's fingerprint kept in the registry" pinned
check "TLS login again, the certificate known" tofu_login
ca_login() { local out; out=$(sql localhost --ca "$(winpath "$run_dir/vorel-server.crt")"); echo "$out" | sed 's/^/    /'; grep -Eqx '[0-9]+' <<<"$out"; }
check "TLS login with a CA file" ca_login
other_ca() {
  local out
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$run_dir/other.key" -out "$run_dir/other.crt" \
    -subj /CN=localhost -days 1 2>/dev/null
  out=$(sql localhost --ca "$(winpath "$run_dir/other.crt")") && return 1
  echo "$out" | sed 's/^/    /'
  [ -n "$out" ]
}
check "a server the CA file does not vouch for is refused, and says why" other_ca
changed_certificate() {
  local out
  vorel_stop_server
  vorel_start_server "$run_dir" "$port" --new-certificate
  out=$(sql 127.0.0.1) && return 1
  echo "$out" | sed 's/^/    /'
  grep -q "$fingerprint" <<<"$out"
}
check "a changed certificate is refused, and says why" changed_certificate

# ---- 4. The setup program ------------------------------------------------------------
setup=$(ls "$VOREL_WINDOWS_BUILD_DIR"/vorel-client-setup-*.exe)
echo "setup program: $(basename "$setup"), $(stat -c %s "$setup") bytes"
program_files=$(wine_run cmd /c 'echo %ProgramW6432%' 2>/dev/null | tr -d '\r')
install_dir="$program_files\\Vorel"
unix_install=$(wine_run winepath -u "$install_dir" 2>/dev/null | tr -d '\r')
install_silently() {
  wine_run "$setup" /S "/CA=$(winpath "$run_dir/vorel-server.crt")" &&
    [ -f "$unix_install/Vorel7.exe" ] && [ -f "$unix_install/tls/qschannelbackend.dll" ] &&
    cmp -s "$unix_install/vorel-ca.pem" "$run_dir/vorel-server.crt" &&
    [ -f "$unix_install/uninstall.exe" ] &&
    [ -f "$(wine_run winepath -u 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Vorel\Vorel.lnk' 2>/dev/null | tr -d '\r')" ]
}
check "setup installs silently into Program Files, with its Start-menu entry" install_silently
installed_runs() {
  local out
  out=$(wine_run "$install_dir\\vorel-sql.exe" --host localhost --port "$port" --user 1001 --password clave \
    --database DEMO "SELECT COUNT(*) N FROM TUSUARIOS" 2>&1 | tr -d '\r') || true
  # The certificate changed in the last check: the CA file installed with
  # the program vouches for the new one.
  echo "$out" | sed 's/^/    /'
  grep -Eqx '[0-9]+' <<<"$out"
}
check "the installed console logs in, trusting the installed CA file" installed_runs
uninstall_silently() {
  # The uninstaller runs on from a copy of itself: done when Wine is idle.
  wine_run "$unix_install/uninstall.exe" /S >/dev/null 2>&1 || true
  wineserver -w
  [ ! -f "$unix_install/Vorel7.exe" ] && [ ! -d "$unix_install/tls" ] &&
    wine_run reg query 'HKEY_CURRENT_USER\Software\Vorel7' /v Login >/dev/null 2>&1
}
check "uninstall removes the program and keeps the user's settings" uninstall_silently

# ---- 5. End to end -------------------------------------------------------------------
vorel_stop_server
if [ $e2e -eq 1 ]; then
  check "Vorel7.exe end to end under Wine" bash "$VOREL_SOURCE_DIR/windows/e2e.sh"
fi

echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
