#!/bin/sh
# Builds the first-run benchmark's corpus, a release-shaped tree made from
# Debian's installed Erlang/OTP and seeded pseudo-random data:
#
#   sh bench/make_corpus.sh OUT_DIR [SEED]
#
#   erts-<v>/{bin,include,lib}  the runtime's files, with bin/erl replaced by a
#                               stand-in that exits at once (bench/stand_in_erl.cc)
#   lib/<app>-<v>/{ebin,priv}   every installed OTP application's ebin and priv
#   lib/corpus-1.0.0/           the application: ebin/corpus.app, and 16 MiB of
#                               incompressible data in priv/static, drawn from SEED
#                               (CORPUS_RANDOM_MIB=N makes it N MiB)
#   releases/, bin/corpus       what a release build writes
#
# The tree is the same byte for byte wherever the same erlang packages are
# installed: names, contents, modes (0755 where the source is executable,
# else 0644) and mtimes (all one fixed time) depend on nothing else. Symbolic
# links in OTP's tree point into other packages and are left out. Prints one
# line saying what was made from what.
set -eu
root=$(CDPATH='' cd -- "$(dirname -- "$0")/.." && pwd)

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 OUT_DIR [SEED]" >&2
  exit 2
fi
out=$1
seed=${2:-1}
otp=/usr/lib/erlang
app=corpus
vsn=1.0.0
epoch=1704067200           # 2024-01-01 00:00 UTC: every file's and directory's mtime
random_bytes=$((${CORPUS_RANDOM_MIB:-16} * 1048576))
random_files=512
export LC_ALL=C

if [ ! -f "$otp/releases/start_erl.data" ]; then
  echo "error: no Erlang/OTP in $otp (sh scripts/setup.sh installs it)" >&2
  exit 1
fi
# "ERTS_VSN OTP_RELEASE"
read -r erts otp_release <"$otp/releases/start_erl.data"
erlang_version=$(dpkg-query -W -f='${Version}' erlang-base)

cmake --preset release >/dev/null
cmake --build --preset release --target bench_stand_in_erl bench_seeded_files >/dev/null
bin="$root/build/release/bin"

rm -rf "$out"
mkdir -p "$out"
list=$(mktemp)
trap 'rm -f "$list"' EXIT

# OTP's files, copied in name order.
(
  cd "$otp"
  for dir in "erts-$erts/bin" "erts-$erts/include" "erts-$erts/lib" lib/*/ebin lib/*/priv; do
    if [ -d "$dir" ]; then find "$dir" -type f ! -path "erts-$erts/bin/erl"; fi
  done | sort
) >"$list"
tar -C "$otp" --no-recursion -T "$list" -cf - | tar -C "$out" -xf -
cp "$bin/bench_stand_in_erl" "$out/erts-$erts/bin/erl"

"$bin/bench_seeded_files" "$seed" "$random_files" "$random_bytes" \
  "$out/lib/$app-$vsn/priv/static"
mkdir -p "$out/lib/$app-$vsn/ebin"
printf '{application,%s,\n [{description,"First-run benchmark corpus"},\n  {vsn,"%s"},\n  {modules,[]},\n  {registered,[]},\n  {applications,[kernel,stdlib]}]}.\n' \
  "$app" "$vsn" >"$out/lib/$app-$vsn/ebin/$app.app"

# The release files; the packer reads the .rel under releases/<vsn>.
mkdir -p "$out/releases/$vsn" "$out/bin"
printf '%s %s\n' "$erts" "$vsn" >"$out/releases/start_erl.data"
printf 'corpus-benchmark-cookie-%s' "$seed" >"$out/releases/COOKIE"
apps=$(for dir in "$out"/lib/*-*/; do
  dir=$(basename "$dir")
  printf '{%s,"%s"}\n' "${dir%-*}" "${dir##*-}"
done | sed '1!s/^/  /; $!s/$/,/')
printf '{release,{"%s","%s"},{erts,"%s"},\n [%s]}.\n' "$app" "$vsn" "$erts" "$apps" \
  >"$out/releases/$vsn/$app.rel"
cp "$out/releases/$vsn/$app.rel" "$out/releases/$app.rel"
cp "$otp/releases/$otp_release/start.boot" "$out/releases/$vsn/start.boot"
printf '[].\n' >"$out/releases/$vsn/sys.config"
printf '## Arguments for the runtime\n-sname %s\n+K true\n+A 16\n' "$app" >"$out/releases/$vsn/vm.args"
cat >"$out/bin/$app" <<EOF
#!/bin/sh
# Starts the $app release in place.
set -e
RELEASE_ROOT=\$(CDPATH='' cd -- "\$(dirname -- "\$0")/.." && pwd)
exec "\$RELEASE_ROOT/erts-$erts/bin/erl" -boot "\$RELEASE_ROOT/releases/$vsn/start" \\
  -boot_var RELEASE_LIB "\$RELEASE_ROOT/lib" -args_file "\$RELEASE_ROOT/releases/$vsn/vm.args" \\
  -config "\$RELEASE_ROOT/releases/$vsn/sys.config" -extra "\$@"
EOF

# Modes and mtimes as the same everywhere, whatever the umask or the source's.
find "$out" -type d -exec chmod 0755 {} +
find "$out" -type f -perm -u=x -exec chmod 0755 {} +
find "$out" -type f ! -perm -u=x -exec chmod 0644 {} +
chmod 0755 "$out/erts-$erts/bin/erl" "$out/bin/$app"
find "$out" -exec touch -h -d "@$epoch" {} +

files=$(find "$out" -type f | wc -l)
bytes=$(find "$out" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
awk -v f="$files" -v b="$bytes" -v e="$erlang_version" -v v="$erts" -v s="$seed" 'BEGIN {
  printf "corpus: %d files, %d bytes (%.1f MiB); OTP from erlang-base %s (erts %s); seed %s\n",
    f, b, b / 1048576, e, v, s }'
