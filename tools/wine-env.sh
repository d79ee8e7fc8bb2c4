# Sourced by the run and test scripts: the Wine environment the program runs and is tested in.
# Usage: . tools/wine-env.sh PREFIX_DIR
export WINEPREFIX="$1"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winebrowser.exe=d"
export LC_ALL=zh_CN.UTF-8

# Creates the prefix once: current Windows colours, no 2-second stalls without a window manager, the caption
# buttons' symbol font, and profile folders that are real folders inside the prefix instead of links into the
# user's home.
drovan_ensure_prefix() {
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        [ -f "$WINEPREFIX/.drovan-ready" ] && exit 0
        rm -rf "$WINEPREFIX"
        wineboot -i >/dev/null 2>&1
        wineserver -w
        local profile
        for profile in "$WINEPREFIX"/drive_c/users/*/; do
            for link in "$profile"*; do
                if [ -L "$link" ]; then
                    rm "$link" && mkdir "$link"
                fi
            done
        done
        # Debian's Wine does not look in its own font folder, and without Marlett the close box shows an "r".
        cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
        wine reg import "$(dirname "${BASH_SOURCE[0]}")/windows-colours.reg" >/dev/null 2>&1
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
        wineserver -w
        touch "$WINEPREFIX/.drovan-ready"
    ) 9>"$WINEPREFIX.lock"
}

drovan_cache_folder() {
    echo "$WINEPREFIX/drive_c/users/$(id -un)/AppData/Local/Microsoft/Windows/INetCache"
}

# Gives the prefix something to harvest: a small sample in an empty Internet-cache folder, and the small caches
# that real Chrome, Edge, a WebView2 app and Firefox wrote, where those browsers keep theirs (only where missing).
drovan_seed_sample_caches() {
    local root cache appdata
    root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
    cache="$(drovan_cache_folder)"
    mkdir -p "$cache"
    if [ -z "$(ls -A "$cache")" ]; then
        "$root/tools/make-sample-cache.sh" "$cache"
        echo "Sample browser cache made in $cache"
    fi
    appdata="${cache%/Local/Microsoft/Windows/INetCache}"
    drovan_seed_browser_cache() {
        local into="$appdata/Local/$2"
        if [ ! -e "$into" ]; then
            mkdir -p "$into"
            cp -r "$root/tests/data/$1/." "$into/"
            rm -f "$into/"*.tsv
            echo "Browser cache of $1 seeded in $into"
        fi
    }
    drovan_seed_browser_cache chromium-blockfile "Google/Chrome/User Data/Default/Cache/Cache_Data"
    drovan_seed_browser_cache chromium-simple "Microsoft/Edge/User Data/Default/Cache/Cache_Data"
    drovan_seed_browser_cache chromium-simple "SomeApp/EBWebView/Default/Cache/Cache_Data"
    drovan_seed_browser_cache firefox-cache2 "Mozilla/Firefox/Profiles/x.default/cache2"
    # Videos a player fetched as segments, to come out as one MP4 each.
    drovan_seed_browser_cache stream-joins/chromium-simple "BraveSoftware/Brave-Browser/User Data/Default/Cache/Cache_Data"
    drovan_seed_browser_cache streams/chromium-blockfile "Vivaldi/User Data/Default/Cache/Cache_Data"
    if [ ! -e "$appdata/Roaming/Mozilla/Firefox/profiles.ini" ]; then
        mkdir -p "$appdata/Roaming/Mozilla/Firefox"
        printf '[General]\r\nStartWithLastProfile=1\r\n\r\n[Profile0]\r\nName=default\r\nIsRelative=1\r\nPath=Profiles/x.default\r\nDefault=1\r\n' \
            >"$appdata/Roaming/Mozilla/Firefox/profiles.ini"
    fi
}

# Starts a private virtual display, sets DISPLAY to it, and ends it and the Wine session on exit.
drovan_start_virtual_display() {
    local displayfile
    displayfile="$(mktemp)"
    Xvfb -displayfd 3 -screen 0 "$1" -nolisten tcp 3>"$displayfile" >/dev/null 2>&1 &
    drovan_xvfb=$!
    trap 'wineserver -k 2>/dev/null || true; kill $drovan_xvfb 2>/dev/null || true' EXIT
    for _ in $(seq 100); do [ -s "$displayfile" ] && break; sleep 0.1; done
    export DISPLAY=":$(cat "$displayfile")"
    rm -f "$displayfile"
}
