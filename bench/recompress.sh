#!/usr/bin/env bash
# Kestrix's encoders against the reference compressors on the same bytes, in the same run:
#   LZMA (512 KiB dictionary, bt4, nice 273, no end marker)
#        vs  xz --format=lzma --lzma1=dict=512KiB,lc=3,lp=0,pb=2,nice=273,mf=bt4
#   LZ4 blocks of 128 KiB (fast compressor)  vs  lz4 -1 -B131072 (the same block size)
# The data: the unpacked contents of the corpus bundles (kestrix exportbundle), topped up to the
# size asked for with generated game-like data. Prints time ratios (targets: LZMA at most 1.1,
# LZ4 at most 1.5), size ratios and Kestrix's peak memory (target under 64 MB). Both outputs
# are decoded by the reference tools and compared with the input before anything is timed.
#   bash bench/recompress.sh [build folder] [MB]
set -euo pipefail
source "$(dirname "$0")/common.sh"
shopt -s inherit_errexit
cd "$(dirname "$0")/.."
build=${1:-build}
mb=${2:-50}
kestrix=$build/kestrix
recompress=$build/bench/recompress
need_tools "$kestrix" "$recompress"
make_work_folder
data=$work/data.bin

# The bundles' contents, in a fixed order so that runs compare.
corpus=${KESTRIX_CORPUS:-../shared/corpus}/bundles
: >"$data"
if [ -d "$corpus" ]; then
  while IFS= read -r bundle; do
    out=$work/export/$(basename "$bundle")
    "$kestrix" exportbundle "$bundle" -p "$out" -ndc >/dev/null 2>&1 || continue
    [ -d "$out" ] || continue  # nothing to export
    find "$out" -type f -print0 | sort -z | xargs -0r cat >>"$data"
  done < <(find "$corpus" -type f | sort)
  rm -rf "$work/export"
fi
corpus_bytes=$(stat -c %s "$data")
"$recompress" fill "$data" "$mb"
echo "data: $((corpus_bytes >> 20)) MB of corpus bundle contents + generated data = $(($(stat -c %s "$data") >> 20)) MB" >&2

xz_cmd="xz --format=lzma --lzma1=dict=512KiB,lc=3,lp=0,pb=2,nice=273,mf=bt4 -c '$data' > '$work/ref.lzma'"
lz4_cmd="lz4 -q -f -1 -B131072 '$data' '$work/ref.lz4'"

# The outputs must be right before their speed means anything.
"$recompress" lzma "$data" "$work/ours.lzma"
"$recompress" lz4 "$data" "$work/ours.lz4"
xz --format=lzma -d -c "$work/ours.lzma" | cmp - "$data"
lz4 -q -d -c "$work/ours.lz4" | cmp - "$data"


report() {  # label figures reference-name target ours-file reference-file
  local kw kc kp rw rc rp
  read -r kw kc kp rw rc rp <<<"$2"
  local ks rs
  ks=$(stat -c %s "$5")
  rs=$(stat -c %s "$6")
  printf '%-4s kestrix: %6.2f s wall, %6.2f s cpu, peak %3d MB, %d bytes | %s: %6.2f s wall, %6.2f s cpu, peak %3d MB, %d bytes\n' \
    "$1" "$kw" "$kc" $((kp / 1024)) "$ks" "$3" "$rw" "$rc" $((rp / 1024)) "$rs"
  printf '%-4s ratio %s wall, %s cpu (target <= %s), size %s; kestrix peak %d MB (target < 64)\n' \
    "$1" "$(awk "BEGIN{printf \"%.2f\", $kw / $rw}")" "$(awk "BEGIN{printf \"%.2f\", $kc / $rc}")" \
    "$4" "$(awk "BEGIN{printf \"%.4f\", $ks / $rs}")" $((kp / 1024))
}

lzma=$(compare 2 "$xz_cmd" "$recompress" lzma "$data" "$work/ours.lzma")
lz4=$(compare 5 "$lz4_cmd" "$recompress" lz4 "$data" "$work/ours.lz4")
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
report LZMA "$lzma" "xz --format=lzma" 1.1 "$work/ours.lzma" "$work/ref.lzma"
report LZ4 "$lz4" "lz4 -1" 1.5 "$work/ours.lz4" "$work/ref.lz4"
