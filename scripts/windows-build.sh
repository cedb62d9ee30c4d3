#!/usr/bin/env bash
# Cross-builds Kestrix's command line for x86_64 Windows into build-windows/ (the program is
# build-windows/kestrix.exe): the libraries from Debian's source packages first (once, kept in
# build-windows/deps), then the program and its tests with cmake/mingw-w64.cmake.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/windows-deps.sh build-windows/deps
cmake -S . -B build-windows -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DKESTRIX_WINDOWS_DEPS="$PWD/build-windows/deps/prefix" \
  -DKESTRIX_GUI=OFF -DKESTRIX_BENCH=OFF \
  ${KESTRIX_WINDOWS_CMAKE_ARGS:-} >/dev/null
cmake --build build-windows -j "${KESTRIX_JOBS:-2}" "$@"
