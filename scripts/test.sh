#!/bin/sh
# Sets up a fresh machine, builds every target and runs every test.
set -eu
root=$(CDPATH= cd -- "$(dirname -- "$0")/.." && pwd)
cd "$root"

sh scripts/setup.sh

# Every C++ source is clang-formatted.
git ls-files '*.cc' '*.h' | xargs clang-format --dry-run --Werror

# The packer with every target's stub beside it, as it is installed: the
# cross-built stubs come first (the Linux build places them beside the
# packer), and their black-box tests run them under Wine and qemu-aarch64.
sh scripts/build-packer.sh ci
cmake --build --preset ci
# The Windows-side tests and benchmarks, run under Wine.
cmake --build --preset windows
sh scripts/wine-prefix.sh
# Debian's arm64 runtime and qemu 10 for the real aarch64 test, fetched once
# into build/; without the network that test says so and is skipped.
sh scripts/aarch64-runtime.sh >/dev/null || echo "test: no arm64 runtime; aarch64_beam will be skipped" >&2

ctest --preset ci --timeout 600
ctest --preset windows --timeout 600

# The same tests once more with AddressSanitizer and UndefinedBehaviorSanitizer.
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan --timeout 600

# Every fuzzer for a fixed number of runs from its seeds.
sh scripts/fuzz.sh --ci
