#!/bin/sh
# Runs a Windows program under Wine the way the tests expect: in the project's
# prepared prefix, with no debug output and no window system. The program's
# exit status is relayed (Wine reports a code whose low byte is 0 but which is
# not 0 as 1).
set -eu
root=$(CDPATH= cd -- "$(dirname -- "$0")/.." && pwd)
WINEPREFIX=${WINEPREFIX:-"$root/build/wine-prefix"}
export WINEPREFIX
"$root/scripts/wine-prefix.sh"
unset DISPLAY WAYLAND_DISPLAY
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
exec wine "$@"
