#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for the given number of seconds on a seed
# corpus made from the archive builder's demo archives and the real archives of ../shared/corpus
# (copied at run time, never committed). Exits non-zero on the first finding.
#   fuzz/run.sh [seconds-per-target] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKESTRIX_FUZZ=ON -DKESTRIX_GUI=OFF -DKESTRIX_TESTS=OFF -DKESTRIX_BENCH=OFF >/dev/null
cmake --build build-fuzz
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for t in build-fuzz/fuzz/fuzz_*; do [ -x "$t" ] && targets+=("$(basename "$t")"); done
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
seeds="$work/seeds"
mkdir -p "$seeds"
cp samples/* "$seeds/" 2>/dev/null || true
if [ -d ../shared/corpus ]; then
  # Small real files only: the fuzzer learns the shapes, not the bulk.
  find ../shared/corpus -type f -size -300k ! -name '*.tsv' ! -name '*.md' -print0 |
    while IFS= read -r -d '' f; do cp "$f" "$seeds/$(echo "$f" | md5sum | cut -c1-12)"; done
fi
status=0
for t in "${targets[@]}"; do
  corpus="$work/corpus-$t"
  mkdir -p "$corpus"
  extra="fuzz/seeds/$t"
  echo "== $t: $seconds s"
  dirs=("$corpus" "$seeds")
  [ -d "$extra" ] && dirs+=("$extra")
  if ! "build-fuzz/fuzz/$t" -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=1048576 \
      -timeout=20 -print_final_stats=1 -artifact_prefix="$work/" "${dirs[@]}" 2>"$work/$t.log"; then
    echo "finding in $t:"; tail -n 60 "$work/$t.log"
    mkdir -p fuzz/findings && cp "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-* fuzz/findings/ 2>/dev/null || true
    status=1
  else
    grep -E 'stat::number_of_executed_units|stat::average_exec_per_sec' "$work/$t.log" | sed 's/^/   /'
  fi
done
exit $status
