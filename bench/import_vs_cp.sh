#!/usr/bin/env bash
# Times `kestrix import` growing one object near the start of a ~1 GB asset file against a
# durable copy of the same file (`cp` then `sync`), in the same run, and prints the ratio
# (target: at most 1.5) and the peak memory of the import. Then the same object is replaced by
# other bytes of its own size: nothing moves, so the import writes only that object in place
# (behind its rollback journal), and its time should be a small fraction of cp's (target: at
# most 0.1).
#
#   bash bench/import_vs_cp.sh [build folder] [object count] [bytes per object]
#
# The file (1024 objects of about 1 MiB by default) is made once by build/bench/make_many_objects
# in a temporary folder; the raw file grows the second object (a texture) by 4096 bytes. Before
# every import the pristine file is put back (not timed), so each run grows the object again.
# Both commands write a whole new file of the same size beside the old one and flush it to the
# disk (the import before renaming it into place). Best of the runs.
set -euo pipefail
source "$(dirname "$0")/common.sh"
build=${1:-build}
count=${2:-1024}
extra=${3:-1048576}
runs=${RUNS:-3}
kestrix="$build/kestrix"
maker="$build/bench/make_many_objects"
need_tools "$kestrix" "$maker"

make_work_folder
pristine="$work/pristine.assets"
file="$work/many.assets"
"$maker" "$pristine" "$count" "$extra"
cp "$pristine" "$file"

# The second object's name and payload size, from the list (name, type, size, offset).
read -r name size < <("$kestrix" list "$file" | awk -F'\t' 'NR == 2 { print $2, $4 }')
folder="$work/Unity_Assets_Files/many"
mkdir -p "$folder"
head -c $((size + 4096)) /dev/zero | tr '\0' 'k' > "$folder/$name"

now() { date +%s%N; }
best_import=
best_cp=
peak=
for ((i = 0; i < runs; i++)); do
  cp "$pristine" "$file"
  # Each run imports the edit afresh: the record of the run before would say it went in.
  rm -f "$folder/.kestrix-export"
  sync
  t0=$(now); cp "$file" "$work/copy.assets"; sync; t1=$(now)
  rm -f "$work/copy.assets"
  sync
  t2=$(now)
  /usr/bin/time -f %M -o "$work/rss" "$kestrix" import "$file" -ndc
  t3=$(now)
  c=$((t1 - t0)); m=$((t3 - t2)); r=$(cat "$work/rss")
  if [ -z "$best_cp" ] || [ "$c" -lt "$best_cp" ]; then best_cp=$c; fi
  if [ -z "$best_import" ] || [ "$m" -lt "$best_import" ]; then best_import=$m; fi
  if [ -z "$peak" ] || [ "$r" -gt "$peak" ]; then peak=$r; fi
done

grown=$("$kestrix" list "$file" | awk -F'\t' 'NR == 2 { print $4 }')
if [ "$grown" -ne $((size + 4096)) ]; then
  echo "the import left $name at $grown bytes, not $((size + 4096))" >&2
  exit 1
fi
# The same object, other bytes of its size: written in place.
head -c "$size" /dev/zero | tr '\0' 's' > "$folder/$name"
best_same=
for ((i = 0; i < runs; i++)); do
  cp "$pristine" "$file"
  rm -f "$folder/.kestrix-export"
  sync
  inode=$(stat -c %i "$file")
  t0=$(now)
  "$kestrix" import "$file" -ndc
  t1=$(now)
  [ "$(stat -c %i "$file")" = "$inode" ] || { echo "the same-size import replaced the file" >&2; exit 1; }
  s=$((t1 - t0))
  if [ -z "$best_same" ] || [ "$s" -lt "$best_same" ]; then best_same=$s; fi
done
# The list's offset column is where the payload lies: it must now hold the raw file.
at=$("$kestrix" list "$file" | awk -F'\t' 'NR == 2 { print $5 }')
if ! cmp -s <(tail -c +$((at + 1)) "$file" | head -c "$size") "$folder/$name"; then
  echo "the same-size import did not leave the raw file's bytes at $at" >&2; exit 1
fi

bytes=$(stat -c %s "$file")
awk -v size="$bytes" -v count="$count" -v m="$best_import" -v c="$best_cp" -v peak="$peak" -v s="$best_same" 'BEGIN {
  printf "file: %d objects, %.1f MB; one object grown by 4096 bytes near the start\n", count, size / 1e6
  printf "cp + sync      : %8.1f ms (best of runs)\n", c / 1e6
  printf "kestrix import : %8.1f ms (best of runs), peak RSS %.1f MB\n", m / 1e6, peak / 1024
  printf "ratio import/cp: %8.2f (target: at most 1.5)\n", m / c
  printf "same-size import (in place): %8.1f ms (best of runs), ratio to cp %.3f (target: at most 0.1)\n", s / 1e6, s / c
}'
