#!/bin/sh
# Makes rebar3's release template with the application of erlcli_app.erl and
# builds it the ways an Erlang developer would, into BUILD_DIR/erlcli/_build:
#
#   prod/rel/erlcli     `rebar3 as prod release`: what the packer packs
#   default/rel/erlcli  `rebar3 release`: the development mode, whose lib/ is
#                       linked to the build and which has no runtime
#   src/rel/erlcli      sys.config and vm.args only as .src templates
#
#   examples/erlcli/build-releases.sh BUILD_DIR
#
# The project is made afresh with `rebar3 new release erlcli`, untouched but
# for the application module. Needs only Debian's rebar3 and erlang: the
# project has no dependencies, and rebar3 runs with a home directory of its
# own, so neither hex nor the network is touched. rebar3's output goes to a
# log that is shown only when a build fails.
set -eu

here=$(CDPATH='' cd -- "$(dirname -- "$0")" && pwd)
if [ $# -ne 1 ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
command -v rebar3 >/dev/null 2>&1 || {
  echo "error: rebar3 not found (install Debian's rebar3 package)" >&2
  exit 1
}
mkdir -p "$1"
build=$(CDPATH='' cd -- "$1" && pwd)
project="$build/erlcli"
log="$build/build-releases.log"

HOME="$build/home"
export HOME
mkdir -p "$HOME"
unset REBAR_CONFIG REBAR_PROFILE REBAR_BASE_DIR
case "${LC_ALL:-${LC_CTYPE:-${LANG:-}}}" in
  *[Uu][Tt][Ff]-8* | *[Uu][Tt][Ff]8*) ;;
  *) LC_ALL=C.UTF-8 && export LC_ALL ;;
esac

rm -rf "$project"
if ! (cd "$build" && rebar3 new release erlcli &&
  cp "$here/erlcli_app.erl" "$project/apps/erlcli/src/erlcli_app.erl" &&
  cd "$project" &&
  cp config/sys.config config/sys.config.src &&
  cp config/vm.args config/vm.args.src &&
  # The profile of the .src release; without a runtime, which its refusal
  # does not need and which would only take time to copy.
  cat >rebar.config.script <<'SCRIPT' &&
Profiles = proplists:get_value(profiles, CONFIG, []),
Src = {src, [{relx, [{mode, prod}, {include_erts, false},
                     {sys_config_src, "config/sys.config.src"},
                     {vm_args_src, "config/vm.args.src"}]}]},
lists:keystore(profiles, 1, CONFIG, {profiles, [Src | Profiles]}).
SCRIPT
  rebar3 as prod release && rebar3 release && rebar3 as src release) >"$log" 2>&1 </dev/null; then
  cat "$log" >&2
  echo "error: building the rebar3 releases failed (log: $log)" >&2
  exit 1
fi
for profile in prod default src; do
  if [ ! -f "$project/_build/$profile/rel/erlcli/releases/start_erl.data" ]; then
    echo "error: no release at $project/_build/$profile/rel/erlcli" >&2
    exit 1
  fi
done
echo "$project/_build/prod/rel/erlcli"
