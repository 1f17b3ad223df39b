#!/bin/sh
# The packer as a user installs it: the .deb made by `cpack -G DEB` is
# unpacked into a scratch root, and the wexlo found there alone (no build
# tree, no --stub) packs the example release, on a terminal, and the
# executable it makes runs.
#
#   tests/install_package_test.sh CPACK BUILD_DIR RELEASE_DIR VERSION SCRATCH_DIR
set -eu
if [ $# -ne 5 ]; then
  echo "usage: $0 CPACK BUILD_DIR RELEASE_DIR VERSION SCRATCH_DIR" >&2
  exit 2
fi
cpack=$1 build=$2 release=$3 version=$4 scratch=$5

fail() {
  echo "install test: $*" >&2
  exit 1
}

rm -rf "$scratch"
mkdir -p "$scratch"
if ! "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/package" \
  >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log" >&2
  fail "cpack failed"
fi
deb="$scratch/package/wexlo_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || fail "no package at $deb"
dpkg-deb -x "$deb" "$scratch/root"
wexlo="$scratch/root/usr/bin/wexlo"
stubs="$scratch/root/usr/lib/wexlo"

# --version names this build and every stub built with it (the cross-built
# ones too, when the build was given them), installed.
"$wexlo" --version >"$scratch/version.out"
[ "$(head -n 1 "$scratch/version.out")" = "wexlo $version" ] ||
  fail "--version says: $(cat "$scratch/version.out")"
for stub in "$build"/bin/wexlo-stub-*; do
  name=$(basename "$stub") target=${name#wexlo-stub-}
  grep -qx "  ${target%.exe} *$stubs/$name" "$scratch/version.out" ||
    fail "--version lists no installed ${target%.exe} stub: $(cat "$scratch/version.out")"
done

# On a terminal the packer ends with one line naming what it made.
script -qec "'$wexlo' pack '$release' -o '$scratch/demo_app'" /dev/null \
  >"$scratch/pack.out" </dev/null || {
  cat "$scratch/pack.out" >&2
  fail "packing failed"
}
grep -q "^packed demo_app ([0-9.]* MB, [0-9]* files) -> $scratch/demo_app" "$scratch/pack.out" ||
  fail "no summary line in: $(cat "$scratch/pack.out")"

mkdir -p "$scratch/home"
greeting=$(env -i PATH="$PATH" HOME="$scratch/home" LANG=C.UTF-8 \
  XDG_DATA_HOME="$scratch/data" "$scratch/demo_app" Ada)
[ "$greeting" = "Hello, Ada!" ] || fail "the packed demo said: $greeting"
[ -d "$scratch/data/.wexlo" ] || fail "the packed demo did not install into $scratch/data"
