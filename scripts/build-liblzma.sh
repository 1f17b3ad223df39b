#!/bin/sh
# Builds the launcher's static libraries from Debian's own source packages,
# liblzma (xz-utils) and libzstd (libzstd), for the target of a CMake preset,
# and installs them where that preset looks for them. Safe to run again: an
# existing library is kept.
#
#   scripts/build-liblzma.sh windows         # build/deps/mingw: liblzma, libzstd
#   scripts/build-liblzma.sh linux-aarch64   # build/deps/aarch64: liblzma, libzstd
#   scripts/build-liblzma.sh linux-x86_64    # build/deps/x86_64: libzstd
#
# The native build takes libzstd from here when it is present, else Debian's
# libzstd.a: that one also carries the decoders of zstd's pre-1.0 formats,
# which every stub would then carry too (about 120 KB).
set -eu

root=$(CDPATH= cd -- "$(dirname -- "$0")/.." && pwd)
case "${1:-}" in
  windows) deps=mingw toolchain="$root/cmake/mingw-w64-x86_64.cmake" ;;
  linux-aarch64) deps=aarch64 toolchain="$root/cmake/aarch64-linux-gnu.cmake" ;;
  linux-x86_64) deps=x86_64 toolchain= ;;
  *)
    echo "usage: $0 windows|linux-aarch64|linux-x86_64" >&2
    exit 2
    ;;
esac
prefix="$root/build/deps/$deps"
src_dir="$root/build/deps/src"
# liblzma-dev serves the native build as it is.
need_lzma=$([ -z "$toolchain" ] || [ -f "$prefix/lib/liblzma.a" ] || echo yes)
need_zstd=$([ -f "$prefix/lib/libzstd.a" ] || echo yes)
if [ -z "$need_lzma$need_zstd" ]; then
  exit 0
fi
toolchain_option=${toolchain:+-DCMAKE_TOOLCHAIN_FILE=$toolchain}

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
# The unpacked source of a Debian source package, fetched once.
unpacked_source() {
  dir=$(find "$src_dir" -mindepth 1 -maxdepth 1 -type d -name "$2-*" | head -n 1)
  if [ -z "$dir" ]; then
    (cd "$src_dir" && apt_get source "$1" >&2)
    dir=$(find "$src_dir" -mindepth 1 -maxdepth 1 -type d -name "$2-*" | head -n 1)
  fi
  [ -n "$dir" ] || { echo "$1 source was not unpacked in $src_dir" >&2; exit 1; }
  echo "$dir"
}
if [ -n "$need_lzma" ]; then xz_src=$(unpacked_source xz-utils xz-utils); fi
if [ -n "$need_zstd" ]; then zstd_src=$(unpacked_source libzstd libzstd); fi
remove_temporary_sources

if [ -n "$need_lzma" ]; then
  build_dir="$root/build/deps/xz-$deps"
  cmake -S "$xz_src" -B "$build_dir" -G Ninja $toolchain_option \
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
fi

# libzstd: the static library alone, without threads (the packer compresses
# frames on threads of its own), legacy formats or the zstd program. Its
# functions in sections of their own let a stub link its decoder alone; one
# Huffman decoder instead of two saves a stub 37 KB and measured no slower.
if [ -n "$need_zstd" ]; then
  build_dir="$root/build/deps/zstd-$deps"
  cmake -S "$zstd_src/build/cmake" -B "$build_dir" -G Ninja $toolchain_option \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DZSTD_BUILD_STATIC=ON -DZSTD_BUILD_SHARED=OFF \
    -DZSTD_BUILD_PROGRAMS=OFF -DZSTD_BUILD_TESTS=OFF -DZSTD_BUILD_CONTRIB=OFF \
    -DZSTD_LEGACY_SUPPORT=OFF -DZSTD_MULTITHREAD_SUPPORT=OFF --no-warn-unused-cli \
    -DCMAKE_C_FLAGS="-ffunction-sections -fdata-sections -DHUF_FORCE_DECOMPRESS_X1" \
    -DCMAKE_POSITION_INDEPENDENT_CODE=ON
  cmake --build "$build_dir" --target libzstd_static -j 2

  mkdir -p "$prefix/lib" "$prefix/include"
  cp "$build_dir/lib/libzstd.a" "$prefix/lib/libzstd.a.tmp"
  cp "$zstd_src/lib/zstd.h" "$zstd_src/lib/zstd_errors.h" "$prefix/include/"
  mv "$prefix/lib/libzstd.a.tmp" "$prefix/lib/libzstd.a"
fi
