#!/usr/bin/env bash
# Builds the libFuzzer targets of the menu template, toolbar and profiles.ini readers, the cache readers, the
# stored response heads, the entry names and types, HTTP dates and the body decoders, and runs each for the
# given number of seconds (default 60), or for --runs N inputs each; naming targets after them runs only those.
# Exits non-zero when a target finds a crash; reproducers go to build/fuzz/artifacts.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/fuzz"
limit=(-max_total_time="${1:-60}")
if [ "${1:-}" = --runs ]; then
    limit=(-runs="${2:-}")
    shift
fi
shift || true
if ! [[ "${limit[0]#*=}" =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 [seconds per target | --runs N] [target ...]" >&2
    exit 2
fi
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(menu_template toolbar profiles_ini firefox_cache2 chromium_simple chromium_sql sqlite_file blockfile sparse record_decoders response_head entry_name
    http_date decode_gzip decode_deflate decode_brotli decode_zstd
    hls_playlist dash_manifest ts_probe mp4_probe stream_finder fragment_merge ts_demux webvtt_join)

packages=(clang libclang-rt-14-dev cmake ninja-build)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    echo "Installing: ${missing[*]}"
    "${as_root[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi

CC=clang CXX=clang++ cmake -S "$root/fuzz" -B "$build" -G Ninja >/dev/null
cmake --build "$build"

# Writes 16-bit little-endian words.
words() {
    local word
    for word in "$@"; do
        printf "\\x$(printf %02x $((word & 0xFF)))\\x$(printf %02x $(((word >> 8) & 0xFF)))"
    done
}

menu_seeds="$build/corpus/menu_template"
toolbar_seeds="$build/corpus/toolbar"
profiles_seeds="$build/corpus/profiles_ini"
mkdir -p "$menu_seeds" "$toolbar_seeds" "$profiles_seeds" "$build/artifacts"
mkdir -p "$build/corpus/blockfile" "$build/corpus/sparse" "$build/corpus/record_decoders"
# Small sound blockfile caches and sound records of every format, written by the tests' cache builders.
"$build/blockfile_fuzz_seeds" "$build/corpus/blockfile"
"$build/record_decoders_seeds" "$build/corpus/record_decoders"

# Menu 153: one pop-up "Popup" (pop-up | end) holding Save path, Extract, a separator and About (end).
words 0 0 0x90 0x50 0x6F 0x70 0x75 0x70 0 \
    0 1011 0x4FDD 0x5B58 0x8DEF 0x5F84 0 \
    0 1012 0x63D0 0x53D6 0 \
    0 0 0 \
    0x80 1020 0x5173 0x4E8E 0x28 0x26 0x41 0x29 0x2E 0x2E 0x2E 0 >"$menu_seeds/seed-program-menu"
# Two header bytes, a nested pop-up ending with its parent, a grayed and checked entry with a TAB.
words 1 2 0xFFFF 0x10 0x46 0 0 1 0x41 0x09 0x42 0 0x90 0x52 0 0x89 2 0x43 0 \
    0x90 0x48 0 0x80 3 0x44 0 >"$menu_seeds/seed-nested-menu"
words 1 16 15 3 1011 1012 1020 >"$toolbar_seeds/seed-program-toolbar"
words 2 20 20 5 1011 0 1012 0 1020 >"$toolbar_seeds/seed-separators"
printf '[General]\r\nStartWithLastProfile=1\r\n\r\n[Profile0]\r\nName=default\r\nIsRelative=1\r\nPath=Profiles/a\r\n\r\n[Profile1]\r\nIsRelative=0\r\nPath=C:\\ff\\b\r\n' \
    >"$profiles_seeds/seed-two-profiles"

for target in firefox_cache2 chromium_simple response_head entry_name http_date; do
    mkdir -p "$build/corpus/$target"
done
printf 'Sun, 06 Nov 1994 08:49:37 GMT' >"$build/corpus/http_date/seed-imf"
printf 'Sunday, 06-Nov-94 08:49:37 GMT' >"$build/corpus/http_date/seed-rfc850"
printf 'Sun Nov  6 08:49:37 1994' >"$build/corpus/http_date/seed-asctime"
"$build/cache_seeds" "$build/corpus/firefox_cache2" "$build/corpus/chromium_simple" \
    "$build/corpus/response_head" "$build/corpus/entry_name"

# Body decoder seeds: the first byte picks the piece size the body is fed in.
mkdir -p "$build"/corpus/decode_{gzip,deflate,brotli,zstd}
printf '\x07\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\x03\xb3\x29\xb0\x4b\x4e\x4c\xce\x48\xb5\xd1\x2f\xb0\x53\xb0\x41\xe6\x3c\xdf\x33\xf9\xe9\xda\x19\x0a\x49\xf9\x29\x95\x5c\x00\x87\xd9\x05\xc6\x26\x00\x00\x00\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\x03\xab\x00\x00\x83\x16\xdc\x8c\x01\x00\x00\x00' >"$build/corpus/decode_gzip/seed-members"
printf '\x03\x78\xda\xb3\x29\xb0\x4b\x4e\x4c\xce\x48\xb5\xd1\x2f\xb0\x53\xb0\x41\xe6\x3c\xdf\x33\xf9\xe9\xda\x19\x0a\x49\xf9\x29\x95\x5c\x00\x05\x17\x0e\x67' >"$build/corpus/decode_deflate/seed-zlib"
printf '\x05\xb3\x29\xb0\x4b\x4e\x4c\xce\x48\xb5\xd1\x2f\xb0\x53\xb0\x41\xe6\x3c\xdf\x33\xf9\xe9\xda\x19\x0a\x49\xf9\x29\x95\x5c\x00' >"$build/corpus/decode_deflate/seed-raw"
printf '\x02\xa2\x04\x00\x80\xbc\x71\xbe\xd0\x60\x83\xdc\x06\xb7\xbf\x2e\xbc\x2c\x32\xd8\xa6\x77\x6e\x92\x8e\x40\xd5\x6c\x38\xa4\x56\xa6\x10\xb4\xbf\x75\xd3\xa8\x6e\x09' >"$build/corpus/decode_brotli/seed-text"
printf '\x04\x28\xb5\x2f\xfd\x24\x26\xfd\x00\x00\xc8\x3c\x70\x3e\x63\x61\x63\x68\x65\x3c\x2f\x70\x3e\x20\xe7\xbc\x93\xe5\xad\x98\x20\x62\x6f\x64\x79\x0a\x01\x00\x70\xcc\x2f\x87\x04\x2c\x73\x28\xb5\x2f\xfd\x24\x26\xfd\x00\x00\xc8\x3c\x70\x3e\x63\x61\x63\x68\x65\x3c\x2f\x70\x3e\x20\xe7\xbc\x93\xe5\xad\x98\x20\x62\x6f\x64\x79\x0a\x01\x00\x70\xcc\x2f\x87\x04\x2c\x73' >"$build/corpus/decode_zstd/seed-two-frames"

# Playlists and manifests as players meet them, and small sound MPEG-TS and fMP4 segments.
for target in hls_playlist dash_manifest ts_probe mp4_probe stream_finder ts_demux fragment_merge sqlite_file \
    chromium_sql webvtt_join; do
    mkdir -p "$build/corpus/$target"
done
for target in hls_playlist dash_manifest ts_demux fragment_merge sqlite_file chromium_sql webvtt_join; do
    cp "$root/fuzz/seeds/$target"/* "$build/corpus/$target/"
done
"$build/media_probe_seeds" "$build/corpus/ts_probe" "$build/corpus/mp4_probe"

status=0
for target in "${targets[@]}"; do
    echo "== $target: ${limit[0]}"
    if ! "$build/${target}_fuzz" "${limit[@]}" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/${target}-" "$build/corpus/$target"; then
        echo "!! $target found a crash; see $build/artifacts" >&2
        status=1
    fi
done
exit $status
