#!/usr/bin/env bash
# Fills a folder with a small browser-cache-like tree: nested folders of swf, flv, mp3 and jpg files, one name
# in two folders. Usage: make-sample-cache.sh FOLDER
set -euo pipefail
cache="$1"

sample() {
    local path="$cache/$1" header="$2" size="$3"
    mkdir -p "$(dirname "$path")"
    { printf '%b' "$header"; yes "Drovan sample cache entry $1" | head -c "$size" || true; } > "$path"
}

sample 'Content.IE5/4XK2P1QZ/intro[1].swf' 'FWS\x0a' 4096
sample 'Content.IE5/4XK2P1QZ/banner[1].swf' 'CWS\x0a' 2048
sample 'Content.IE5/4XK2P1QZ/logo[1].jpg' '\xff\xd8\xff\xe0' 3000
sample 'Content.IE5/7QW1MB3C/clip[1].flv' 'FLV\x01' 65536
sample 'Content.IE5/7QW1MB3C/theme[1].mp3' 'ID3\x03' 32768
sample 'Content.IE5/AX9D0L2E/intro[1].swf' 'FWS\x09' 6144
sample 'Content.IE5/AX9D0L2E/photo[2].jpg' '\xff\xd8\xff\xe1' 5000
sample 'Low/Flash/player/cache/movie.flv' 'FLV\x01' 131072
sample 'Low/Flash/player/cache/jingle.mp3' 'ID3\x04' 16384
