#!/bin/sh
# Prepares the Wine prefix the Windows launcher is tested in. Creating a prefix
# prints to standard error, so it is done once here and not during a test that
# compares output bytes. Prints nothing on success; safe to run again.
set -eu

root=$(CDPATH= cd -- "$(dirname -- "$0")/.." && pwd)
WINEPREFIX=${WINEPREFIX:-"$root/build/wine-prefix"}
export WINEPREFIX
export WINEDEBUG=-all
# No window system, and no offer to install the .NET or HTML engines.
unset DISPLAY WAYLAND_DISPLAY
export WINEDLLOVERRIDES="mscoree,mshtml="

if [ -f "$WINEPREFIX/system.reg" ] && [ -f "$WINEPREFIX/.wexlo-ready" ]; then
  exit 0
fi

mkdir -p "$WINEPREFIX"
log="$WINEPREFIX/wineboot.log"
if ! wineboot --init >"$log" 2>&1 || ! wineserver -w >>"$log" 2>&1; then
  echo "wineboot failed for $WINEPREFIX:" >&2
  cat "$log" >&2
  exit 1
fi
: >"$WINEPREFIX/.wexlo-ready"
