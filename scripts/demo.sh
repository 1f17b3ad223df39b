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

# A private install location, so the demo leaves the user's own alone.
export DEMO_APP_INSTALL_DIR="$root/build/demo/installs"
rm -rf "$DEMO_APP_INSTALL_DIR"

step() { printf '\n$ %s\n' "$*"; }
step build/demo/demo_app Ada "Grace Hopper"
build/demo/demo_app Ada "Grace Hopper"
step build/demo/demo_app --echo "two words" '' 'a "quoted" one'
build/demo/demo_app --echo "two words" '' 'a "quoted" one'
step build/demo/demo_app --exit 3
status=0
build/demo/demo_app --exit 3 || status=$?
echo "(exit status $status)"
step build/demo/demo_app maintenance directory
build/demo/demo_app maintenance directory
