#!/usr/bin/env bash
# The manual pages name exactly the options the programs' own usage texts
# name, no fewer and no more.
#
#   packaging/man/options.sh VOREL-SERVER VOREL-SQL
set -euo pipefail
man_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
options() { grep -o -- '--[a-z][a-z-]*' | sort -u; }
status=0
compare() {
  local page=$1 usage=$2
  if ! diff <(echo "$usage" | options) <(options <"$man_dir/$page.md") >/dev/null; then
    echo "$page.md and the program's usage name different options (< usage only, > page only):"
    diff <(echo "$usage" | options) <(options <"$man_dir/$page.md") | grep '^[<>]' || true
    status=1
  fi
}
compare vorel-server.8 "$("$1" --help 2>&1)"
# Without arguments it names what it takes.
compare vorel-sql.1 "$("$2" 2>&1 || true)"
exit $status
