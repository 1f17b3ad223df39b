#!/bin/sh
# Builds the demo release (examples/demo_app) and prints its directory.
#
#   scripts/build-demo-release.sh [BUILD_DIR]
#
# BUILD_DIR takes the place of examples/demo_app/_build/prod (the release then
# lands in BUILD_DIR/rel/demo_app). The same application's release that
# reboots after its runtime configuration lands beside it, in
# rel/demo_app_rebooting, and so does the service example
# (examples/demo_service, built in its own build directory) in
# rel/demo_service. Needs only Debian's elixir and erlang: the
# project has no dependencies, so neither hex nor the network is touched.
# Mix's output goes to a log that is shown only when the build fails.
set -eu

root=$(CDPATH='' cd -- "$(dirname -- "$0")/.." && pwd)
project="$root/examples/demo_app"
service_project="$root/examples/demo_service"

if [ $# -gt 1 ]; then
  echo "usage: $0 [BUILD_DIR]" >&2
  exit 2
fi
if [ $# -eq 1 ]; then
  mkdir -p "$1"
  MIX_BUILD_PATH=$(CDPATH='' cd -- "$1" && pwd)
  export MIX_BUILD_PATH
  build="$MIX_BUILD_PATH"
else
  unset MIX_BUILD_PATH
  build="$project/_build/prod"
fi
# Its own build path: two projects would share compiled protocols in one.
if [ -n "${MIX_BUILD_PATH:-}" ]; then
  service_build="$build/demo_service-build"
else
  service_build="$service_project/_build/prod"
fi

command -v mix >/dev/null 2>&1 || {
  echo "error: mix not found (install Debian's elixir package)" >&2
  exit 1
}

# Mix refuses to run without a home directory; it writes nothing there for a
# project without dependencies.
if [ -z "${HOME:-}" ] || [ ! -d "$HOME" ]; then
  HOME="$build/home"
  mkdir -p "$HOME"
  export HOME
fi
# A non-UTF-8 locale makes the runtime warn and misread non-ASCII names.
case "${LC_ALL:-${LC_CTYPE:-${LANG:-}}}" in
  *[Uu][Tt][Ff]-8* | *[Uu][Tt][Ff]8*) ;;
  *) LC_ALL=C.UTF-8 && export LC_ALL ;;
esac
export MIX_ENV=prod HEX_OFFLINE=1
unset MIX_TARGET MIX_DEPS_PATH MIX_EXS

mkdir -p "$build"
log="$build/build-demo-release.log"
if ! (cd "$project" && mix release --overwrite --quiet &&
  mix release demo_app_rebooting --overwrite --quiet &&
  cd "$service_project" && MIX_BUILD_PATH="$service_build" mix release --overwrite --quiet \
    --path "$build/rel/demo_service") >"$log" 2>&1 </dev/null; then
  cat "$log" >&2
  echo "error: building the demo release failed (log: $log)" >&2
  exit 1
fi

release="$build/rel/demo_app"
if [ ! -f "$release/releases/start_erl.data" ]; then
  echo "error: no release at $release" >&2
  exit 1
fi
echo "$release"
