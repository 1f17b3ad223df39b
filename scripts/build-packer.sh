#!/bin/sh
# Builds the packer with the launcher stubs of every target beside it: the
# Windows x86_64 and Linux aarch64 stubs are cross-built first (presets
# `windows` and `linux-aarch64`), then PRESET is configured to place them
# beside the packer and to install them with it.
#
#   scripts/build-packer.sh [PRESET]    # default release: build/release/bin
#
# Then `cmake --install build/release --prefix DIR` or `cpack -G DEB` in
# build/release installs all three. Only what is installed is built (the
# packer and the stubs); `cmake --build --preset PRESET` builds the rest.
# Starts from a fresh Debian 12 machine (scripts/setup.sh); safe to run again.
set -eu
root=$(CDPATH='' cd -- "$(dirname -- "$0")/.." && pwd)
cd "$root"
preset=${1:-release}

sh scripts/setup.sh

for target in windows linux-aarch64; do
  sh scripts/build-liblzma.sh "$target"
  cmake --preset "$target" >/dev/null
  cmake --build --preset "$target" --target wexlo_stub
done

# libzstd for the native stub, built small (see the script).
sh scripts/build-liblzma.sh linux-x86_64
cmake --preset "$preset" \
  -DWEXLO_WINDOWS_STUB="$root/build/windows/bin/wexlo-stub-windows-x86_64.exe" \
  -DWEXLO_AARCH64_STUB="$root/build/linux-aarch64/bin/wexlo-stub-linux-aarch64" >/dev/null
cmake --build --preset "$preset" --target wexlo_packer wexlo_stub
"build/$preset/bin/wexlo" --version
