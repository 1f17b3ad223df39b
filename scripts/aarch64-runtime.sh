#!/bin/sh
# Fetches Debian's arm64 Erlang runtime and a qemu-user that runs it, for
# tests that start a real aarch64 BEAM on this x86-64 host, and prints the
# directory that holds them:
#
#   scripts/aarch64-runtime.sh [DIR [PACKAGE...]]   # default build/aarch64-runtime
#
#   DIR/root            erlang-base and erlang-crypto for arm64 (and the
#                       further PACKAGEs, e.g. erlang-asn1) and the shared
#                       libraries they need, unpacked: a QEMU_LD_PREFIX, and
#                       the runtime for `include_erts:`
#                       (DIR/root/usr/lib/erlang/erts-<v>)
#   DIR/qemu-aarch64    bookworm-backports' static qemu-aarch64 (Debian 12's
#                       own 7.2 crashes on OTP 25's aarch64 beam.smp)
#
# Nothing is installed on the machine: a private apt configuration (its own
# sources, state and cache under DIR/apt) downloads the packages and
# `dpkg-deb -x` unpacks them. The erlang-* packages are taken at the host's
# erlang-base version, the same OTP as the one that compiles the release.
# Safe to run again: a complete DIR with the same packages is kept as it is. Exits with status 75 when the mirror cannot
# be reached and nothing is cached.
set -eu

root=$(CDPATH='' cd -- "$(dirname -- "$0")/.." && pwd)
dir=${1:-$root/build/aarch64-runtime}
[ $# -eq 0 ] || shift
wanted="erlang-base erlang-crypto $*"
mkdir -p "$dir"
dir=$(CDPATH='' cd -- "$dir" && pwd)
mirror=${WEXLO_DEBIAN_MIRROR:-http://deb.debian.org/debian}
keyring=/usr/share/keyrings/debian-archive-keyring.gpg

if [ -f "$dir/complete" ] && [ "$(cat "$dir/complete")" = "$wanted" ]; then
  echo "$dir"
  exit 0
fi

# The host's runtime version: the arm64 one must be the same OTP.
version=$(dpkg-query -W -f='${Version}' erlang-base 2>/dev/null) || {
  echo "error: erlang-base is not installed (run scripts/setup.sh)" >&2
  exit 1
}

apt="$dir/apt"
rm -rf "$apt" "$dir/root" "$dir/qemu-aarch64"
mkdir -p "$apt/etc/sources.list.d" "$apt/etc/apt.conf.d" "$apt/etc/preferences.d" \
  "$apt/state/lists/partial" "$apt/cache/archives/partial" "$apt/debs"
: >"$apt/state/status"
# arm64 packages from bookworm; amd64 ones from backports alone (qemu-user).
cat >"$apt/etc/sources.list.d/debian.sources" <<EOF
Types: deb
URIs: $mirror
Suites: bookworm
Components: main
Architectures: arm64
Signed-By: $keyring

Types: deb
URIs: $mirror
Suites: bookworm-backports
Components: main
Architectures: amd64
Signed-By: $keyring
EOF
cat >"$apt/apt.conf" <<EOF
APT::Architecture "arm64";
APT::Architectures { "arm64"; "amd64"; };
Dir::Etc "$apt/etc";
Dir::Etc::main "/dev/null";
Dir::Etc::SourceList "/dev/null";
Dir::Etc::SourceParts "$apt/etc/sources.list.d";
Dir::Etc::Parts "$apt/etc/apt.conf.d";
Dir::Etc::Preferences "/dev/null";
Dir::Etc::PreferencesParts "$apt/etc/preferences.d";
Dir::State "$apt/state";
Dir::State::status "$apt/state/status";
Dir::Cache "$apt/cache";
Acquire::Languages "none";
Acquire::Retries "2";
APT::Sandbox::User "root";
EOF
export APT_CONFIG="$apt/apt.conf"

if ! apt-get -q update >"$apt/update.log" 2>&1 || grep -q '^[WE]: ' "$apt/update.log"; then
  cat "$apt/update.log" >&2
  echo "error: cannot fetch Debian's package lists from $mirror" >&2
  exit 75
fi

# The runtime's packages and, through their Depends, the shared libraries they
# link (libc6, libtinfo6, libssl3, zlib1g, ...); other dependencies (procps,
# adduser and so on) are for an installed system, not for the runtime.
queue=$wanted packages=""
while [ -n "$queue" ]; do
  # shellcheck disable=SC2086 # a list of package names
  set -- $queue
  queue=""
  for package in "$@"; do
    case " $packages " in *" $package "*) continue ;; esac
    packages="$packages $package"
    for dep in $(apt-cache depends --no-recommends --no-suggests --no-conflicts --no-breaks \
      --no-replaces --no-enhances "$package" | sed -n 's/^ *|\{0,1\}\(Pre\)\{0,1\}Depends: \([^<:]*\)$/\2/p'); do
      case "$dep" in lib* | zlib1g) queue="$queue $dep" ;; esac
    done
  done
done

fetch() {
  (cd "$apt/debs" && apt-get -q download "$@") >>"$apt/download.log" 2>&1 || {
    cat "$apt/download.log" >&2
    echo "error: downloading $* failed" >&2
    exit 75
  }
}
# shellcheck disable=SC2046 # a list of package names
fetch $(for package in $packages; do
  case "$package" in erlang-*) echo "$package=$version" ;; *) echo "$package" ;; esac
done)
fetch qemu-user:amd64/bookworm-backports

mkdir -p "$dir/root" "$apt/qemu"
for deb in "$apt"/debs/*_arm64.deb; do dpkg-deb -x "$deb" "$dir/root"; done
# Of qemu-user's emulators (360 MB) only the aarch64 one is kept.
dpkg-deb -x "$apt"/debs/qemu-user_*_amd64.deb "$apt/qemu"
mv "$apt/qemu/usr/bin/qemu-aarch64" "$dir/qemu-aarch64"
"$dir/qemu-aarch64" --version | head -n 1 >&2
rm -rf "$apt/state/lists" "$apt/cache" "$apt/debs" "$apt/qemu"
for erlexec in "$dir"/root/usr/lib/erlang/erts-*/bin/erlexec; do
  [ -x "$erlexec" ] || {
    echo "error: no erts-<v>/bin/erlexec in $dir/root/usr/lib/erlang" >&2
    exit 1
  }
done
echo "$wanted" >"$dir/complete"
echo "$dir"
