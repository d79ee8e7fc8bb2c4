#!/usr/bin/env bash
# Starts Drovan under Wine on a virtual display and saves pictures of its windows to docs/: the main window,
# the About box, the save-path notice, and the right-click popup as current Windows and as Windows XP with
# its theme draw it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build"
docs="$root/docs"

"$root/tools/ensure-deps.sh"
cmake -S "$root" -B "$build/win" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/win" --target Drovan

. "$root/tools/wine-env.sh" "$build/wine-shots"
drovan_ensure_prefix
drovan_start_virtual_display 1024x768x24
mkdir -p "$docs"

find_window() {
    local id=""
    for _ in $(seq 100); do
        id="$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1 || true)"
        [ -n "$id" ] && break
        sleep 0.1
    done
    [ -n "$id" ] || { echo "no window titled $1" >&2; exit 1; }
    echo "$id"
}

# Window geometry as X, Y, WIDTH, HEIGHT shell variables.
geometry() {
    eval "$(xdotool getwindowgeometry --shell "$1")"
}

shoot_window() {
    sleep 1
    import -window "$1" "$docs/$2"
    echo "$docs/$2"
}

# The main window and whatever popup hangs from its surface point, with a margin for the menu.
shoot_popup() {
    geometry "$main"
    sleep 1
    import -window root -crop "$((WIDTH + 160))x$((HEIGHT + 40))+$X+$Y" +repage "$docs/$1"
    echo "$docs/$1"
}

# A point of the main window given in its dialog units (4 x 8 units are 7 x 14 pixels here).
click_units() {
    geometry "$main"
    xdotool mousemove $((X + 3 + $2 * 7 / 4)) $((Y + 3 + $3 * 14 / 8)) click "$1"
}

start() {
    wine "$build/win/Drovan.exe" >/dev/null 2>&1 &
    main="$(find_window 'Drovan v2.0')"
    xdotool windowmove "$main" 120 100
}

stop() {
    xdotool key --window "$main" Escape || true
    wineserver -w
}

wine reg delete 'HKCU\Software\Wine\AppDefaults\Drovan.exe' /f >/dev/null 2>&1 || true
start
shoot_window "$main" main-window.png

click_units 1 146 72
shoot_window "$(find_window '关于 Drovan')" about.png
xdotool key Escape

click_units 1 146 107
shoot_window "$(find_window '提示')" notice.png
xdotool key Escape

click_units 3 5 133
sleep 0.5
xdotool key Down
shoot_popup popup-classic.png
xdotool key Escape
stop

# Windows XP with its theme: the program reads the version Wine reports for it.
wine reg add 'HKCU\Software\Wine\AppDefaults\Drovan.exe' /v Version /d winxp /f >/dev/null 2>&1
start
click_units 3 5 133
sleep 0.5
xdotool key Down
shoot_popup popup-xp.png
xdotool key Escape
stop
wine reg delete 'HKCU\Software\Wine\AppDefaults\Drovan.exe' /f >/dev/null 2>&1 || true
