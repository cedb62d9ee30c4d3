#!/usr/bin/env bash
# Cross-builds the Windows command line with its tests (scripts/windows-build.sh), packs the
# release archive (scripts/windows-release.sh, which also refuses a program that needs a DLL
# beyond Windows' own) and runs the tests under wine. The corpus tests are left out here: under
# wine each takes minutes; scripts/windows-corpus-check.py compares the two builds on the corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/windows-build.sh
bash scripts/windows-release.sh >/dev/null
export WINEDEBUG=-all
# Wine makes its prefix on the first start, and keeps one server running for all the tests
# (each process start is then cheap).
wine cmd /c exit >/dev/null 2>&1 </dev/null || true
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT
ctest --test-dir build-windows --output-on-failure -j "$(nproc)" -E '[Cc]orpus' --timeout 600
