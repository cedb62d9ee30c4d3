#!/usr/bin/env bash
# Opening bundles against the reference decoders, on the same data in the same run:
#   a 200 MB UnityFS bundle of 128 KiB LZ4 blocks   vs  lz4 -d of the same data as an .lz4 frame
#   a 50 MB UnityWeb (version 3) LZMA bundle        vs  xz --format=lzma -d of the same stream
# and the peak memory of each open. Targets: ratios at most 1.5 and 1.2, peak memory under 64 MB.
# Every tool writes its output to a file in the same folder; runs alternate and the best counts.
#   bash bench/bundle_open.sh [build folder] [LZ4 MB] [LZMA MB]
set -euo pipefail
source "$(dirname "$0")/common.sh"
shopt -s inherit_errexit
cd "$(dirname "$0")/.."
build=${1:-build}
lz4_mb=${2:-200}
lzma_mb=${3:-50}
kestrix=$build/kestrix
make_work_folder

# How a bundle is opened: "list" opens and lists without exporting. Without it, "exportbundle"
# opens and then also copies every contained file out: one more pass over the unpacked data.
status=0
"$kestrix" list "$work/missing" -ndc >/dev/null 2>&1 || status=$?
if [ "$status" -ne 2 ]; then open_task=list; else open_task=exportbundle; fi

# One timed run: prints "wall-seconds cpu-seconds peak-kilobytes". The folder given first is
# emptied of outputs before the run.
timed() {
  local folder=$1
  shift
  rm -rf "$folder/out" "$folder"/*.TEMP "$folder"/*.out
  /usr/bin/time -f '%e %U %S %M' -o "$work/time.txt" "$@" >/dev/null
  awk '{print $1, $2 + $3, $4}' "$work/time.txt"
}

# Runs kestrix and the reference alternately, `runs` times each, so that both see the same load
# on a shared machine; keeps each one's best wall and CPU time and its largest peak.
# Prints "k_wall k_cpu k_peak r_wall r_cpu r_peak".
compare() {
  local folder=$1 runs=$2 reference=$3
  shift 3
  local kw="" kc="" kp=0 rw="" rc="" rp=0 w c m
  for ((i = 0; i < runs; i++)); do
    read -r w c m < <(timed "$folder" "$@")
    kw=$(awk -v a="$kw" -v b="$w" 'BEGIN{print (a == "" || b < a) ? b : a}')
    kc=$(awk -v a="$kc" -v b="$c" 'BEGIN{print (a == "" || b < a) ? b : a}')
    ((m > kp)) && kp=$m
    read -r w c m < <(timed "$folder" sh -c "$reference")
    rw=$(awk -v a="$rw" -v b="$w" 'BEGIN{print (a == "" || b < a) ? b : a}')
    rc=$(awk -v a="$rc" -v b="$c" 'BEGIN{print (a == "" || b < a) ? b : a}')
    ((m > rp)) && rp=$m
  done
  echo "$kw $kc $kp $rw $rc $rp"
}

report() {  # label figures reference-name target
  local kw kc kp rw rc rp
  read -r kw kc kp rw rc rp <<<"$2"
  printf '%-4s kestrix %s: %6.2f s wall, %6.2f s cpu, peak %3d MB | %s: %6.2f s wall, %6.2f s cpu, peak %3d MB\n' \
    "$1" "$open_task" "$kw" "$kc" $((kp / 1024)) "$3" "$rw" "$rc" $((rp / 1024))
  printf '%-4s ratio %s wall, %s cpu (target <= %s); kestrix peak %d MB (target < 64)\n' "$1" \
    "$(awk "BEGIN{printf \"%.2f\", $kw / $rw}")" "$(awk "BEGIN{printf \"%.2f\", $kc / $rc}")" "$4" \
    $((kp / 1024))
}

echo "generating a ${lz4_mb} MB LZ4 bundle and a ${lzma_mb} MB LZMA bundle in $work" >&2
mkdir -p "$work/lz4" "$work/lzma"
"$build/bench/make_bench_bundle" lz4 "$work/lz4" "$lz4_mb"
"$build/bench/make_bench_bundle" lzma "$work/lzma" "$lzma_mb"
lz4 -q -f "$work/lz4/data.bin" "$work/lz4/data.lz4"
rm "$work/lz4/data.bin"
ls -l "$work/lz4/bundle.unity3d" "$work/lz4/data.lz4" "$work/lzma/bundle.unity3d" "$work/lzma/stream.lzma" >&2

lz4=$(compare "$work/lz4" 5 "lz4 -q -d -f '$work/lz4/data.lz4' '$work/lz4/data.out'" \
  "$kestrix" "$open_task" "$work/lz4/bundle.unity3d" -p "$work/lz4/out")
lzma=$(compare "$work/lzma" 3 "xz --format=lzma -d -c '$work/lzma/stream.lzma' > '$work/lzma/stream.out'" \
  "$kestrix" "$open_task" "$work/lzma/bundle.unity3d" -p "$work/lzma/out")
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
report LZ4 "$lz4" "lz4 -d .lz4 frame" 1.5
report LZMA "$lzma" "xz --format=lzma -d" 1.2
