#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for the given number of seconds, two at a
# time, on seeds from the archive builder (build/tests/make_fuzz_seeds writes fuzz/seeds/ at run
# time) and from the real archives of ../shared/corpus (small files, copied at run time, never
# committed). Exits 1 when any target has a finding; the inputs are copied to fuzz/findings/.
#   fuzz/run.sh [seconds-per-target] [target...]     (0 seconds: replay the seeds only)
# KESTRIX_FUZZ_JOBS sets how many targets run at once (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true
jobs=${KESTRIX_FUZZ_JOBS:-2}

# Line tables are all a finding's stack trace needs, and cost far less to build than full
# debug information.
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -gline-tables-only -DNDEBUG" \
  -DKESTRIX_FUZZ=ON -DKESTRIX_GUI=OFF -DKESTRIX_TESTS=OFF -DKESTRIX_BENCH=OFF >/dev/null
cmake --build build-fuzz -j 2
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for t in build-fuzz/fuzz/fuzz_*; do [ -x "$t" ] && targets+=("$(basename "$t")"); done
fi

# Every input writes and deletes files; in memory that costs a sixth of what a busy disk does.
# The targets' scratch folders go below it too (TMPDIR), so the trap removes what a crashed
# target leaves.
work=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
trap 'rm -rf "$work"' EXIT
archives="$work/archives"
mkdir -p "$archives"
cp samples/* "$archives/" 2>/dev/null || true
if [ -d ../shared/corpus ]; then
  # Small real files only: the fuzzer learns the shapes, not the bulk.
  find ../shared/corpus -type f -size -300k ! -name '*.tsv' ! -name '*.md' -print0 |
    while IFS= read -r -d '' f; do cp "$f" "$archives/$(echo "$f" | md5sum | cut -c1-12)"; done
fi

# Seeds in each target's input layout, including the payloads of the real archives (opened from
# a copy, since bundles unpack beside the file).
seedgen=build/tests/make_fuzz_seeds
if [ ! -x "$seedgen" ] && [ -f build/build.ninja ]; then
  cmake --build build --target make_fuzz_seeds -j 2 >/dev/null || true
fi
rm -rf fuzz/seeds
if [ -x "$seedgen" ]; then
  mkdir -p "$work/open-copies"
  cp "$archives"/* "$work/open-copies/" 2>/dev/null || true
  "$seedgen" fuzz/seeds "$work/open-copies"/* >/dev/null 2>&1 || echo "seed generator failed"
else
  echo "no $seedgen (build the tests first): running on archives only"
fi

run_target() {
  local t=$1
  local corpus="$work/corpus-$t" art="$work/art-$t/" scratch="$work/tmp-$t"
  mkdir -p "$corpus" "$art" "$scratch"
  local dirs=("$corpus")
  [ -d "fuzz/seeds/$t" ] && dirs+=("fuzz/seeds/$t")
  # Earlier findings run first, under the sanitizers, on every run.
  [ -d "tests/data/fuzz/$t" ] && dirs+=("tests/data/fuzz/$t")
  local opts=(-rss_limit_mb=2048 -timeout=25)
  case $t in
    fuzz_open | fuzz_bundle)
      # Whole archives; an LZMA stream may reserve the dictionary its decoded size allows (up
      # to 4 GiB for a large enough file) without using it, so only memory in use is limited.
      dirs+=("$archives")
      opts+=(-max_len=1048576 -malloc_limit_mb=4400) ;;
    fuzz_lzma)
      opts+=(-max_len=65536 -malloc_limit_mb=4400) ;;
    *)
      opts+=(-max_len=262144) ;;
  esac
  # 0 seconds replays the seeds and earlier findings only (libFuzzer reads 0 as "no limit").
  if [ "$seconds" -gt 0 ]; then opts+=(-max_total_time="$seconds"); else opts+=(-runs=0); fi
  TMPDIR="$scratch" "build-fuzz/fuzz/$t" "${opts[@]}" -print_final_stats=1 \
    -artifact_prefix="$art" "${dirs[@]}" >"$work/$t.log" 2>&1
}

status=0
report() {
  local t=$1 rc=$2
  if [ "$rc" -ne 0 ]; then
    echo "== $t: FINDING (exit $rc)"
    tail -n 60 "$work/$t.log"
    mkdir -p fuzz/findings
    cp "$work/art-$t/"* fuzz/findings/ 2>/dev/null || true
    status=1
  else
    local runs speed cov
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$t.log")
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/$t.log")
    cov=$(grep -o 'cov: [0-9]*' "$work/$t.log" | tail -n 1)
    echo "== $t: ${seconds}s, $runs runs, $speed exec/s, $cov"
  fi
}

# Two at a time: each target is one process on one core.
pids=()
names=()
for t in "${targets[@]}"; do
  run_target "$t" &
  pids+=($!)
  names+=("$t")
  if [ ${#pids[@]} -ge "$jobs" ]; then
    rc=0; wait "${pids[0]}" || rc=$?
    report "${names[0]}" "$rc"
    pids=("${pids[@]:1}")
    names=("${names[@]:1}")
  fi
done
for i in "${!pids[@]}"; do
  rc=0; wait "${pids[$i]}" || rc=$?
  report "${names[$i]}" "$rc"
done
exit $status
