#!/usr/bin/env bash
# Builds the Windows programs afresh (Release, mingw-w64) and writes dist/drovan-<version>-windows-x64.zip with
# the user's guide, the third-party notices and SHA256SUMS. Two runs on one tree give byte-identical zips.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/pkg-release"
stage="$build/stage"
dist="$root/dist"

"$root/tools/ensure-deps.sh"

SOURCE_DATE_EPOCH="$(git -C "$root" log -1 --format=%ct)"
export SOURCE_DATE_EPOCH
if [ -n "$(git -C "$root" status --porcelain --untracked-files=no)" ]; then
    echo "package: the tree has uncommitted changes; the zip holds them" >&2
fi

echo "== Windows build (Release) in $build"
rm -rf "$build"
# Only the package build drops build paths and the PE timestamp; the normal builds stay as they are.
prefix_map="-ffile-prefix-map=$root=."
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DDROVAN_BUILD_TESTS=OFF -DDROVAN_BUILD_BENCH=OFF \
    -DCMAKE_C_FLAGS="$prefix_map" -DCMAKE_CXX_FLAGS="$prefix_map" \
    -DCMAKE_EXE_LINKER_FLAGS_RELEASE="-Wl,--no-insert-timestamp" >/dev/null
cmake --build "$build" --target Drovan drovan-harvest

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
if [ -z "$version" ]; then
    echo "package: no project version in $build/CMakeCache.txt" >&2
    exit 1
fi

mkdir -p "$stage"
for exe in Drovan.exe drovan-harvest.exe; do
    cp "$build/$exe" "$stage/$exe"
    headers="$(TZ=UTC x86_64-w64-mingw32-objdump -p "$stage/$exe")"
    # Static: nothing but system DLLs, which every Windows has.
    if grep -i 'DLL Name:' <<<"$headers" |
        grep -Eiv ' (advapi32|comctl32|gdi32|kernel32|msvcrt|ole32|shell32|user32)\.dll$'; then
        echo "package: $exe needs a DLL Windows does not have" >&2
        exit 1
    fi
    if grep -q -F "$root" "$stage/$exe"; then
        echo "package: $exe holds the build path $root" >&2
        exit 1
    fi
    if ! grep -Eq '^Time/Date\s+Thu Jan  1 00:00:00 1970$' <<<"$headers"; then
        echo "package: $exe carries a link time" >&2
        exit 1
    fi
done

guide="$stage/使用说明.txt"
# A byte-order mark and CRLF, so that Notepad on every Windows version shows it right.
{
    printf '\xef\xbb\xbf'
    sed "s/@VERSION@/$version/g; s/\$/\r/" "$root/packaging/guide.txt"
} >"$guide"

notices="$stage/THIRD-PARTY-NOTICES.txt"
# The licences of what the static executables hold, as Debian ships them with the packages they are built from.
notice() {
    local title="$1" file="$2"
    if ! [ -f "$file" ]; then
        echo "package: $file is missing" >&2
        exit 1
    fi
    printf '\n%s\n%s\n\n' "$title" "$(printf '%*s' "${#title}" '' | tr ' ' '=')"
    cat "$file"
}
{
    sed "s/@VERSION@/$version/g" "$root/packaging/notices-intro.txt"
    notice "zlib (libz-mingw-w64)" /usr/share/doc/libz-mingw-w64/copyright
    notice "Brotli decoder (brotli)" /usr/share/doc/libbrotli1/copyright
    notice "Zstandard decoder (libzstd)" /usr/share/doc/libzstd1/copyright
    notice "libdeflate" /usr/share/doc/libdeflate0/copyright
    notice "mingw-w64 runtime and winpthreads (mingw-w64)" /usr/share/doc/mingw-w64-common/copyright
    notice "GCC runtime libraries: libgcc, libstdc++ (gcc-mingw-w64)" /usr/share/doc/gcc-mingw-w64-base/copyright
} | sed 's/$/\r/' >"$notices"

(cd "$stage" && LC_ALL=C sha256sum Drovan.exe drovan-harvest.exe THIRD-PARTY-NOTICES.txt 使用说明.txt >SHA256SUMS)

mkdir -p "$dist"
zip_file="$dist/drovan-$version-windows-x64.zip"
python3 "$root/packaging/make_zip.py" "$zip_file" "$stage" "$SOURCE_DATE_EPOCH" \
    Drovan.exe drovan-harvest.exe 使用说明.txt THIRD-PARTY-NOTICES.txt SHA256SUMS
sha256sum "$zip_file"
