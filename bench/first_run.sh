#!/bin/sh
# A packed release's first run, later runs and packing, each against a named
# baseline measured in the same run, on the corpus of bench/make_corpus.sh:
#
#   sh bench/first_run.sh [SEED]
#
#   first run    the packed corpus unpacking into a new install root, vs
#                `xz -dc corpus.tar.xz | tar -x` of the same tree (xz -9 -T1),
#                and vs that pipeline followed by `sync -f` of its tree ("peer
#                + flush": a first run makes its tree durable, the plain peer
#                does not); medians of 5 runs each, all alternating
#   peak RSS     of the first run (median of the 5), vs the budget of 128 MiB
#   later run    a run that finds its install, with ten other applications'
#                installs beside it, vs executing the installed runtime
#                stand-in directly; medians of 200 runs each. A third
#                baseline, an empty static C++ program linked as the stub is
#                (bench/empty_static.cc), splits the difference into what
#                starting any such program costs and the launcher's own work
#   packer       `wexlo pack` vs `xz -9e -T1` of the tree's tar: one timed
#                run each; sizes of the compressed release alone
#   zstd         the same corpus packed with `--compression zstd`: its first
#                run vs both `xz -dc | tar -x` and `zstd -dc | tar -x` (zstd
#                -19 -T1) of the same tree, alternating with the runs above,
#                and how long one of its first runs spends in syncfs (strace);
#                its peak RSS; its size vs `xz -9e -T1`
#   large        a second corpus with LARGE_MIB MiB (default 256) of random
#                data in priv/, packed with both compressions (zstd at level
#                1, xz at the packer's preset); the peak RSS of one first run
#                of each, vs the budget of 128 MiB; the packer's peak RSS and
#                that of `wexlo inspect --verify`, vs their budget of 512 MiB
#
# Page caches are not dropped between runs (that needs privileges this machine
# does not give), so every run reads warm files. Timings are wall clock on a
# machine that may be shared: the load average is printed with the table.
# Everything lands in build/bench-first-run, raw timings included.
set -eu
root=$(CDPATH='' cd -- "$(dirname -- "$0")/.." && pwd)
cd "$root"
seed=${1:-1}
large_mib=${LARGE_MIB:-256}
work="$root/build/bench-first-run"
tree="$work/tree"
install="$work/installs"
extract="$work/extracted"
launcher="$work/corpus"
export LC_ALL=C

step() { printf 'first_run: %s\n' "$*" >&2; }
now() { date +%s.%N; }
seconds_since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.3f\n", b - a }'; }
# The median column of a hyperfine CSV export, for the row named $2.
median_of() { awk -F, -v name="$2" '$1 == name { print $4 }' "$1"; }
# The median of the numbers on standard input, one a line.
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

step "building (release preset)"
cmake --preset release >/dev/null
cmake --build --preset release --target wexlo_packer wexlo_stub bench_empty_static >/dev/null
packer="$root/build/release/bin/wexlo"

