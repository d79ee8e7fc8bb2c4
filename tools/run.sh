#!/usr/bin/env bash
# Builds Drovan.exe and starts it under Wine: on the current display, or on a virtual one when there is none,
# in which case a screenshot of the window is written to the build folder.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build"

"$root/tools/ensure-deps.sh"
cmake -S "$root" -B "$build/win" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/win" --target Drovan
echo "Built $build/win/Drovan.exe"

. "$root/tools/wine-env.sh" "$build/wine-run"
drovan_ensure_prefix
drovan_seed_sample_caches

if [ -n "${DISPLAY:-}" ] && xdotool getdisplaygeometry >/dev/null 2>&1; then
    wine "$build/win/Drovan.exe"
    wineserver -w
    exit 0
fi

drovan_start_virtual_display 1024x768x24

wine "$build/win/Drovan.exe" >/dev/null 2>&1 &
window=""
for _ in $(seq 100); do
    window="$(xdotool search --onlyvisible --name '^Drovan v2.0$' 2>/dev/null | head -n 1 || true)"
    [ -n "$window" ] && break
    sleep 0.2
done
if [ -z "$window" ]; then
    echo "Drovan's window did not appear on the virtual display $DISPLAY" >&2
    exit 1
fi
sleep 1
screenshot="$build/drovan-window.png"
import -window "$window" "$screenshot"
echo "No display: Drovan ran on the virtual display $DISPLAY; screenshot of its window: $screenshot"
