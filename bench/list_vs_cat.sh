#!/usr/bin/env bash
# Times `kestrix list` on a format-17 file of 1,000,000 small named objects against `cat` of
# the same file to /dev/null, in the same run, and prints the ratio (target: at most 12) and the
# peak memory of the list (target: at most 80 MB).
#
#   bash bench/list_vs_cat.sh [build folder] [object count]
#
# The file is made once by build/bench/make_many_objects in a temporary folder. Both commands
# run 11 times (RUNS), alternating, with the file in the page cache; the best time of each
# counts, which keeps the figure steady on a busy machine.
set -euo pipefail
source "$(dirname "$0")/common.sh"
build=${1:-build}
count=${2:-1000000}
runs=${RUNS:-11}
kestrix="$build/kestrix"
maker="$build/bench/make_many_objects"
need_tools "$kestrix" "$maker"

make_work_folder
file="$work/many.assets"
"$maker" "$file" "$count"

lines=$("$kestrix" list "$file" | wc -l)
if [ "$lines" -ne "$count" ]; then
  echo "kestrix list printed $lines lines for $count objects" >&2
  exit 1
fi

now() { date +%s%N; }
best_list=
best_cat=
for ((i = 0; i < runs; i++)); do
  t0=$(now); cat "$file" > /dev/null; t1=$(now)
  "$kestrix" list "$file" > /dev/null; t2=$(now)
  c=$((t1 - t0)); l=$((t2 - t1))
  if [ -z "$best_cat" ] || [ "$c" -lt "$best_cat" ]; then best_cat=$c; fi
  if [ -z "$best_list" ] || [ "$l" -lt "$best_list" ]; then best_list=$l; fi
done

peak_kb=$(/usr/bin/time -f %M "$kestrix" list "$file" 2>&1 >/dev/null | tail -n 1)
size=$(stat -c %s "$file")
awk -v size="$size" -v count="$count" -v l="$best_list" -v c="$best_cat" -v peak="$peak_kb" 'BEGIN {
  printf "file: %d objects, %.1f MB\n", count, size / 1e6
  printf "cat  > /dev/null: %8.1f ms (best of runs)\n", c / 1e6
  printf "kestrix list    : %8.1f ms (best of runs)\n", l / 1e6
  printf "ratio list/cat  : %8.1f (target: at most 12)\n", l / c
  printf "list peak memory: %8.1f MB (target: at most 80)\n", peak / 1024
}'
