#!/bin/sh
# Installs everything the project needs on a fresh Debian 12 machine: the
# compilers (native, mingw-w64 and aarch64, and clang with libFuzzer for the
# fuzzers), the libraries, the test tools, Wine, qemu-user, and Erlang/Elixir
# for the example release. Safe to run again.
set -eu

packages="build-essential cmake ninja-build pkg-config git ca-certificates
  liblzma-dev libzstd-dev rapidjson-dev libcli11-dev libgtest-dev libgmock-dev clang-format
  clang-16 libclang-rt-16-dev
  g++-mingw-w64-x86-64-posix wine wine64 osslsigncode dpkg-dev
  g++-aarch64-linux-gnu erlang elixir rebar3 hyperfine time xz-utils zstd strace"
# Installed without their recommendations: qemu-user's would register it with
# the kernel's binfmt_misc for the whole machine; the tests call qemu-aarch64
# by name instead. systemd only for `systemd-analyze verify` of the README's
# unit example.
bare_packages="qemu-user systemd"

not_installed() {
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      printf ' %s' "$package"
    fi
  done
}
# shellcheck disable=SC2086
missing=$(not_installed $packages)
# shellcheck disable=SC2086
missing_bare=$(not_installed $bare_packages)

if [ -n "$missing$missing_bare" ]; then
  sudo=
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo -n"; fi
  export DEBIAN_FRONTEND=noninteractive
  echo "setup: installing$missing$missing_bare" >&2
  apt_get() { $sudo apt-get -q -y -o DPkg::Lock::Timeout=600 "$@" </dev/null >&2; }
  apt_get update
  # shellcheck disable=SC2086
  if [ -n "$missing" ]; then apt_get install $missing; fi
  # shellcheck disable=SC2086
  if [ -n "$missing_bare" ]; then apt_get install --no-install-recommends $missing_bare; fi
fi
