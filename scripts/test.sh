#!/bin/sh
# Sets up a fresh machine, builds every target and runs every test.
set -eu
root=$(CDPATH= cd -- "$(dirname -- "$0")/.." && pwd)
cd "$root"

sh scripts/setup.sh
cmake --preset ci >/dev/null
cmake --build --preset ci
ctest --preset ci --timeout 600
