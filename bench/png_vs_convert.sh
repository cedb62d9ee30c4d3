#!/usr/bin/env bash
# Times PNG pictures against ImageMagick on the same textures, in the same run, and prints the
# ratios the picture work aims at:
#   1. `kestrix export -t png` of every texture of an archive against `convert x.dds x.png` of
#      the DDS files Kestrix writes for the same textures (target: at most 1.5), for a real
#      archive and for a generated one of 2048x2048 DXT5 textures;
#   2. decoding a 4096x4096 DXT5 level as the preview does against ImageMagick reading the same
#      DDS file (`convert x.dds rgba:/dev/null`) (target: at most 1).
#
#   bash bench/png_vs_convert.sh [build folder] [real archive] [generated texture count]
#
# The real archive is copied to a temporary folder first. Best of RUNS (3) runs for each.
set -euo pipefail
source "$(dirname "$0")/common.sh"
build=${1:-build}
real=${2:-$(dirname "$0")/../../shared/corpus/bundles/unityraw/dpull_4.6_osx_scene_1}
count=${3:-4}
runs=${RUNS:-3}
kestrix="$build/kestrix"
maker="$build/bench/make_texture_archive"
decoder="$build/bench/decode_texture"
need_tools "$kestrix" "$maker" "$decoder"
command -v convert >/dev/null || { echo "ImageMagick's convert is needed" >&2; exit 1; }

make_work_folder
now() { date +%s%N; }
best() {  # best of runs of a command, in nanoseconds
  local b= t0 t1
  for ((i = 0; i < runs; i++)); do
    t0=$(now); "$@" >/dev/null 2>&1; t1=$(now)
    if [ -z "$b" ] || [ $((t1 - t0)) -lt "$b" ]; then b=$((t1 - t0)); fi
  done
  echo "$b"
}
convert_all() { local f; for f in "$@"; do convert "$f" "${f%.dds}.magick.png"; done; }

compare_export() {  # label, archive file
  local label=$1 archive=$2 dds_files k c
  "$kestrix" export "$archive" -t dds -ndc >/dev/null
  mapfile -t dds_files < <(find "$(dirname "$archive")/Unity_Assets_Files" -name '*.tex.dds')
  k=$(best "$kestrix" export "$archive" -t png -ndc)
  c=$(best convert_all "${dds_files[@]}")
  awk -v l="$label" -v n="${#dds_files[@]}" -v k="$k" -v c="$c" 'BEGIN {
    printf "%s: %d textures\n  convert x.dds x.png : %8.1f ms\n  kestrix -t png      : %8.1f ms\n", l, n, c / 1e6, k / 1e6
    printf "  ratio kestrix/convert: %.2f (target: at most 1.5)\n", k / c }'
}

mkdir -p "$work/real" "$work/gen" "$work/big"
cp -r "$real" "$work/real/archive"
chmod -R u+w "$work/real"
compare_export "real archive $(basename "$real")" "$work/real/archive"
"$maker" "$work/gen/textures.assets" "$count" 2048
compare_export "generated 2048x2048 DXT5" "$work/gen/textures.assets"

"$maker" "$work/big/big.assets" 1 4096 "$work/big/level0.bin"
"$kestrix" export "$work/big/big.assets" -t dds -ndc >/dev/null
dds=$(find "$work/big" -name '*.tex.dds' | head -1)
c=$(best convert "$dds" rgba:/dev/null)
d=$("$decoder" 12 4096 4096 "$work/big/level0.bin" "$runs")
awk -v c="$c" -v d="$d" 'BEGIN {
  printf "4096x4096 DXT5 decode\n  convert x.dds rgba:/dev/null: %8.1f ms\n  preview decode              : %8.1f ms\n", c / 1e6, d
  printf "  ratio decode/convert: %.2f (target: at most 1)\n", d / (c / 1e6) }'
