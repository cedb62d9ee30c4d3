#!/usr/bin/env bash
# Configures and builds into build/ (the program ends up at build/kestrix).
set -euo pipefail
cd "$(dirname "$0")/.."
# Optimised, without debug information, which would take a third of the build's time
# (KESTRIX_CMAKE_ARGS="-DCMAKE_BUILD_TYPE=RelWithDebInfo" for a build to debug).
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  ${KESTRIX_CMAKE_ARGS:-} >/dev/null
cmake --build build
