#!/bin/sh
# Sets up a fresh machine, builds every target and runs every test.
set -eu
root=$(CDPATH= cd -- "$(dirname -- "$0")/.." && pwd)
cd "$root"

sh scripts/setup.sh

# Every C++ source is clang-formatted.
git ls-files '*.cc' '*.h' | xargs clang-format --dry-run --Werror

# The cross-built launcher stubs come first: the Linux build places them
# beside the packer, and their black-box tests run them under Wine and
# qemu-aarch64.
sh scripts/build-liblzma.sh windows
cmake --preset windows >/dev/null
cmake --build --preset windows
sh scripts/wine-prefix.sh
sh scripts/build-liblzma.sh linux-aarch64
cmake --preset linux-aarch64 >/dev/null
cmake --build --preset linux-aarch64

# libzstd for the native stub, built small (see the script).
sh scripts/build-liblzma.sh linux-x86_64
cmake --preset ci -DWEXLO_WINDOWS_STUB="$root/build/windows/bin/wexlo-stub-windows-x86_64.exe" \
  -DWEXLO_AARCH64_STUB="$root/build/linux-aarch64/bin/wexlo-stub-linux-aarch64" >/dev/null
cmake --build --preset ci
ctest --preset ci --timeout 600
ctest --preset windows --timeout 600

# The same tests once more with AddressSanitizer and UndefinedBehaviorSanitizer.
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan --timeout 600

# Every fuzzer for a fixed number of runs from its seeds.
sh scripts/fuzz.sh --ci
