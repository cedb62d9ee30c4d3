#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
ctest --test-dir build --output-on-failure -j "$(nproc)"
# Every fuzz target for a short while (a finding fails the run); the clang build takes a minute.
bash fuzz/run.sh "${KESTRIX_FUZZ_SECONDS:-30}"
