#!/usr/bin/env bash
# Cross-builds the Windows command line with its tests (scripts/windows-build.sh), packs the
# release archive (scripts/windows-release.sh, which also refuses a program that needs a DLL
# beyond Windows' own) and runs the tests under wine. The corpus tests are left out here: under
# wine each takes minutes; scripts/windows-corpus-check.py compares the two builds on the corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/windows-deps.sh build-windows/deps  # the toolchain and wine too
export WINEDEBUG=-all
# No .NET or browser engine: the new prefix would otherwise offer to install them.
export WINEDLLOVERRIDES="mscoree,mshtml="
# A prefix of the build's own, so that its server can be ended without touching other wine
# programs of the user.
export WINEPREFIX="${KESTRIX_WINEPREFIX:-$PWD/build-windows/wine}"
mkdir -p build-windows
# Wine makes its prefix on the first start. Then one server stays, with wine's own services
# started by a run whose output goes nowhere: a service started by a test would hold that test's
# output open, and ctest would wait for it as long as the server lives. The same server serves
# the build (whose test listing runs under wine with a time limit) and the tests, until this
# script ends: each process start is cheap, and no server shuts down while a test connects.
wineserver -k 2>/dev/null || true  # one left by an earlier run that was stopped
wine cmd /c exit >/dev/null 2>&1 </dev/null || true
wineserver -w
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT
wine cmd /c exit >/dev/null 2>&1 </dev/null || true
bash scripts/windows-build.sh
bash scripts/windows-release.sh >/dev/null
ctest --test-dir build-windows --output-on-failure -j "$(nproc)" -E '[Cc]orpus' --timeout 600
