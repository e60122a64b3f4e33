#!/usr/bin/env bash
# Vorel7.exe under Wine on a virtual display (Xvfb) against this machine's
# Linux vorel-server, whose TBINS holds the Windows binaries of
# build-windows/bin: the client's folder lacks Cambia.dll and Comun.dll, so
# the first start downloads them and the second finds everything current.
# Each start logs in as 1001 (password typed into the login dialog) and
# opens the first class of the role bar in Comun. The server's trace of the
# run is kept in build-windows/e2e/, and the screen with the class open in
# docs/windows/vorel7-wine.png when VOREL_E2E_SCREENSHOT=1.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
source "$VOREL_SOURCE_DIR/windows/linuxserver.sh"
vorel_install_packages xvfb xauth xdotool x11-apps netpbm sqlite3
bin=$VOREL_WINDOWS_BUILD_DIR/bin
out=$VOREL_WINDOWS_BUILD_DIR/e2e
rm -rf "$out"
mkdir -p "$out/client"
say() { echo "e2e: $*"; }

vorel_linux_server_ready
port=$(vorel_free_port)
xvfb_pid=""
cleanup() {
  vorel_stop_server
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
}
trap cleanup EXIT
vorel_start_server "$out" "$port" --bins "$bin"

# The program folder as the setup program leaves it, less the two libraries.
(cd "$bin" && cp Vorel7.exe Load.dll libvorelcore.dll libvorelgui.dll Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll \
  Qt6Network.dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll "$out/client/" &&
  cp -r platforms styles tls imageformats "$out/client/")
client_win=$(winepath -w "$out/client" 2>/dev/null | tr -d '\r')
wine reg delete 'HKEY_CURRENT_USER\Software\Vorel7' /f >/dev/null 2>&1 || true
for v in "Login=1001" "dBase=DEMO" "Addrs=127.0.0.1" "Port=$port" "Sitio=" \
  "CertCA=$(winepath -w "$out/vorel-server.crt" 2>/dev/null | tr -d '\r')"; do
  wine reg add 'HKEY_CURRENT_USER\Software\Vorel7' /v "${v%%=*}" /t REG_SZ /d "${v#*=}" /f >/dev/null 2>&1
done

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=$display
sleep 1

wait_window() { # wait_window NAME SECONDS: the id of the first window so named
  local i
  for i in $(seq 1 $(($2 * 5))); do
    xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1 && return 0
    sleep 0.2
  done
  return 1
}

wait_trace() { # wait_trace TEXT: until the server's trace holds TEXT (60 s at most)
  local i
  for i in $(seq 1 300); do
    grep -qF -- "$1" "$out/trace.log" && return 0
    sleep 0.2
  done
  return 1
}

# One start: log in (the user number comes from the registry; Tab leads to
# the password), take the greeting, open "Clientes", the first class of the
# bar, and end. The server's trace of the start is kept as trace-N.log.
start() { # start N
  local n=$1 login
  : >"$out/trace.log"
  (cd "$out/client" && exec wine Vorel7.exe >"$out/wine-$n.log" 2>&1) &
  # Ended by wineserver -k below; not waited for.
  disown
  login=$(wait_window '^Login' 120) || { say "start $n: no login dialog"; return 1; }
  sleep 1
  xdotool windowfocus "$login"
  xdotool key Tab
  xdotool type --delay 50 clave
  xdotool key Return
  # The greeting, in a message box before the main window shows.
  wait_trace '"method":"MenIni"' || { say "start $n: no login"; return 1; }
  sleep 3
  xdotool key Return
  wait_window '^Vorel7 1001@DEMO' 120 >/dev/null || { say "start $n: no main window"; return 1; }
  sleep 2
  xdotool mousemove 71 58 click 1
  wait_trace "pCLIENTES.main('VENTAS')" || true
  sleep 3
  xwd -root -display "$DISPLAY" | xwdtopnm 2>/dev/null | pnmtopng >"$out/start-$n.png" 2>/dev/null || true
  cp "$out/trace.log" "$out/trace-$n.log"
  wineserver -k 2>/dev/null || true
  sleep 1
}

failures=0
expect() { # expect N TEXT WHAT: the trace of start N holds TEXT exactly
  if grep -qF -- "$2" "$out/trace-$1.log"; then
    say "start $1: $3"
  else
    say "start $1: MISSING $3: $2"
    failures=$((failures + 1))
  fi
}
refuse() { # refuse N TEXT WHAT: the trace of start N does not hold TEXT
  if grep -qF -- "$2" "$out/trace-$1.log"; then
    say "start $1: UNEXPECTED $3"
    failures=$((failures + 1))
  else
    say "start $1: $3"
  fi
}

# The texts the Linux client sends for the same steps, byte for byte.
login='"args":["1001","********","DEMO",'  # the trace marks the password
check='"sql":"SELECT BINS_Vers Vers FROM Vorel.TBINS WHERE UPPER(BINS_Arch)= '"'"'VOREL7.EXE'"'"' "'
class_check='"sql":"SELECT BINS_Arch Arch, BINS_Vers FROM vorel.TBINS WHERE BINS_Arch= '"'"'clientes.dll'"'"'"'
class_open='"sql":"SELECT * FROM TABLE(pCLIENTES.main('"'"'VENTAS'"'"'))"'
download() { echo '"sql":"SELECT BINS_Arch, BINS_Bin FROM vorel.TBINS WHERE BINS_Arch= '"'$1'"'"'; }

for n in 1 2; do
  start $n || failures=$((failures + 1))
  [ -f "$out/trace-$n.log" ] || continue
  expect $n "$login" "Login as 1001 on DEMO"
  expect $n "$check" "the shell's version checked in TBINS"
  expect $n "$class_check" "the class's own library looked up in TBINS"
  expect $n "$class_open" "the class opened in Comun"
done
if [ -f "$out/trace-1.log" ]; then
  expect 1 "$(download Cambia.dll)" "Cambia.dll downloaded"
  expect 1 "$(download Comun.dll)" "Comun.dll downloaded"
  [ -f "$out/client/Cambia.dll" ] && [ -f "$out/client/Comun.dll" ] || failures=$((failures + 1))
fi
[ -f "$out/trace-2.log" ] && refuse 2 '"sql":"SELECT BINS_Arch, BINS_Bin FROM' "nothing downloaded: everything current"
if [ "${VOREL_E2E_SCREENSHOT:-0}" = 1 ] && [ -f "$out/start-2.png" ]; then
  mkdir -p "$VOREL_SOURCE_DIR/docs/windows"
  cp "$out/start-2.png" "$VOREL_SOURCE_DIR/docs/windows/vorel7-wine.png"
fi
say "$failures failures; traces and screens in $out"
[ $failures -eq 0 ]
