#!/usr/bin/env bash
# Times `kestrix export <game folder>` against the sum of `kestrix export <archive>` run on each
# of its archives one after another (target: at most 1.2), and against `tar -x` of the same
# output (target: at most 1.5), in the same run, and prints both ratios and the peak memory of
# the folder export.
#
#   bash bench/export_folder.sh [build folder] [folder of games]
#
# The folder of games is by default the corpus's plain folder (12 games, about 40 archives of
# formats 8 to 22), copied into a temporary folder. Each game is exported as one folder run (a
# game's resource files are looked for in the game only), one game after another, and summed.
# Both sides write with -p into fresh folders; the archives of a sub-folder go to the same
# sub-folder below -p in both, so the outputs are the same files. Each game's output is made
# into a tar archive once, not timed, and `tar -x` of each game is timed and summed as the
# exports are. Best of the runs.
set -euo pipefail
source "$(dirname "$0")/common.sh"
build=${1:-build}
here=$(cd "$(dirname "$0")/.." && pwd)
source_games=${2:-$here/../shared/corpus/plain}
runs=${RUNS:-3}
kestrix="$build/kestrix"
need_tools "$kestrix"

make_work_folder
game="$work/game"
mkdir -p "$game"
cp -r "$source_games"/. "$game"/
mapfile -t games < <(find "$game" -mindepth 1 -maxdepth 1 -type d -printf '%f\n' | sort)
# The archives of each game, as its folder run finds them: the per-archive lines name them.
archives=()
for g in "${games[@]}"; do
  while read -r a; do archives+=("$g/$a"); done < <("$kestrix" list "$game/$g" |
    sed -n 's/^\(.*\): [0-9]* objects$/\1/p')
done
[ "${#archives[@]}" -gt 0 ] || { echo "no archives in $game" >&2; exit 1; }

now() { date +%s%N; }
best_folder=; best_sum=; best_tar=; peak=
for ((i = 0; i < runs; i++)); do
  rm -rf "$work/all" "$work/one" "$work/untar"
  sync
  t0=$(now)
  # The corpus leaves some resource files out: those objects fail and the run exits 1; time then
  # writes a line of its own before the figure.
  for g in "${games[@]}"; do
    /usr/bin/time -f %M -o "$work/rss" "$kestrix" export "$game/$g" -p "$work/all/$g" \
      > /dev/null 2>&1 || true
    r=$(tail -n 1 "$work/rss")
    if [ -z "$peak" ] || [ "$r" -gt "$peak" ]; then peak=$r; fi
  done
  t1=$(now)
  # Each side starts from the same state: its output removed and the disk quiet.
  rm -rf "$work/one"
  sync
  t1b=$(now)
  for a in "${archives[@]}"; do
    sub=$(dirname "$a")
    root="$work/one"
    [ "$sub" = . ] || root="$work/one/$sub"
    "$kestrix" export "$game/$a" -p "$root" -ndc > /dev/null 2>&1 || true
  done
  t2=$(now)
  if [ "$i" -eq 0 ]; then
    if ! diff -r -q "$work/all" "$work/one" > /dev/null; then
      echo "the folder export and the archives one by one wrote different files" >&2; exit 1
    fi
    for g in "${games[@]}"; do tar -C "$work/all/$g" -cf "$work/$g.tar" .; done
  fi
  for g in "${games[@]}"; do mkdir -p "$work/untar/$g"; done
  sync
  t3=$(now)
  for g in "${games[@]}"; do tar -C "$work/untar/$g" -xf "$work/$g.tar"; done
  t4=$(now)
  f=$((t1 - t0)); s=$((t2 - t1b)); x=$((t4 - t3))
  if [ -z "$best_folder" ] || [ "$f" -lt "$best_folder" ]; then best_folder=$f; fi
  if [ -z "$best_sum" ] || [ "$s" -lt "$best_sum" ]; then best_sum=$s; fi
  if [ -z "$best_tar" ] || [ "$x" -lt "$best_tar" ]; then best_tar=$x; fi
done

files=$(find "$work/all" -type f | wc -l)
bytes=$(du -sb "$work/all" | cut -f1)
awk -v n="${#archives[@]}" -v files="$files" -v bytes="$bytes" -v f="$best_folder" \
    -v s="$best_sum" -v x="$best_tar" -v peak="$peak" 'BEGIN {
  printf "game folders: %d archives; output %d files, %.1f MB\n", n, files, bytes / 1e6
  printf "export <folder>          : %8.1f ms (best of runs), peak RSS %.1f MB\n", f / 1e6, peak / 1024
  printf "export <archive>, summed : %8.1f ms (best of runs)\n", s / 1e6
  printf "tar -x of the output     : %8.1f ms (best of runs)\n", x / 1e6
  printf "ratio folder/summed      : %8.2f (target: at most 1.2)\n", f / s
  printf "ratio folder/tar -x      : %8.2f (target: at most 1.5)\n", f / x
}'
