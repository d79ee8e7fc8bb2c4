#!/usr/bin/env bash
# Installs the Debian packages and the Chinese locale that building, running and testing need, when missing, and
# builds the decoders the Windows build links.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

packages=(cmake ninja-build g++ libgtest-dev g++-mingw-w64-x86-64 wine wine64 xvfb xauth fonts-wine
          fonts-wqy-microhei locales imagemagick xdotool zlib1g-dev libsqlite3-dev libbrotli-dev libzstd-dev libdeflate-dev libz-mingw-w64-dev
          dpkg-dev exfat-fuse exfatprogs fuse3 dosfstools fusefat ffmpeg)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    "${as_root[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq -o DPkg::Lock::Timeout=600 \
        "${missing[@]}" >/dev/null
fi

# Without the real glibc locale Wine cannot decode non-ASCII Unix file names.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
    "${as_root[@]}" sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | "${as_root[@]}" tee -a /etc/locale.gen >/dev/null
    "${as_root[@]}" locale-gen >/dev/null
fi

"$root/tools/build-decoders.sh"
