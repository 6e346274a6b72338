#!/usr/bin/env bash
# Installs what is missing, checks the formatting, builds with warnings as errors and runs every test
# (GUI tests offscreen), first in an AddressSanitizer + UBSan build (skipped with ZENTARO_SKIP_SANITIZE=1),
# then in the release build; then builds the Debian package and checks the unpacked program.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build-test}"
bash "$root/scripts/deps.sh"
bash "$root/scripts/format-check.sh"
export QT_QPA_PLATFORM=offscreen
if [ "${ZENTARO_SKIP_SANITIZE:-0}" != "1" ]; then
    asan="${ASAN_BUILD_DIR:-$root/build-asan}"
    BUILD_DIR="$asan" BUILD_TYPE=Debug bash "$root/scripts/build.sh" -DZENTARO_WERROR=ON -DZENTARO_SANITIZE=ON \
        -DZENTARO_BENCH=OFF
    (cd "$asan" && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --output-on-failure -j"$(nproc)")
fi
BUILD_DIR="$build" bash "$root/scripts/build.sh" -DZENTARO_WERROR=ON
(cd "$build" && ctest --output-on-failure -j"$(nproc)")
bash "$root/scripts/package-test.sh" "$build"
