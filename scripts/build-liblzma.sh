#!/bin/sh
# Cross-builds a static liblzma from Debian's own xz-utils source package for
# the target of a cross-building CMake preset, and installs it where that
# preset looks for it. Safe to run again: an existing library is kept.
#
#   scripts/build-liblzma.sh windows         # build/deps/mingw
#   scripts/build-liblzma.sh linux-aarch64   # build/deps/aarch64
set -eu

root=$(CDPATH= cd -- "$(dirname -- "$0")/.." && pwd)
case "${1:-}" in
  windows) deps=mingw toolchain="$root/cmake/mingw-w64-x86_64.cmake" ;;
  linux-aarch64) deps=aarch64 toolchain="$root/cmake/aarch64-linux-gnu.cmake" ;;
  *)
    echo "usage: $0 windows|linux-aarch64" >&2
    exit 2
    ;;
esac
prefix="$root/build/deps/$deps"
src_dir="$root/build/deps/src"

if [ -f "$prefix/lib/liblzma.a" ]; then
  exit 0
fi

export DEBIAN_FRONTEND=noninteractive
apt_get() { $sudo apt-get -q -o DPkg::Lock::Timeout=600 "$@" </dev/null; }
sudo=
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo -n"
fi

# `apt-get source` needs a deb-src entry; add one for the time of the download
# when the machine has none, and take it away again afterwards.
temporary_sources=/etc/apt/sources.list.d/wexlo-temporary-deb-src.sources
has_deb_src() {
  grep -Eqs '^[[:space:]]*deb-src[[:space:]]' /etc/apt/sources.list /etc/apt/sources.list.d/*.list ||
    grep -Eqs '^[[:space:]]*Types:.*deb-src' /etc/apt/sources.list.d/*.sources
}
remove_temporary_sources() {
  if [ -f "$temporary_sources" ]; then
    $sudo rm -f "$temporary_sources"
  fi
}
trap remove_temporary_sources EXIT INT TERM

if ! command -v dpkg-source >/dev/null 2>&1; then
  apt_get update
  apt_get install -y --no-install-recommends dpkg-dev
fi

if ! has_deb_src; then
  printf '%s\n' \
    'Types: deb-src' \
    'URIs: http://deb.debian.org/debian' \
    'Suites: bookworm' \
    'Components: main' \
    'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' |
    $sudo tee "$temporary_sources" >/dev/null
  apt_get update
fi

mkdir -p "$src_dir"
xz_src=$(find "$src_dir" -mindepth 1 -maxdepth 1 -type d -name 'xz-utils-*' | head -n 1)
if [ -z "$xz_src" ]; then
  (cd "$src_dir" && apt_get source xz-utils)
  xz_src=$(find "$src_dir" -mindepth 1 -maxdepth 1 -type d -name 'xz-utils-*' | head -n 1)
fi
remove_temporary_sources
[ -n "$xz_src" ] || { echo "xz-utils source was not unpacked in $src_dir" >&2; exit 1; }

build_dir="$root/build/deps/xz-$deps"
cmake -S "$xz_src" -B "$build_dir" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DBUILD_SHARED_LIBS=OFF \
  -DENABLE_NLS=OFF --no-warn-unused-cli \
  -DCREATE_XZ_SYMLINKS=OFF -DCREATE_LZMA_SYMLINKS=OFF \
  -DCMAKE_POSITION_INDEPENDENT_CODE=OFF
cmake --build "$build_dir" --target liblzma -j 2

# Install only the library and its headers: the xz and xzdec tools are not
# wanted (and not built).
mkdir -p "$prefix/lib" "$prefix/include"
cp "$build_dir/liblzma.a" "$prefix/lib/liblzma.a.tmp"
cp "$xz_src/src/liblzma/api/lzma.h" "$prefix/include/"
rm -rf "$prefix/include/lzma"
cp -R "$xz_src/src/liblzma/api/lzma" "$prefix/include/"
mv "$prefix/lib/liblzma.a.tmp" "$prefix/lib/liblzma.a"
