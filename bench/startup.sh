#!/bin/sh
# Start-up time of the packed example app, side by side with the release's
# own start script (the baseline) in one hyperfine run:
#
#   sh bench/startup.sh
#
# "cold" removes the install before every run, so it includes unpacking;
# "warm" finds the install in place. hyperfine prints each mean and how many
# times faster or slower the others are than the fastest.
set -eu
root=$(CDPATH= cd -- "$(dirname -- "$0")/.." && pwd)
cd "$root"

cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
release=$(sh scripts/build-demo-release.sh)
work="$root/build/bench-startup"
rm -rf "$work"
mkdir -p "$work"
build/release/bin/wexlo pack --quiet "$release" -o "$work/demo_app"

export DEMO_APP_INSTALL_DIR="$work/installs"
# The release's start script would otherwise start the distribution daemon.
export RELEASE_DISTRIBUTION=none
ls -l "$work/demo_app" | awk '{print "launcher size: " $5 " bytes"}'
# One --prepare per command: a single one would apply to all three.
hyperfine --warmup 2 --runs 20 \
  --command-name "release start script (baseline)" --prepare true "$release/bin/demo_app start" \
  --command-name "launcher, warm" --prepare true "$work/demo_app Ada" \
  --command-name "launcher, cold (unpacks)" --prepare "rm -rf $work/installs" "$work/demo_app Ada"
