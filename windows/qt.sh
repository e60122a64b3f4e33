#!/usr/bin/env bash
# Makes Qt for Windows (qtbase: Core, Gui, Widgets, Network, Test; TLS
# through Schannel, no OpenGL, no D-Bus) from Debian's own source package of
# the Qt the Linux build uses, cross-compiled with Debian's MinGW-w64, into
# the cache folder; prints the folder it is installed in (the prefix).
#
# The cache is keyed by the SHA-256 of the source package's upstream tarball:
# a Qt made from the same source is used again. A Qt built the same way and
# packed as ../shared/windows/qt6-base-*-mingw64.tar.xz beside the project,
# whose README names that same checksum, is taken instead of building (an
# hour saved; never required).
#
#   windows/qt.sh                  the prefix, made first when needed
#   windows/qt.sh --check          exits 0 when the cache or ../shared/windows
#                                  has it, 1 when it would have to be built
#   windows/qt.sh --configure-only fetch, unpack and configure, then stop
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

configure_only=0
check_only=0
[ "${1:-}" = "--configure-only" ] && configure_only=1
[ "${1:-}" = "--check" ] && check_only=1

say() { echo "qt.sh: $*" >&2; }
sudo_if_needed() { if [ "$(id -u)" -ne 0 ]; then sudo "$@"; else "$@"; fi; }

vorel_install_packages cmake ninja-build perl dpkg-dev xz-utils qt6-base-dev qt6-base-dev-tools \
  "${vorel_windows_compiler_packages[@]}"

# The source of the Linux Qt, from a deb-src entry for the same archive as
# the packages (added beside them when missing).
version=$(dpkg-query -W -f='${Version}' qt6-base-dev)
uris=$(apt-get source --print-uris "qt6-base=$version" 2>/dev/null || true)
if ! grep -q '\.orig\.tar' <<<"$uris"; then
  list=/etc/apt/sources.list.d/vorel-deb-src.sources
  say "adding the archive's source packages ($list)"
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources | sudo_if_needed tee "$list" >/dev/null
  else
    grep -h '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' | sudo_if_needed tee "${list%.sources}.list" >/dev/null
  fi
  sudo_if_needed env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  uris=$(apt-get source --print-uris "qt6-base=$version")
fi
# 'URI' file size SHA256:hex
orig=$(grep '\.orig\.tar' <<<"$uris" | head -n1)
orig_file=$(awk '{print $2}' <<<"$orig")
checksum=$(grep -o 'SHA256:[0-9a-f]*' <<<"$orig" | cut -d: -f2 || true)
[ -n "$checksum" ] || { say "no SHA-256 for $orig_file in: $uris"; exit 1; }

prefix=$VOREL_WINDOWS_CACHE/qt6-mingw
stamp=$prefix/.source-sha256
if [ $configure_only -eq 0 ] && [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$checksum" ]; then
  [ $check_only -eq 1 ] && exit 0
  echo "$prefix"
  exit 0
fi

# A Qt made of this very source, ready beside the project.
shared=$VOREL_SOURCE_DIR/../shared/windows
if [ $configure_only -eq 0 ] && [ -f "$shared/README.md" ] && grep -q "$checksum" "$shared/README.md"; then
  for pack in "$shared"/qt6-base-*-mingw64.tar.xz; do
    [ -f "$pack" ] || continue
    if [ -f "$pack.sha256" ] && ! (cd "$shared" && sha256sum --quiet -c "$(basename "$pack").sha256" >&2); then
      say "$pack does not match its checksum; not used"
      continue
    fi
    [ $check_only -eq 1 ] && exit 0
    say "using $pack (made from $orig_file)"
    rm -rf "$prefix"
    mkdir -p "$VOREL_WINDOWS_CACHE"
    tar -xJf "$pack" -C "$VOREL_WINDOWS_CACHE"
    [ -x "$prefix/bin/qt-cmake" ] || { say "$pack holds no qt6-mingw/bin/qt-cmake"; exit 1; }
    echo "$checksum" >"$stamp"
    echo "$prefix"
    exit 0
  done
fi

[ $check_only -eq 1 ] && exit 1

# Built from the source package: about 35 minutes of two cores.
src_root=$VOREL_WINDOWS_CACHE/source-$checksum
mkdir -p "$src_root"
if [ ! -f "$src_root/.unpacked" ]; then
  say "fetching and unpacking the source of qt6-base $version"
  (cd "$src_root" && apt-get source --only-source "qt6-base=$version" >&2)
  echo "$checksum  $src_root/$orig_file" | sha256sum --quiet -c - >&2
  touch "$src_root/.unpacked"
fi
src=$(find "$src_root" -mindepth 1 -maxdepth 1 -type d -name 'qt6-base-*' | head -n1)
[ -n "$src" ] || { say "no unpacked source in $src_root"; exit 1; }

# Qt 6.4's Windows platform plugin reaches for the dynamic-GL context even
# with OpenGL off; its use is kept to builds that have OpenGL.
window=$src/src/plugins/platforms/windows/qwindowswindow.cpp
sed -i 's/^#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' "$window"
if grep -q '^#if QT_CONFIG(dynamicgl)$' "$window"; then
  say "$window: the dynamic-GL lines were not as expected"
  exit 1
fi

build=$VOREL_WINDOWS_CACHE/build-$checksum
# Debian leaves out src/3rdparty/wintab (its licence): tablet events, which
# need it, are off. Accessibility goes through UI Automation, which needs
# nothing of src/3rdparty. OpenSSL stays off: TLS is the system's Schannel.
cmake -S "$src" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$VOREL_SOURCE_DIR/windows/mingw.cmake" \
  -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_BUILD_TYPE=Release -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
  -DFEATURE_opengl=OFF -DFEATURE_dbus=OFF -DFEATURE_sql=OFF -DFEATURE_printsupport=OFF -DFEATURE_xml=OFF \
  -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_freetype=OFF \
  -DFEATURE_system_harfbuzz=OFF -DFEATURE_schannel=ON -DFEATURE_openssl=OFF -DFEATURE_tabletevent=OFF >&2
if [ $configure_only -eq 1 ]; then
  say "configured in $build"
  exit 0
fi
cmake --build "$build" -j "$(nproc)" >&2
rm -rf "$prefix"
cmake --install "$build" >&2
echo "$checksum" >"$stamp"
echo "$prefix"
