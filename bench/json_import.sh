#!/usr/bin/env bash
# Times an unchanged JSON import of every object of an archive with type trees against the raw
# import of the same objects, alternately in the same run, best of RUNS (target: at most 2x). Both folders
# come from one export each; export's record is removed before every import, so that every
# file is read, rebuilt through its layout (JSON) or checked (raw), and none is passed over as
# unchanged. The archive must come out of every import as it was.
#
#   bash bench/json_import.sh [build folder] [archive]
set -euo pipefail
source "$(dirname "$0")/common.sh"
build=${1:-build}
archive=${2:-$(dirname "$0")/../../shared/corpus/bundles/unityraw/dpull_5.0_android_assetbundle_1}
runs=${RUNS:-5}
kestrix="$build/kestrix"
need_tools "$kestrix"
[ -f "$archive" ] || { echo "no archive $archive" >&2; exit 1; }

make_work_folder
file="$work/$(basename "$archive")"
cp "$archive" "$file"
chmod u+w "$file"
# Every class of the file, as the numbers -t takes for raw copies (script objects are "114").
classes=$("$kestrix" list "$file" -ndc |
  awk -F'\t' '{ split($3, w, " "); print (w[1] < 0 ? 114 : w[1]) }' | sort -u | paste -sd, -)
[ -n "$classes" ] || { echo "no classes listed" >&2; exit 1; }
"$kestrix" export "$file" -t "$classes" -p "$work/raw" -ndc >/dev/null
"$kestrix" export "$file" -t json -p "$work/json" -ndc >/dev/null

now() { date +%s%N; }
best() { if [ -z "$1" ] || [ "$2" -lt "$1" ]; then echo "$2"; else echo "$1"; fi; }
time_import() {  # folder, type words
  find "$work/$1" -name .kestrix-export -delete
  local t0 t1
  t0=$(now)
  "$kestrix" import "$file" -t "$2" -p "$work/$1" -ndc >/dev/null
  t1=$(now)
  echo $((t1 - t0))
}
raw= json=
for ((i = 0; i < runs; i++)); do
  raw=$(best "$raw" "$(time_import raw "$classes")")
  json=$(best "$json" "$(time_import json json)")
done
cmp -s "$archive" "$file" || { echo "an unchanged import changed the archive" >&2; exit 1; }

ms() { awk -v n="$1" 'BEGIN { printf "%.1f ms", n / 1e6 }'; }
echo "archive: $(basename "$archive"), $(find "$work/json" -name '*.json' | wc -l) objects as JSON"
echo "import raw:  $(ms "$raw")"
echo "import JSON: $(ms "$json")   ratio $(awk -v a="$json" -v b="$raw" 'BEGIN { printf "%.2f", a / b }') (target <= 2)"
