#!/bin/sh
# Installs everything the project needs on a fresh Debian 12 machine: the
# compilers (native and mingw-w64), the libraries, the test tools, Wine, and
# Erlang/Elixir for the example release. Safe to run again.
set -eu

packages="build-essential cmake ninja-build pkg-config git ca-certificates
  liblzma-dev rapidjson-dev libcli11-dev libgtest-dev libgmock-dev clang-format
  g++-mingw-w64-x86-64-posix wine wine64 osslsigncode dpkg-dev
  erlang elixir hyperfine time xz-utils"

missing=
for package in $packages; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing="$missing $package"
  fi
done

if [ -n "$missing" ]; then
  sudo=
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo -n"; fi
  export DEBIAN_FRONTEND=noninteractive
  echo "setup: installing$missing" >&2
  $sudo apt-get -q -o DPkg::Lock::Timeout=600 update </dev/null >&2
  # shellcheck disable=SC2086
  $sudo apt-get -q -y -o DPkg::Lock::Timeout=600 install $missing \
    </dev/null >&2
fi
