#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and runs every test (GUI tests offscreen).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build-test}"
bash "$root/scripts/deps.sh"
BUILD_DIR="$build" bash "$root/scripts/build.sh" -DZENTARO_WERROR=ON
export QT_QPA_PLATFORM=offscreen
cd "$build"
ctest --output-on-failure -j"$(nproc)"