rm -rf "$work"
mkdir -p "$work"
step "making the corpus"
corpus_line=$(sh bench/make_corpus.sh "$tree" "$seed")
erts=$(cut -d' ' -f1 "$tree/releases/start_erl.data")
tree_bytes=$(find "$tree" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
tar --sort=name --format=gnu --owner=0 --group=0 --numeric-owner -C "$tree" -cf "$work/corpus.tar" .
tar_sha=$(sha256sum "$work/corpus.tar" | cut -c1-16)
load_at_start=$(cut -d' ' -f1-3 /proc/loadavg)

step "packing with wexlo"
start=$(now)
"$packer" pack --quiet "$tree" -o "$launcher"
pack_seconds=$(seconds_since "$start")
payload_bytes=$("$packer" inspect "$launcher" | awk '/^compressed length:/ { print $3 }')
launcher_bytes=$(stat -c %s "$launcher")

step "packing with wexlo --compression zstd"
start=$(now)
"$packer" pack --quiet "$tree" -o "$launcher-zstd" --compression zstd
zstd_pack_seconds=$(seconds_since "$start")
zstd_payload_bytes=$("$packer" inspect "$launcher-zstd" | awk '/^compressed length:/ { print $3 }')

step "compressing with xz -9e -T1 (packer baseline)"
start=$(now)
xz -9e -T1 -c "$work/corpus.tar" >"$work/corpus.tar.9e.xz"
xz9e_seconds=$(seconds_since "$start")
xz9e_bytes=$(stat -c %s "$work/corpus.tar.9e.xz")

step "compressing with xz -9 -T1 (first-run baseline, not timed)"
xz -9 -T1 -c "$work/corpus.tar" >"$work/corpus.tar.xz"
step "compressing with zstd -19 -T1 (first-run baseline, not timed)"
zstd -q -19 -T1 -c "$work/corpus.tar" >"$work/corpus.tar.zst"

export CORPUS_INSTALL_DIR="$install"
step "first runs"
# Each line of a .times file: wall seconds, user and system CPU seconds, peak
# RSS in KiB. The two alternate, so that a change in the machine's load hits
# both alike.
# Each starts with nothing left to write back from the runs before it, so
# that no run's flush pays for another's files.
measure() {
  name=$1
  shift
  sync
  /usr/bin/time -f '%e %U %S %M' -a -o "$work/$name.times" "$@"
}
# Every run gets a new directory, and all are deleted only at the end: a
# file system may hand out the inodes of files deleted a moment ago only
# after a slow search (ext4 without a journal does), which no user's first
# run meets.
for n in 1 2 3 4 5; do
  measure first-run env "CORPUS_INSTALL_DIR=$install.$n" "$launcher" >/dev/null
  mkdir "$extract.$n"
  # shellcheck disable=SC2016 # the inner shell expands them
  measure pipeline sh -c 'xz -dc "$1" | tar -x -C "$2"' sh "$work/corpus.tar.xz" "$extract.$n"
  mkdir "$extract-flush.$n"
  # shellcheck disable=SC2016 # the inner shell expands them
  measure pipeline-flush sh -c 'xz -dc "$1" | tar -x -C "$2" && sync -f "$2"' sh \
    "$work/corpus.tar.xz" "$extract-flush.$n"
  measure first-run-zstd env "CORPUS_INSTALL_DIR=$install-zstd.$n" "$launcher-zstd" >/dev/null
  mkdir "$extract-zstd.$n"
  # shellcheck disable=SC2016 # the inner shell expands them
  measure pipeline-zstd sh -c 'zstd -dc "$1" | tar -x -C "$2"' sh "$work/corpus.tar.zst" \
    "$extract-zstd.$n"
  mkdir "$extract-zstd-flush.$n"
  # shellcheck disable=SC2016 # the inner shell expands them
  measure pipeline-zstd-flush sh -c 'zstd -dc "$1" | tar -x -C "$2" && sync -f "$2"' sh \
    "$work/corpus.tar.zst" "$extract-zstd-flush.$n"
done
# One more zstd first run, to see how much of it is making the tree durable.
sync
strace -f -T -e trace=syncfs -o "$work/syncfs.strace" \
  env "CORPUS_INSTALL_DIR=$install-zstd.strace" "$launcher-zstd" >/dev/null
syncfs_seconds=$(sed -n 's/.*syncfs(.*<\([0-9.]*\)>$/\1/p' "$work/syncfs.strace" | awk '{ s += $1 } END { print s + 0 }')
rm -rf "$install".? "$extract".? "$install"-zstd.* "$extract"-zstd.? "$extract"-flush.? \
  "$extract"-zstd-flush.?
zstd_first_run=$(awk '{ print $1 }' "$work/first-run-zstd.times" | median)
zstd_pipeline=$(awk '{ print $1 }' "$work/pipeline-zstd.times" | median)
zstd_pipeline_flush=$(awk '{ print $1 }' "$work/pipeline-zstd-flush.times" | median)
pipeline_flush=$(awk '{ print $1 }' "$work/pipeline-flush.times" | median)
zstd_first_run_cpu=$(awk '{ print $2 + $3 }' "$work/first-run-zstd.times" | median)
zstd_peak_rss_kib=$(awk '{ print $4 }' "$work/first-run-zstd.times" | median)
first_run=$(awk '{ print $1 }' "$work/first-run.times" | median)
pipeline=$(awk '{ print $1 }' "$work/pipeline.times" | median)
first_run_cpu=$(awk '{ print $2 + $3 }' "$work/first-run.times" | median)
pipeline_cpu=$(awk '{ print $2 + $3 }' "$work/pipeline.times" | median)
peak_rss_kib=$(awk '{ print $4 }' "$work/first-run.times" | median)

step "large release: ${large_mib} MiB of random data"
large="$work/large"
CORPUS_RANDOM_MIB=$large_mib sh bench/make_corpus.sh "$large/tree" "$seed" >/dev/null
large_bytes=$(find "$large/tree" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
/usr/bin/time -f '%M %e' -o "$large/pack-xz.rss" \
  "$packer" pack --quiet "$large/tree" -o "$large/corpus"
/usr/bin/time -f '%M %e' -o "$large/pack-zstd.rss" \
  "$packer" pack --quiet "$large/tree" -o "$large/corpus-zstd" --compression zstd --level 1
rm -rf "$large/tree"
/usr/bin/time -f '%M' -o "$large/verify.rss" "$packer" inspect --verify "$large/corpus" >/dev/null
/usr/bin/time -f '%M' -o "$large/verify-zstd.rss" \
  "$packer" inspect --verify "$large/corpus-zstd" >/dev/null
/usr/bin/time -f '%M' -o "$large/xz.rss" env "CORPUS_INSTALL_DIR=$large/install" \
  "$large/corpus" >/dev/null
/usr/bin/time -f '%M' -o "$large/zstd.rss" env "CORPUS_INSTALL_DIR=$large/install-zstd" \
  "$large/corpus-zstd" >/dev/null
large_rss_kib=$(cat "$large/xz.rss")
large_zstd_rss_kib=$(cat "$large/zstd.rss")
pack_rss_kib=$(cut -d' ' -f1 "$large/pack-xz.rss")
pack_zstd_rss_kib=$(cut -d' ' -f1 "$large/pack-zstd.rss")
pack_large_seconds=$(cut -d' ' -f2 "$large/pack-xz.rss")
pack_zstd_large_seconds=$(cut -d' ' -f2 "$large/pack-zstd.rss")
verify_rss_kib=$(awk '$1 > m { m = $1 } END { print m }' "$large/verify.rss" "$large/verify-zstd.rss")
rm -rf "$large"

step "later runs"
# Ten small applications installed beside the corpus, the way their own
# launchers install them.
others="$work/others"
mkdir -p "$others/release/erts-$erts/bin" "$others/release/releases"
cp "$tree/erts-$erts/bin/erl" "$others/release/erts-$erts/bin/"
cp -R "$tree/releases/." "$others/release/releases/"
for n in 01 02 03 04 05 06 07 08 09 10; do
  "$packer" pack --quiet "$others/release" --app-name "other$n" -o "$others/other$n"
  env "OTHER${n}_INSTALL_DIR=$install" "$others/other$n" >/dev/null
done
installed="$install/.wexlo/corpus_erts-${erts}_1.0.0"
hyperfine --style basic -N --warmup 20 --runs 200 --export-csv "$work/later-run.csv" \
  --command-name "later run" "$launcher" \
  --command-name "direct exec" "$installed/erts-$erts/bin/erl" \
  --command-name "empty static" "$root/build/release/bin/bench_empty_static" \
  >"$work/later-run.log" 2>&1
later_run=$(median_of "$work/later-run.csv" "later run")
direct=$(median_of "$work/later-run.csv" "direct exec")
empty_static=$(median_of "$work/later-run.csv" "empty static")

echo "$corpus_line"
echo "tar of the tree: sha256 $tar_sha...; $(nproc) cores, load average at start $load_at_start"
echo
awk -v first="$first_run" -v pipe="$pipeline" -v pipeflush="$pipeline_flush" \
  -v zpipeflush="$zstd_pipeline_flush" -v large="$large_bytes" -v lrss="$large_rss_kib" \
  -v lzrss="$large_zstd_rss_kib" -v prss="$pack_rss_kib" -v pzrss="$pack_zstd_rss_kib" \
  -v vrss="$verify_rss_kib" -v plarge="$pack_large_seconds" \
  -v pzlarge="$pack_zstd_large_seconds" -v first_cpu="$first_run_cpu" -v pipe_cpu="$pipeline_cpu" \
  -v rss="$peak_rss_kib" -v tree="$tree_bytes" \
  -v later="$later_run" -v direct="$direct" -v empty="$empty_static" \
  -v pack="$pack_seconds" -v xz="$xz9e_seconds" \
  -v payload="$payload_bytes" -v launcher="$launcher_bytes" -v xzsize="$xz9e_bytes" \
  -v zfirst="$zstd_first_run" -v zpipe="$zstd_pipeline" -v zfirst_cpu="$zstd_first_run_cpu" \
  -v zrss="$zstd_peak_rss_kib" -v zpayload="$zstd_payload_bytes" -v zpack="$zstd_pack_seconds" \
  -v syncfs="$syncfs_seconds" 'BEGIN {
  mib = 1048576
  row("measure", "wexlo", "baseline", "result", "target", "")
  row("---", "---", "---", "---", "---", "---")
  r = first / pipe
  row("first run, median of 5", sprintf("%.2f s", first),
      sprintf("%.2f s  xz -dc into tar -x", pipe), sprintf("%.2fx", r), "<= 0.6x", met(r <= 0.6))
  r = first / pipeflush
  row("first run, median of 5", sprintf("%.2f s", first),
      sprintf("%.2f s  the same + sync -f", pipeflush), sprintf("%.2fx", r), "", "")
  row("peak RSS, first run", sprintf("%.1f MiB", rss / 1024),
      sprintf("%.1f MiB  tree size", tree / mib), "", "<= 128 MiB", met(rss / 1024 <= 128))
  d = (later - direct) * 1000
  row("later run, median of 200", sprintf("%.2f ms", later * 1000),
      sprintf("%.2f ms  direct exec", direct * 1000), sprintf("%+.2f ms", d), "<= +0.5 ms",
      met(d <= 0.5))
  d = (empty - direct) * 1000
  row("  floor: a static program", sprintf("%.2f ms", empty * 1000),
      sprintf("%.2f ms  direct exec", direct * 1000), sprintf("%+.2f ms", d), "", "")
  d = (later - empty) * 1000
  row("  the launcher itself", sprintf("%.2f ms", later * 1000),
      sprintf("%.2f ms  empty static program", empty * 1000), sprintf("%+.2f ms", d), "", "")
  r = xz / pack
  row("packer, wall time", sprintf("%.1f s", pack), sprintf("%.1f s  xz -9e -T1", xz),
      sprintf("%.2fx as fast", r), ">= 2x", met(r >= 2))
  d = (payload / xzsize - 1) * 100
  row("packer, compressed size", sprintf("%.2f MiB", payload / mib),
      sprintf("%.2f MiB  xz -9e -T1", xzsize / mib), sprintf("%+.2f %%", d), "<= +3 %",
      met(d <= 3))
  r = zfirst / pipe
  row("zstd first run, median 5", sprintf("%.2f s", zfirst),
      sprintf("%.2f s  xz -dc into tar -x", pipe), sprintf("%.2fx", r), "<= 0.15x", met(r <= 0.15))
  r = zfirst / zpipe
  row("zstd first run, median 5", sprintf("%.2f s", zfirst),
      sprintf("%.2f s  zstd -dc into tar -x", zpipe), sprintf("%.2fx", r), "<= 1.0x", met(r <= 1))
  r = zfirst / zpipeflush
  row("zstd first run, median 5", sprintf("%.2f s", zfirst),
      sprintf("%.2f s  the same + sync -f", zpipeflush), sprintf("%.2fx", r), "", "")
  row("  of which syncfs (1 run)", sprintf("%.2f s", syncfs), "", "", "", "")
  row("zstd peak RSS, first run", sprintf("%.1f MiB", zrss / 1024),
      sprintf("%.1f MiB  tree size", tree / mib), "", "<= 128 MiB", met(zrss / 1024 <= 128))
  row("large release, peak RSS", sprintf("%.1f MiB", lrss / 1024),
      sprintf("%.1f MiB  tree size", large / mib), "xz", "<= 128 MiB", met(lrss / 1024 <= 128))
  row("large release, peak RSS", sprintf("%.1f MiB", lzrss / 1024),
      sprintf("%.1f MiB  tree size", large / mib), "zstd", "<= 128 MiB", met(lzrss / 1024 <= 128))
  row("large release, packer RSS", sprintf("%.1f MiB", prss / 1024),
      sprintf("%.1f MiB  tree size", large / mib), "xz", "<= 512 MiB", met(prss / 1024 <= 512))
  row("large release, packer RSS", sprintf("%.1f MiB", pzrss / 1024),
      sprintf("%.1f MiB  tree size", large / mib), "zstd -1", "<= 512 MiB",
      met(pzrss / 1024 <= 512))
  row("inspect --verify, RSS", sprintf("%.1f MiB", vrss / 1024),
      sprintf("%.1f MiB  tree size", large / mib), "larger of 2", "<= 512 MiB",
      met(vrss / 1024 <= 512))
  d = (zpayload / xzsize - 1) * 100
  row("zstd compressed size", sprintf("%.2f MiB", zpayload / mib),
      sprintf("%.2f MiB  xz -9e -T1", xzsize / mib), sprintf("%+.2f %%", d), "<= +4 %",
      met(d <= 4))
  printf "\nCPU time (user + system), medians: first run %.2f s, xz -dc into tar -x %.2f s; zstd first run %.2f s.\n",
    first_cpu, pipe_cpu, zfirst_cpu
  printf "Packing with --compression zstd took %.1f s; the large release took %.1f s (xz) and %.1f s (zstd -1).\n",
    zpack, plarge, pzlarge
  printf "The packed executable is %.2f MiB: the compressed release and %.2f MiB of stub, metadata and footer.\n",
    launcher / mib, (launcher - payload) / mib
}
function met(ok) { return ok ? "met" : "MISSED" }
function row(a, b, c, d, e, f) { printf "| %-24s | %-11s | %-28s | %-13s | %-10s | %-6s |\n", a, b, c, d, e, f }'
