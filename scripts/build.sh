#!/usr/bin/env bash
# Configures and builds into build/ (the program ends up at build/kestrix).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${KESTRIX_CMAKE_ARGS:-} >/dev/null
cmake --build build
