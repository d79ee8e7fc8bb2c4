#!/usr/bin/env bash
# Starts Drovan under Wine on a virtual display and saves pictures of its windows to docs/: the main window,
# the About box, the save-path notice, and the right-click popup as current Windows and as Windows XP with
# its theme draw it; then the main window, the About box and the popup again with the screen at 150 % and
# 200 %; last the folder after an extraction.
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

find_main_window() {
    for _ in $(seq 100); do
        main="$(xdotool search --onlyvisible --name '^Drovan v2.0$' 2>/dev/null | head -n 1 || true)"
        [ -n "$main" ] && return 0
        sleep 0.1
    done
    echo "the main window did not appear" >&2
    exit 1
}

# The largest visible window of the program other than the main window (tooltips are windows too).
find_box() {
    box=""
    for _ in $(seq 100); do
        local best=0 id
        for id in $(xdotool search --onlyvisible --class drovan.exe 2>/dev/null); do
            [ "$id" = "$main" ] && continue
            geometry "$id"
            if [ $((WIDTH * HEIGHT)) -gt "$best" ]; then
                best=$((WIDTH * HEIGHT))
                box="$id"
            fi
        done
        [ -n "$box" ] && return 0
        sleep 0.1
    done
    echo "no $1 appeared" >&2
    exit 1
}

# Window geometry as X, Y, WIDTH, HEIGHT shell variables.
geometry() {
    eval "$(xdotool getwindowgeometry --shell "$1")"
}

# The pointer to a corner of the screen that no window covers, so that no control shows its hover look or
# a tooltip; then a wait until the program shows no untitled window (a tooltip) beyond the allowed number (an
# open popup menu).
park_pointer() {
    local allowed="${1:-0}" corner id untitled
    eval "$(xdotool getdisplaygeometry --shell)"
    local right=$((WIDTH - 1)) bottom=$((HEIGHT - 1))
    for corner in "$right $bottom" "0 $bottom" "$right 0" "0 0" ""; do
        [ -z "$corner" ] && { echo "every corner of the screen is under a window" >&2; exit 1; }
        covered $corner || break
    done
    xdotool mousemove $corner
    for _ in $(seq 50); do
        untitled=0
        for id in $(xdotool search --onlyvisible --class drovan.exe 2>/dev/null); do
            [ -z "$(xdotool getwindowname "$id" 2>/dev/null)" ] && untitled=$((untitled + 1))
        done
        [ "$untitled" -le "$allowed" ] && return 0
        sleep 0.1
    done
    echo "a tooltip stayed on the screen" >&2
    exit 1
}

# Whether a visible window other than the root covers the point $1, $2.
covered() {
    local id root_window
    root_window="$(xdotool search --maxdepth 0 --name '' 2>/dev/null | head -n 1)"
    for id in $(xdotool search --onlyvisible --name '' 2>/dev/null); do
        [ "$id" = "$root_window" ] && continue
        geometry "$id"
        if [ "$1" -ge "$X" ] && [ "$1" -lt $((X + WIDTH)) ] && [ "$2" -ge "$Y" ] &&
            [ "$2" -lt $((Y + HEIGHT)) ]; then
            return 0
        fi
    done
    return 1
}

shoot_window() {
    park_pointer
    sleep 1
    import -window "$1" "$docs/$2"
    echo "$docs/$2"
}

# The main window with the popup open over it.
shoot_popup() {
    geometry "$main"
    sleep 1
    import -window root -crop "${WIDTH}x${HEIGHT}+$X+$Y" +repage "$docs/$1"
    echo "$docs/$1"
}

# A point of the main window given in its dialog units: the window is 172 x 138 of them at every scale.
click_units() {
    geometry "$main"
    xdotool mousemove $((X + $2 * WIDTH / 172)) $((Y + $3 * HEIGHT / 138)) click "$1"
}

# The screen's DPI for the next Wine session.
set_dpi() {
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
    wineserver -k 2>/dev/null || true
    wineserver -w
}

start() {
    wine "$build/win/Drovan.exe" >/dev/null 2>&1 &
    find_main_window
}

stop() {
    xdotool key Escape
    wineserver -w
}

wine reg delete 'HKCU\Software\Wine\AppDefaults\Drovan.exe' /f >/dev/null 2>&1 || true
set_dpi 96
start
shoot_window "$main" main-window.png

click_units 1 146 72
find_box "About box"
shoot_window "$box" about.png
xdotool key Escape
sleep 0.5

click_units 1 146 107
find_box "notice"
shoot_window "$box" notice.png
xdotool key Escape
sleep 0.5

click_units 3 5 60
sleep 0.5
park_pointer 1
xdotool key Down
shoot_popup popup-classic.png
xdotool key Escape
stop

# Windows XP with its theme: the program reads the version Wine reports for it.
wine reg add 'HKCU\Software\Wine\AppDefaults\Drovan.exe' /v Version /d winxp /f >/dev/null 2>&1
start
click_units 3 5 60
sleep 0.5
park_pointer 1
xdotool key Down
shoot_popup popup-xp.png
xdotool key Escape
stop
wine reg delete 'HKCU\Software\Wine\AppDefaults\Drovan.exe' /f >/dev/null 2>&1 || true

# 150 % and 200 %: the main window, the About box and the classic popup.
for scale in 150:144 200:192; do
    percent="${scale%%:*}"
    set_dpi "${scale##*:}"
    start
    shoot_window "$main" "main-window-$percent.png"
    click_units 1 146 72
    find_box "About box"
    shoot_window "$box" "about-$percent.png"
    xdotool key Escape
    sleep 0.5
    click_units 3 5 60
    sleep 0.5
    park_pointer 1
    xdotool key Down
    shoot_popup "popup-classic-$percent.png"
    xdotool key Escape
    stop
done
set_dpi 96

# The folder after an extraction of mp3, flv, mp4 and jpg from the sample caches (the console harvester
# harvests the same sources as the window), as Wine's file manager shows it.
cmake --build "$build/win" --target drovan-harvest
drovan_seed_sample_caches >/dev/null
harvest="$WINEPREFIX/drive_c/users/Public/Harvest"
rm -rf "$harvest"
mkdir -p "$harvest"
for type in mp3 flv mp4 jpg; do
    wine "$build/win/drovan-harvest.exe" --type "$type" --to 'C:\users\Public\Harvest' >/dev/null 2>&1 || true
done
wine explorer 'C:\users\Public\Harvest' >/dev/null 2>&1 &
for _ in $(seq 100); do
    folder="$(xdotool search --onlyvisible --name '^Harvest$' 2>/dev/null | head -n 1 || true)"
    [ -n "$folder" ] && break
    sleep 0.1
done
shoot_window "$folder" harvested-folder.png
wineserver -k
