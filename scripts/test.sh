#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite, then every fuzz target for a
# short while (KESTRIX_FUZZ_SECONDS, 10 by default; a finding fails the run), then the Windows
# build's tests under wine (KESTRIX_WINDOWS=0 leaves them out).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
log=$(mktemp)
trap 'rm -f "$log"' EXIT
ctest --test-dir build --output-on-failure -j "$(nproc)" 2>&1 | tee "$log"
bash fuzz/run.sh "${KESTRIX_FUZZ_SECONDS:-10}"
if [ "${KESTRIX_WINDOWS:-1}" != 0 ]; then
  bash scripts/windows-test.sh 2>&1 | tee -a "$log"
fi
# The test summary once more, as the last word of the run.
grep -E '^[0-9]+% tests passed' "$log"
