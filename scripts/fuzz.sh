#!/bin/sh
# Builds the libFuzzer targets (the `fuzz` preset) and runs each in turn.
#
#   sh scripts/fuzz.sh [SECONDS]  each target for SECONDS (default 60), growing
#                                 its corpus in build/fuzz/corpus/<target>
#   sh scripts/fuzz.sh --ci       each target for a fixed number of runs from a
#                                 copy of its seeds; writes nothing to keep
#
# An input that breaks a target is saved in build/fuzz/artifacts/ and ends
# the script with a failure.
set -eu
root=$(CDPATH= cd -- "$(dirname -- "$0")/.." && pwd)
cd "$root"

mode=${1:-60}
# All targets together get through this many runs each in about 90 seconds.
ci_runs=250000

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

artifacts=$root/build/fuzz/artifacts
mkdir -p "$artifacts"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

for fuzzer in build/fuzz/fuzz/*_fuzzer; do
  name=$(basename "$fuzzer" _fuzzer)
  seeds=fuzz/corpus/$name
  if [ "$mode" = --ci ]; then
    corpus=$scratch/$name
    cp -R "$seeds" "$corpus"
    set -- -runs=$ci_runs "$corpus"
  else
    corpus=build/fuzz/corpus/$name
    mkdir -p "$corpus"
    set -- -max_total_time="$mode" "$corpus" "$seeds"
  fi
  log=$scratch/$name.log
  if ! "$fuzzer" -timeout=10 -artifact_prefix="$artifacts/$name-" "$@" >"$log" 2>&1; then
    tail -n 60 "$log" >&2
    echo "fuzz: $name failed; input saved in $artifacts" >&2
    exit 1
  fi
  echo "fuzz: $name: $(grep '^Done' "$log")"
done
