#!/usr/bin/env bash
# Times objects as JSON against the same objects raw, in the same run, on one archive with type
# trees (by default a corpus bundle of 232 objects of many classes):
#   export   `kestrix export -t json` (every object as JSON) against `kestrix export -t <every
#            class of the file>` (every object raw)            target: at most 3x
#   import   an unchanged JSON folder (every file parsed, rebuilt through its tree and found to
#            be the object as it stands) against the unchanged raw folder (every file checked,
#            planned and written back)                          target: at most 2x
# Neither import is cut short by export's record: it is removed before each run. Best of RUNS.
#
#   bash bench/json_export.sh [build folder] [archive]
set -euo pipefail
source "$(dirname "$0")/common.sh"
build=${1:-build}
archive=${2:-$(dirname "$0")/../../shared/corpus/bundles/unityraw/dpull_5.0_android_assetbundle_1}
runs=${RUNS:-3}
kestrix="$build/kestrix"
need_tools "$kestrix"
[ -f "$archive" ] || { echo "no archive $archive" >&2; exit 1; }

make_work_folder
file="$work/$(basename "$archive")"
cp "$archive" "$file"
chmod u+w "$file"
# Every class of the file, as the numbers the -t option takes for raw copies.
# (script objects, listed with negative numbers, are all "114").
classes=$("$kestrix" list "$file" -ndc | awk -F'\t' '{ split($3, w, " "); print (w[1] < 0 ? 114 : w[1]) }' |
  sort -u | paste -sd, -)
[ -n "$classes" ] || { echo "no classes listed" >&2; exit 1; }

now() { date +%s%N; }
best() { if [ -z "$1" ] || [ "$2" -lt "$1" ]; then echo "$2"; else echo "$1"; fi; }

time_export() {  # folder, type words
  rm -rf "$work/$1"
  local t0 t1
  t0=$(now)
  "$kestrix" export "$file" -t "$2" -p "$work/$1" -ndc >/dev/null
  t1=$(now)
  echo $((t1 - t0))
}

time_import() {  # folder, type words
  rm -f "$(find "$work/$1" -name .kestrix-export)"
  local t0 t1
  t0=$(now)
  "$kestrix" import "$file" -t "$2" -p "$work/$1" -ndc >/dev/null
  t1=$(now)
  echo $((t1 - t0))
}

raw_export= json_export= raw_import= json_import=
for ((i = 0; i < runs; i++)); do
  raw_export=$(best "$raw_export" "$(time_export raw "$classes")")
  json_export=$(best "$json_export" "$(time_export json json)")
  raw_import=$(best "$raw_import" "$(time_import raw "$classes")")
  json_import=$(best "$json_import" "$(time_import json json)")
done
cmp -s "$archive" "$file" || { echo "an unchanged import changed the archive" >&2; exit 1; }

objects=$("$kestrix" list "$file" -ndc | wc -l)
jsons=$(find "$work/json" -name '*.json' | wc -l)
ms() { awk -v n="$1" 'BEGIN { printf "%.1f ms", n / 1e6 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
echo "archive: $(basename "$archive"), $objects objects, $jsons as JSON"
echo "export raw:  $(ms "$raw_export")"
echo "export JSON: $(ms "$json_export")   ratio $(ratio "$json_export" "$raw_export") (target <= 3)"
echo "import raw:  $(ms "$raw_import")"
echo "import JSON: $(ms "$json_import")   ratio $(ratio "$json_import" "$raw_import") (target <= 2)"
