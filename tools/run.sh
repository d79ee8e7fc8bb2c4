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
cache="$(drovan_cache_folder)"
mkdir -p "$cache"
if [ -z "$(ls -A "$cache")" ]; then
    "$root/tools/make-sample-cache.sh" "$cache"
    echo "Sample browser cache made in $cache"
fi
# Small caches of real browsers, in the places Chrome, Edge, a WebView2 app and Firefox keep theirs, so that
# the first extraction finds files from a browser too.
appdata="${cache%/Local/Microsoft/Windows/INetCache}"
seed_browser_cache() {
    local into="$appdata/Local/$2"
    if [ ! -e "$into" ]; then
        mkdir -p "$into"
        cp -r "$root/tests/data/$1/." "$into/"
        rm -f "$into/manifest.tsv"
        echo "Browser cache of $1 seeded in $into"
    fi
}
seed_browser_cache chromium-blockfile "Google/Chrome/User Data/Default/Cache/Cache_Data"
seed_browser_cache chromium-simple "Microsoft/Edge/User Data/Default/Cache/Cache_Data"
seed_browser_cache chromium-simple "SomeApp/EBWebView/Default/Cache/Cache_Data"
seed_browser_cache firefox-cache2 "Mozilla/Firefox/Profiles/x.default/cache2"
if [ ! -e "$appdata/Roaming/Mozilla/Firefox/profiles.ini" ]; then
    mkdir -p "$appdata/Roaming/Mozilla/Firefox"
    printf '[General]\r\nStartWithLastProfile=1\r\n\r\n[Profile0]\r\nName=default\r\nIsRelative=1\r\nPath=Profiles/x.default\r\nDefault=1\r\n' \
        >"$appdata/Roaming/Mozilla/Firefox/profiles.ini"
fi

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
