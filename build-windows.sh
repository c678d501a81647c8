#!/usr/bin/env bash
# Cross-builds for 64-bit Windows into build-windows/ (executables in
# build-windows/bin/): the link and document libraries, tessolctl.exe and
# the Windows test program test_windows.exe. Needs the mingw-w64 cross
# compiler (./install-deps.sh installs it). Extra arguments go to CMake.
set -euo pipefail
cd "$(dirname "$0")"
launcher=()
command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "${launcher[@]}" "$@" > /dev/null
cmake --build build-windows -j"${JOBS:-$(nproc)}"
