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
# Wine makes its prefix on the first start (before the build, whose test listing runs under
# wine with a time limit), and one server then stays for the build and the tests: each process
# start is cheap. It ends a minute after its last client.
wine cmd /c exit >/dev/null 2>&1 </dev/null || true
wineserver -p60 2>/dev/null || true  # refused when one is running already, which serves as well
bash scripts/windows-build.sh
bash scripts/windows-release.sh >/dev/null
ctest --test-dir build-windows --output-on-failure -j "$(nproc)" -E '[Cc]orpus' --timeout 600
