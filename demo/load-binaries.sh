#!/usr/bin/env bash
# load-binaries.sh DATABASE_FILE|POSTGRESQL_URI [BIN_DIR]
#
# Stores the built client in the database's TBINS (through sqlite3, or psql
# for a PostgreSQL database), so that a client started
# from BIN_DIR finds its shell and libraries current: the shell as
# 'Vorel7.exe', the libraries and the updater ("Load.dll") under their file
# names, each with the version text the shell reads from the file. Rows of
# the same names are replaced. BIN_DIR defaults to the build's program folder.
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 DATABASE_FILE|POSTGRESQL_URI [BIN_DIR]" >&2
  exit 2
fi
db=$1
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bin_dir=${2:-${VOREL_BUILD_DIR:-$source_dir/build}/bin}
# The version reader of this machine's build reads Windows binaries too.
version_tool=${VOREL_FILEVERSION:-$bin_dir/vorel-fileversion}

pg=0
case "$db" in postgresql://* | postgres://*) pg=1 ;; esac
if [ $pg -eq 1 ]; then
  command -v psql >/dev/null || { echo "$0: the psql command is missing (Debian: postgresql-client)" >&2; exit 1; }
else
  [ -f "$db" ] || { echo "$0: no database file $db" >&2; exit 1; }
  command -v sqlite3 >/dev/null || { echo "$0: the sqlite3 command is missing" >&2; exit 1; }
fi
[ -x "$version_tool" ] || { echo "$0: $version_tool is missing (build the target vorel-fileversion)" >&2; exit 1; }

quote() { printf "'%s'" "${1//\'/\'\'}"; }

# name in TBINS : file in BIN_DIR; optional files are skipped when absent.
# A Windows build's folder (windows/build.sh) holds Vorel7.exe and DLLs.
if [ -f "$bin_dir/Vorel7.exe" ]; then
  entries=("Vorel7.exe:Vorel7.exe" "Cambia.dll:Cambia.dll" "Comun.dll:Comun.dll"
    "libvorelcore.dll:libvorelcore.dll" "libvorelgui.dll:libvorelgui.dll" "Load.dll:Load.dll")
else
  entries=("Vorel7.exe:Vorel7" "libCambia.so:libCambia.so" "libComun.so:libComun.so"
    "libvorelcore.so:libvorelcore.so" "libvorelgui.so:libvorelgui.so" "Load.dll:Load.dll")
fi

sql="BEGIN;
INSERT INTO TGUIS (GUIS_Gui) SELECT 'WIN32' WHERE NOT EXISTS (SELECT 1 FROM TGUIS WHERE GUIS_Gui = 'WIN32');
"
for entry in "${entries[@]}"; do
  name=${entry%%:*}
  file=${entry#*:}
  optional=0
  if [ "${file%\?}" != "$file" ]; then optional=1; file=${file%\?}; fi
  path="$bin_dir/$file"
  if [ ! -f "$path" ]; then
    [ $optional -eq 1 ] && continue
    echo "$0: $path is missing" >&2
    exit 1
  fi
  version=$("$version_tool" "$path")
  if [ -z "$version" ]; then
    version_sql=NULL
  else
    version_sql=$(quote "$version")
  fi
  if [ $pg -eq 1 ]; then
    # psql reads the file through base64 into a variable of its own.
    bytes="decode(:'bin', 'base64')"
    sql+="\\set bin \`base64 -w0 $(quote "$path")\`
"
  else
    bytes="readfile($(quote "$path"))"
  fi
  sql+="DELETE FROM TBINS WHERE UPPER(BINS_Arch) = UPPER($(quote "$name"));
INSERT INTO TBINS (BINS_Arch, BINS_Vers, BINS_Bin, BINS_Raiz, BINS_GUI)
  VALUES ($(quote "$name"), $version_sql, $bytes, '0', 'WIN32');
"
  echo "TBINS: $name ${version:-(sin version)}"
done
sql+="COMMIT;"
if [ $pg -eq 1 ]; then
  psql -q -v ON_ERROR_STOP=1 "$db" >/dev/null <<<"$sql"
else
  sqlite3 -bail "$db" <<<"$sql"
fi
