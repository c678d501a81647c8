#!/usr/bin/env bash
# Configures and builds into build/ (executables in build/bin/).
# Extra arguments go to CMake, e.g. ./build.sh -DTESSOL_SANITIZE=ON
set -euo pipefail
cd "$(dirname "$0")"
cmake -S . -B build -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "$@" > /dev/null
cmake --build build -j"$(nproc)"
