#!/usr/bin/env bash
# Builds the libFuzzer targets of the menu template, toolbar and profiles.ini readers and runs each for
# the given number of seconds (default 60). Exits non-zero when a target finds a crash; reproducers go to
# build/fuzz/artifacts.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/fuzz"
seconds="${1:-60}"
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 [seconds per target]" >&2
    exit 2
fi

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

status=0
for target in menu_template toolbar profiles_ini; do
    echo "== $target: $seconds s"
    if ! "$build/${target}_fuzz" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/${target}-" "$build/corpus/$target"; then
        echo "!! $target found a crash; see $build/artifacts" >&2
        status=1
    fi
done
exit $status
