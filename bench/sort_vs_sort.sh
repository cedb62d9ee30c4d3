#!/usr/bin/env bash
# Sorting a 1,000,000-row list by name in the window's sort against `sort -f` on the same
# names, in the same run. Prints both times and their ratio (target: at most 2).
#   bash bench/sort_vs_sort.sh [row count]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DKESTRIX_BENCH=ON >/dev/null
ninja -C build -j2 sort_names >/dev/null
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
build/bench/sort_names "${1:-1000000}" "$work"
