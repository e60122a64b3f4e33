#!/usr/bin/env bash
# vorel_install_packages PACKAGE...: installs with apt-get those of the given
# Debian packages that are missing, through sudo when not run as root.
# Sourced by the scripts that set up a build.
vorel_install_packages() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
      echo "These Debian packages are missing: ${missing[*]}" >&2
      echo "Install them as root (apt-get install ${missing[*]}) or install sudo, then run again." >&2
      exit 1
    fi
    sudo="sudo"
  fi
  # Another install under way (a second build on the machine) is waited for.
  local apt=(env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300)
  $sudo "${apt[@]}" update -qq
  $sudo "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}"
}
