#!/bin/sh
# A real aarch64 BEAM, packed on this x86-64 host: tests/aarch64_app is
# released with Debian's arm64 runtime (`include_erts:`), packed by the Mix
# step with no target given, and run under qemu-user 10. The launcher execs
# the erl script, which execs the aarch64 erlexec: that takes binfmt_misc,
# here a private one in a user namespace (Linux 6.7 or later), so nothing
# outside the test changes.
#
#   tests/aarch64_beam_test.sh PACKER SCRATCH_DIR
#
# Exits with 77 (skipped) and says why when the packer has no aarch64 stub,
# the kernel refuses a private binfmt_misc, or Debian's mirror cannot be
# reached and nothing is cached (scripts/aarch64-runtime.sh).
set -eu
skipped=77

fail() {
  echo "aarch64 test: $*" >&2
  exit 1
}

# The part run inside the namespace: QEMU and QEMU_LD_PREFIX come from the
# environment.
if [ "${1:-}" = --inside ]; then
  shift
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  # qemu's own aarch64 ELF pattern, escaped as binfmt_misc reads it; F opens
  # the interpreter now, so it is found whatever the program's mount
  # namespace.
  magic='\x7fELF\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\xb7\x00'
  mask='\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  printf ':qemu-aarch64:M::%s:%s:%s:F' "$magic" "$mask" "$QEMU" >/proc/sys/fs/binfmt_misc/register
  # This process becomes the program: the test signals it by this number.
  if [ -n "${PID_FILE:-}" ]; then echo $$ >"$PID_FILE"; fi
  exec "$@"
fi

if [ $# -ne 2 ]; then
  echo "usage: $0 PACKER SCRATCH_DIR" >&2
  exit 2
fi
packer=$1 scratch=$2
source_dir=$(CDPATH='' cd -- "$(dirname -- "$0")/.." && pwd)
self="$source_dir/tests/aarch64_beam_test.sh"

if [ ! -f "$(dirname -- "$packer")/wexlo-stub-linux-aarch64" ]; then
  echo "skipped: the packer has no aarch64 stub beside it; configure with" \
    "-DWEXLO_AARCH64_STUB=<the cross-built wexlo-stub-linux-aarch64>" >&2
  exit $skipped
fi
if ! reason=$(unshare --user --map-root-user --mount \
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>&1); then
  echo "skipped: this kernel ($(uname -r)) gives a user namespace no binfmt_misc of its own" \
    "(Linux 6.7 or later does): $reason" >&2
  exit $skipped
fi
status=0
runtime=$(sh "$source_dir/scripts/aarch64-runtime.sh") || status=$?
if [ $status -eq 75 ]; then
  echo "skipped: Debian's arm64 runtime cannot be downloaded (see above)" >&2
  exit $skipped
fi
[ $status -eq 0 ] || fail "scripts/aarch64-runtime.sh failed"
erts=$(echo "$runtime"/root/usr/lib/erlang/erts-*)

rm -rf "$scratch"
mkdir -p "$scratch/home"
cp -r "$source_dir/tests/aarch64_app" "$scratch/app"

# The two releases, as a user builds them: one `mix release NAME` each.
for release in hasher hasher_service; do
  (cd "$scratch/app" && env -u MIX_BUILD_PATH -u MIX_DEPS_PATH -u MIX_EXS -u MIX_TARGET \
    HOME="$scratch/home" MIX_HOME="$scratch/home/mix" MIX_ENV=prod HEX_OFFLINE=1 \
    LC_ALL=C.UTF-8 WEXLO_PACKAGE_DIR="$source_dir/elixir" HASHER_ERTS="$erts" \
    WEXLO_PACKER="$packer" mix release "$release" --overwrite) \
    >"$scratch/$release.log" 2>&1 </dev/null || {
    cat "$scratch/$release.log" >&2
    fail "mix release $release failed"
  }
done
hasher="$scratch/app/_build/prod/wexlo/hasher"
service="$scratch/app/_build/prod/wexlo/hasher_service"
"$packer" inspect "$hasher" | grep -qx "target: linux-aarch64" ||
  fail "the step did not pack for linux-aarch64: $("$packer" inspect "$hasher")"

# Runs a command in the namespace, with the arm64 libraries as qemu's root;
# one that hangs is killed after 5 minutes.
inside() {
  timeout -s KILL 300 env -i PATH="$PATH" HOME="$scratch/home" LANG=C.UTF-8 XDG_DATA_HOME="$scratch/data" \
    PID_FILE="${PID_FILE:-}" QEMU="$runtime/qemu-aarch64" QEMU_LD_PREFIX="$runtime/root" \
    unshare --user --map-root-user --mount sh "$self" --inside "$@"
}

# Arguments in, output and exit status out, crypto's NIF loaded.
status=0
inside "$hasher" one "two words" "" >"$scratch/hasher.out" 2>&1 || status=$?
expected_hash=$(printf 'one two words ' | sha256sum | cut -d ' ' -f 1)
printf 'arch: aarch64-unknown-linux-gnu\nargs: ["one", "two words", ""]\nsha256: %s\n' \
  "$expected_hash" >"$scratch/hasher.expected"
cmp -s "$scratch/hasher.out" "$scratch/hasher.expected" ||
  fail "hasher printed: $(cat "$scratch/hasher.out")"
[ $status -eq 3 ] || fail "hasher ended with status $status, not 3"

# A service stops cleanly on SIGTERM: its stop/1 runs and the status is 0.
PID_FILE="$scratch/service.pid" inside "$service" serve >"$scratch/service.out" 2>&1 &
pid=$!
tries=0
until grep -q "hasher serving" "$scratch/service.out"; do
  tries=$((tries + 1))
  if [ $tries -gt 600 ] || ! kill -0 $pid 2>/dev/null; then
    kill -KILL "$(cat "$scratch/service.pid" 2>/dev/null)" 2>/dev/null || true
    fail "the service did not start: $(cat "$scratch/service.out")"
  fi
  sleep 0.2
done
kill -TERM "$(cat "$scratch/service.pid")"
status=0
wait $pid || status=$?
[ $status -eq 0 ] || fail "the service ended with status $status after SIGTERM"
grep -qx "hasher stopped" "$scratch/service.out" ||
  fail "the service's stop/1 did not run: $(cat "$scratch/service.out")"
echo "aarch64 test: passed (qemu $("$runtime/qemu-aarch64" --version | head -n 1 | cut -d ' ' -f 3))"
