#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
./install-deps.sh
./build.sh "$@"
# The Windows build, which the wine.* tests run under Wine.
./build-windows.sh "$@"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j2
