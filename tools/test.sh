#!/usr/bin/env bash
# Runs every test: the native ones, then the Windows ones under Wine on a private virtual display.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build"
jobs="$(nproc)"

"$root/tools/ensure-deps.sh"

echo "== Native build and tests"
cmake -S "$root" -B "$build/native" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/native"
ctest --test-dir "$build/native" --output-on-failure -j "$jobs"

echo "== Windows build"
cmake -S "$root" -B "$build/win" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/win"

echo "== Windows tests under Wine"
. "$root/tools/wine-env.sh" "$build/wine-test"
drovan_ensure_prefix
drovan_start_virtual_display 1280x1024x24
ctest --test-dir "$build/win" --output-on-failure -j 2
