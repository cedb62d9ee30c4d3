#!/usr/bin/env bash
# Repacking bundles (the write-back after an import) against the reference compressors on the
# same bytes, in the same run:
#   UnityWeb version 3, one LZMA stream   vs  xz --format=lzma --lzma1=dict=512KiB,lc=3,lp=0,pb=2,nice=273,mf=bt4
#   UnityFS, LZ4 blocks (one LZ4 block)   vs  lz4 -1
# Each bundle holds about MB megabytes of unpacked data (game-like, from make_bench_bundle). The
# time is RepackBundle's own (the repack program measures it; the open before it is not timed);
# the peak memory is the whole process's, open included. Targets: time ratio at most 1.1 (LZMA)
# and 1.5 (LZ4). The rewritten bundle is checked to open with the data it held.
#   bash bench/repack.sh [build folder] [MB]
set -euo pipefail
source "$(dirname "$0")/common.sh"
shopt -s inherit_errexit
cd "$(dirname "$0")/.."
build=${1:-build}
mb=${2:-50}
make=$build/bench/make_bench_bundle
repack=$build/bench/repack
need_tools "$make" "$repack"
make_work_folder

# make_bench_bundle sizes the bundle, not its data: LZ4 data is 2.2 times, LZMA data 3 times it.
mkdir -p "$work/lz4" "$work/lzma"
"$make" lz4 "$work/lz4" $((mb * 10 / 22))
"$make" lzma "$work/lzma" $((mb / 3))
cp "$work/lz4/bundle.unity3d" "$work/lz4/original"
cp "$work/lzma/bundle.unity3d" "$work/lzma/original"

# One repack: restores the original bundle, then prints "repack-seconds peak-kilobytes".
ours() {
  local dir=$1
  cp "$dir/original" "$dir/bundle.unity3d"
  rm -f "$dir/bundle.unity3d.TEMP"
  /usr/bin/time -f '%M' -o "$work/mem.txt" "$repack" "$dir/bundle.unity3d" "$dir/data.out" \
    >"$work/secs.txt"
  echo "$(cut -d' ' -f1 "$work/secs.txt") $(cat "$work/mem.txt")"
}

# One reference run: prints "wall-seconds peak-kilobytes".
reference() {
  /usr/bin/time -f '%e %M' -o "$work/time.txt" sh -c "$1" >/dev/null
  cat "$work/time.txt"
}

# Alternately, `runs` times each, so that both see the same load on a shared machine; the best
# time and the largest peak of each count. Prints "k_secs k_peak r_secs r_peak".
compare() {
  local runs=$1 dir=$2 command=$3
  local ks="" kp=0 rs="" rp=0 s m
  for ((i = 0; i < runs; i++)); do
    read -r s m < <(ours "$dir")
    ks=$(awk -v a="$ks" -v b="$s" 'BEGIN{print (a == "" || b < a) ? b : a}')
    ((m > kp)) && kp=$m
    read -r s m < <(reference "$command")
    rs=$(awk -v a="$rs" -v b="$s" 'BEGIN{print (a == "" || b < a) ? b : a}')
    ((m > rp)) && rp=$m
  done
  echo "$ks $kp $rs $rp"
}

report() {  # label figures reference target bundle reference-output data
  local ks kp rs rp
  read -r ks kp rs rp <<<"$2"
  printf '%-4s %d MB of data | kestrix repack: %6.2f s, peak %3d MB, bundle %d bytes | %s: %6.2f s, peak %3d MB, %d bytes\n' \
    "$1" $(($(stat -c %s "$7") >> 20)) "$ks" $((kp / 1024)) "$(stat -c %s "$5")" "$3" "$rs" \
    $((rp / 1024)) "$(stat -c %s "$6")"
  printf '%-4s ratio %s (target <= %s)\n' "$1" "$(awk "BEGIN{printf \"%.2f\", $ks / $rs}")" "$4"
}

# The first repack also makes data.out, the bytes the reference tools compress.
ours "$work/lzma" >/dev/null
header=$(cut -d' ' -f2 "$work/secs.txt")
ours "$work/lz4" >/dev/null
# The rewritten bundles are right before their speed means anything: the version 3 stream is a
# .lzma file that xz decodes to the data, and the LZ4 bundle repacks again to the same data.
tail -c +$((header + 1)) "$work/lzma/bundle.unity3d" | xz --format=lzma -d -c | cmp - "$work/lzma/data.out"
cp "$work/lz4/data.out" "$work/lz4/data.first"
"$repack" "$work/lz4/bundle.unity3d" "$work/lz4/data.out" >/dev/null
cmp "$work/lz4/data.first" "$work/lz4/data.out"

xz_cmd="xz --format=lzma --lzma1=dict=512KiB,lc=3,lp=0,pb=2,nice=273,mf=bt4 -c '$work/lzma/data.out' > '$work/ref.lzma'"
lz4_cmd="lz4 -q -f -1 '$work/lz4/data.out' '$work/ref.lz4'"
lzma=$(compare 2 "$work/lzma" "$xz_cmd")
lz4=$(compare 5 "$work/lz4" "$lz4_cmd")
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
report LZMA "$lzma" "xz --format=lzma" 1.1 "$work/lzma/bundle.unity3d" "$work/ref.lzma" "$work/lzma/data.out"
report LZ4 "$lz4" "lz4 -1" 1.5 "$work/lz4/bundle.unity3d" "$work/ref.lz4" "$work/lz4/data.out"
