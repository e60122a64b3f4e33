# Shared by the scripts of windows/: where things are, and what they need.
# Sourced, not run.
VOREL_SOURCE_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$VOREL_SOURCE_DIR/cmake/packages.sh"
# The Qt for Windows and what it is made from, kept across builds.
VOREL_WINDOWS_CACHE=${VOREL_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vorel-windows}
VOREL_WINDOWS_BUILD_DIR=${VOREL_WINDOWS_BUILD_DIR:-$VOREL_SOURCE_DIR/build-windows}
# Wine's own Windows, apart from the user's.
export WINEPREFIX=${WINEPREFIX:-$VOREL_WINDOWS_CACHE/wine}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

# The MinGW-w64 cross compiler of Debian, with POSIX threads.
vorel_windows_compiler_packages=(gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64)
