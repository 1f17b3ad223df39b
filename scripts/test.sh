#!/bin/sh
# Sets up a fresh machine, builds every target and runs every test.
set -eu
root=$(CDPATH= cd -- "$(dirname -- "$0")/.." && pwd)
cd "$root"

sh scripts/setup.sh

# Every C++ source is clang-formatted.
git ls-files '*.cc' '*.h' | xargs clang-format --dry-run --Werror

# The Windows launcher stub comes first: the Linux build places it beside the
# packer, and its black-box tests run it under Wine.
sh scripts/build-liblzma-mingw.sh
cmake --preset windows >/dev/null
cmake --build --preset windows
sh scripts/wine-prefix.sh

cmake --preset ci -DWEXLO_WINDOWS_STUB="$root/build/windows/bin/wexlo-stub-windows-x86_64.exe" \
  >/dev/null
cmake --build --preset ci
ctest --preset ci --timeout 600
ctest --preset windows --timeout 600

# The same tests once more with AddressSanitizer and UndefinedBehaviorSanitizer.
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan --timeout 600

# Every fuzzer for a fixed number of runs from its seeds.
sh scripts/fuzz.sh --ci
