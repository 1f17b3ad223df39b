#!/bin/sh
# The main job, from nothing: installs what is needed, builds the packer and
# the launcher stub, builds the example Elixir release, packs it into one
# executable, and runs that executable the way a user would.
set -eu
root=$(CDPATH= cd -- "$(dirname -- "$0")/.." && pwd)
cd "$root"

sh scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release

release=$(sh scripts/build-demo-release.sh)
mkdir -p build/demo
build/release/bin/wexlo pack "$release" -o build/demo/demo_app

# A private data directory, so the demo leaves the user's own installs alone.
unset APPDATA
export XDG_DATA_HOME="$root/build/demo/data"
rm -rf "$XDG_DATA_HOME"

step() { printf '\n$ %s\n' "$*"; }
step "build/demo/demo_app Ada 'Grace Hopper'   # the first run unpacks, silently"
build/demo/demo_app Ada "Grace Hopper"
step "build/demo/demo_app --echo 'two words' '' 'a \"quoted\" one'"
build/demo/demo_app --echo "two words" '' 'a "quoted" one'
step build/demo/demo_app --exit 3
status=0
build/demo/demo_app --exit 3 || status=$?
echo "(exit status $status)"
step build/demo/demo_app maintenance directory
build/demo/demo_app maintenance directory
