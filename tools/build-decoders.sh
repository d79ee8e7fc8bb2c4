#!/usr/bin/env bash
# Builds libdeflate and the brotli and zstd decoders for the Windows build as static libraries from Debian's source packages,
# into build/deps/mingw/{include,lib}. The sources come through a private apt configuration holding deb-src
# entries for the Debian archive this machine already uses; the machine's own apt sources stay untouched.
# Does nothing when the libraries are already built.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
deps="$root/build/deps"
prefix="$deps/mingw"
stamp="$prefix/.built"
cc=x86_64-w64-mingw32-gcc-posix
ar=x86_64-w64-mingw32-ar
packages=(brotli libzstd libdeflate)

# One build at a time, however many scripts start it.
mkdir -p "$deps"
exec 9>"$deps/.lock"
flock 9
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "${packages[*]}" ]; then
    exit 0
fi

# deb-src lines for every Debian suite of this release the machine fetches from (one-line and deb822 sources).
codename="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
if [ -z "$codename" ]; then
    echo "build-decoders: no VERSION_CODENAME in /etc/os-release" >&2
    exit 1
fi
source_lines() {
    local file
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$file" ] || continue
        awk '$1 == "deb" {
                 options = ""; i = 2
                 if ($2 ~ /^\[/) { while ($i !~ /\]$/) { options = options $i " "; i++ } options = options $i; i++ }
                 line = "deb-src " (options == "" ? "" : options " ") $i " " $(i + 1)
                 for (j = i + 2; j <= NF && $j !~ /^#/; j++) line = line " " $j
                 print line
             }' "$file"
    done
    for file in /etc/apt/sources.list.d/*.sources; do
        [ -f "$file" ] || continue
        # Stanzas are separated by blank lines; comment lines and continuation lines (inline keys) are skipped.
        awk 'function flush(   n, s, list, i) {
                 if (types ~ /(^| )deb( |$)/ && uris != "" && suites != "" && enabled != "no") {
                     n = split(suites, list, " ")
                     for (i = 1; i <= n; i++)
                         print "deb-src " (signed ~ /^\// ? "[signed-by=" signed "] " : "") uris " " list[i] " " components
                 }
                 types = uris = suites = components = signed = enabled = ""
             }
             /^[ \t]*$/ { flush(); next }
             /^#/ || /^[ \t]/ { next }
             {
                 key = tolower($1); sub(/:$/, "", key); value = $0; sub(/^[^:]*:[ \t]*/, "", value)
                 if (key == "types") types = value
                 else if (key == "uris") uris = value
                 else if (key == "suites") suites = value
                 else if (key == "components") components = value
                 else if (key == "signed-by") signed = value
                 else if (key == "enabled") enabled = tolower(value)
             }
             END { flush() }' "$file"
    done
}
apt_dir="$deps/apt"
rm -rf "$apt_dir"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
# Only this release's suites (codename, codename-updates, codename-security): other vendors' repositories
# rarely carry sources.
source_lines | awk -v codename="$codename" '$0 ~ " " codename "(-[a-z]+)? " { print }' | sort -u \
    >"$apt_dir/sources.list"
if ! [ -s "$apt_dir/sources.list" ]; then
    echo "build-decoders: no Debian $codename entry in the machine's apt sources" >&2
    exit 1
fi
apt_options=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=-"
             -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache" -o "APT::Sandbox::User=root")
echo "Fetching Debian sources: ${packages[*]}"
apt-get "${apt_options[@]}" update -qq
src="$deps/src"
rm -rf "$src"
mkdir -p "$src"
# The newest version first; when its files cannot be had (a mirror without the security pool), the release's own.
for package in "${packages[@]}"; do
    if ! (cd "$src" && apt-get "${apt_options[@]}" source --download-only -qq "$package" >/dev/null 2>&1); then
        rm -f "$src/${package}_"*
        (cd "$src" && apt-get "${apt_options[@]}" source --download-only -qq "$package/$codename" >/dev/null)
    fi
done
for dsc in "$src"/*.dsc; do
    dpkg-source --no-check -x "$dsc" "$src/$(basename "$dsc" .dsc)" >/dev/null
done
brotli_dir="$(ls -d "$src"/brotli_*/)"
zstd_dir="$(ls -d "$src"/libzstd_*/)"
deflate_dir="$(ls -d "$src"/libdeflate_*/)"

rm -rf "$prefix" "$deps/obj"
mkdir -p "$prefix/include" "$prefix/lib" "$deps/obj/brotli" "$deps/obj/zstd" "$deps/obj/deflate"
jobs="$(nproc)"

# Compiles the given C files with the flags in cflags into objects in $1, then archives them into $2.
compile_archive() {
    local objects="$1" library="$2"
    shift 2
    printf '%s\0' "$@" | OBJECTS="$objects" xargs -0 -n 1 -P "$jobs" bash -c \
        'file="${!#}"; "$0" "${@:1:$#-1}" -c "$file" -o "$OBJECTS/$(basename "${file%.c}").o"' \
        "$cc" -O2 "${cflags[@]}"
    "$ar" rcs "$prefix/lib/$library" "$objects"/*.o
}

echo "Building libdeflate and the brotli and zstd decoders with $cc"
cflags=(-I"$brotli_dir/c/include")
compile_archive "$deps/obj/brotli" libbrotlidec.a "$brotli_dir"/c/common/*.c "$brotli_dir"/c/dec/*.c
cp -r "$brotli_dir/c/include/brotli" "$prefix/include/"

# zstd uses its x86-64 assembly only on Linux and macOS; said outright, so that no .S file is ever wanted.
cflags=(-DZSTD_DISABLE_ASM -DZSTD_LEGACY_SUPPORT=0 -I"$zstd_dir/lib" -I"$zstd_dir/lib/common")
compile_archive "$deps/obj/zstd" libzstd.a "$zstd_dir"/lib/common/*.c "$zstd_dir"/lib/decompress/*.c
cp "$zstd_dir/lib/zstd.h" "$zstd_dir/lib/zstd_errors.h" "$prefix/include/"

# Only the decompressors, and the checksums they verify.
cflags=(-I"$deflate_dir")
compile_archive "$deps/obj/deflate" libdeflate.a "$deflate_dir"/lib/{deflate,gzip,zlib}_decompress.c \
    "$deflate_dir"/lib/{utils,crc32,adler32}.c "$deflate_dir"/lib/x86/cpu_features.c
cp "$deflate_dir/libdeflate.h" "$prefix/include/"

rm -rf "$deps/obj"
echo "${packages[*]}" >"$stamp"
echo "Decoders built in $prefix"
