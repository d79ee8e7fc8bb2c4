#!/usr/bin/env bash
# Writes tests/data/streams with real browsers: Chromium (simple and blockfile backends) and Firefox ESR play tiny
# HLS and DASH streams made with Debian's ffmpeg through hls.js and dash.js from the npm registry, headless.
# With --joins: the streams that must be joined across cuts (ad breaks, Periods, separate tracks, subtitles, a
# partial one) into tests/data/stream-joins, also with Chromium's SQL backend, on port 47833.
# Usage: tools/make-stream-caches.sh [--joins] [OUT_DIR]   (default tests/data/streams or tests/data/stream-joins;
#        runs as root to install what is missing)
# Environment: PORT (default 47832, with --joins 47833; the URLs in the tables carry it), ONLY (comma list of
# caches to redo).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
joins=()
port=47832
out="$root/tests/data/streams"
if [ "${1:-}" = --joins ]; then
    joins=(--joins)
    port=47833
    out="$root/tests/data/stream-joins"
    shift
fi
out="${1:-$out}"
hls_version=1.7.4
dash_version=5.2.1

need=()
command -v chromium >/dev/null || need+=(chromium)
command -v firefox-esr >/dev/null || need+=(firefox-esr)
# Also Firefox's H.264 decoder: it plays through the system's libavcodec.
command -v ffmpeg >/dev/null || need+=(ffmpeg)
command -v npm >/dev/null || need+=(npm)
[ -x /usr/bin/python3 ] || need+=(python3)
if [ ${#need[@]} -gt 0 ]; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
echo "$(chromium --version 2>/dev/null); $(firefox-esr --version 2>/dev/null); $(ffmpeg -version | head -1)"

# The players come from the npm registry as data: packed, unpacked, served; never part of the program.
npm_dir="${XDG_CACHE_HOME:-$HOME/.cache}/drovan/npm"
mkdir -p "$npm_dir"
for pkg in "hls.js@$hls_version" "dashjs@$dash_version"; do
    name="${pkg%@*}"
    if [ ! -f "$npm_dir/$name-${pkg##*@}/package/package.json" ]; then
        (cd "$npm_dir" && npm pack --silent "$pkg" >/dev/null)
        mkdir -p "$npm_dir/$name-${pkg##*@}"
        tar -xzf "$npm_dir/$name-${pkg##*@}.tgz" -C "$npm_dir/$name-${pkg##*@}"
    fi
done

mkdir -p "$out"
args=("$out" "${joins[@]}" --port "${PORT:-$port}" --hls-js "$npm_dir/hls.js-$hls_version/package"
      --dashjs "$npm_dir/dashjs-$dash_version/package")
[ -n "${ONLY:-}" ] && args+=(--only "$ONLY")
# Debian's own Python, standard library only.
export PYTHONDONTWRITEBYTECODE=1
/usr/bin/python3 "$root/tools/stream-caches/make_stream_caches.py" "${args[@]}"
