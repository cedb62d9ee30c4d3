#!/usr/bin/env bash
# Repacking a chunked LZ4 bundle (the write-back after an import) against lz4 on the same bytes,
# in the same run:
#   UnityFS, LZ4 blocks of 128 KiB   vs  lz4 -1 -B131072, its output flushed to the disk
# The bundle holds about MB megabytes of game-like data (make_bench_bundle). The time is
# RepackBundle's own (the repack program measures it; the open that unpacks the bundle first is
# not timed); it ends with the new bundle flushed and renamed into place, so the reference's
# file is flushed too (sync on that file). Best of RUNS runs of each, taken alternately so that
# both see the same load. Target: time ratio at most 1.5. The rewritten bundle is checked to
# keep its 128 KiB blocks and to open with the data it held.
#   bash bench/repack_lz4.sh [build folder] [MB]
set -euo pipefail
source "$(dirname "$0")/common.sh"
shopt -s inherit_errexit
cd "$(dirname "$0")/.."
build=${1:-build}
mb=${2:-512}
runs=${RUNS:-5}
make=$build/bench/make_bench_bundle
repack=$build/bench/repack
need_tools "$make" "$repack"
make_work_folder

# make_bench_bundle sizes the bundle, not its data: LZ4 data is 2.2 times it.
"$make" lz4 "$work" $((mb * 10 / 22))
cp "$work/bundle.unity3d" "$work/original"
rm "$work/data.bin"

# One repack: restores the original bundle, then prints the seconds RepackBundle took.
ours() {
  cp "$work/original" "$work/bundle.unity3d"
  "$repack" "$work/bundle.unity3d" "$work/data.out" | cut -d' ' -f1
}

# One reference run: prints its wall seconds.
reference() {
  rm -f "$work/ref.lz4"
  /usr/bin/time -f '%e' -o "$work/time.txt" \
    sh -c "lz4 -q -1 -B131072 '$work/data.out' '$work/ref.lz4' && sync '$work/ref.lz4'"
  cat "$work/time.txt"
}

# The first repack also makes data.out, the bytes lz4 compresses. The rewritten bundle must be
# right before its speed means anything: it keeps the original's blocks of 128 KiB, and it
# repacks again to the same data.
ours >/dev/null
cp "$work/original" "$work/probe"
read -r _ _ count largest < <("$repack" "$work/probe" "$work/data.first" blocks)
rm "$work/probe"
read -r _ _ new_count new_largest < <("$repack" "$work/bundle.unity3d" "$work/data.out" blocks)
if [ "$count $largest" != "$new_count $new_largest" ] || [ "$largest" -ne 131072 ]; then
  echo "blocks (count, largest): original $count $largest, rewritten $new_count $new_largest" >&2
  exit 1
fi
cmp "$work/data.first" "$work/data.out"
rm "$work/data.first"

best_ours=
best_ref=
for ((i = 0; i < runs; i++)); do
  s=$(ours)
  best_ours=$(awk -v a="$best_ours" -v b="$s" 'BEGIN{print (a == "" || b < a) ? b : a}')
  s=$(reference)
  best_ref=$(awk -v a="$best_ref" -v b="$s" 'BEGIN{print (a == "" || b < a) ? b : a}')
done

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
printf 'LZ4 %d MB of data | kestrix repack: %6.2f s, bundle %d bytes | lz4 -1 -B131072 + sync: %6.2f s, %d bytes\n' \
  $(($(stat -c %s "$work/data.out") >> 20)) "$best_ours" "$(stat -c %s "$work/bundle.unity3d")" \
  "$best_ref" "$(stat -c %s "$work/ref.lz4")"
printf 'LZ4 ratio %s (target <= 1.5)\n' "$(awk "BEGIN{printf \"%.2f\", $best_ours / $best_ref}")"
