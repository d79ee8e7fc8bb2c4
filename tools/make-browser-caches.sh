#!/usr/bin/env bash
# Writes the caches under tests/data with real browsers: Chromium (simple, blockfile and SQL backends) and Firefox
# ESR load a small site served on 127.0.0.1 headless; their cache folders are copied out with a manifest each.
# chromium-sql-wal is copied while the browser still runs: at exit Chromium folds its WAL files into the databases.
# firefox140-cache2 comes from Debian's older Firefox ESR 140, unpacked from its package, never installed: its
# network predictor writes records into the cache, and ESR 153 has no predictor.
# Usage: tools/make-browser-caches.sh [OUT_DIR]   (default tests/data; runs as root to install what is missing)
# Environment: PORT (default 47831; the URLs in the manifests carry it), ONLY (comma list of caches to redo).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$root/tests/data}"

need=()
command -v chromium >/dev/null || need+=(chromium)
command -v firefox-esr >/dev/null || need+=(firefox-esr)
command -v brotli >/dev/null || need+=(brotli)
command -v zstd >/dev/null || need+=(zstd)
[ -x /usr/bin/python3 ] || need+=(python3)
if [ ${#need[@]} -gt 0 ]; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}"
fi
echo "$(chromium --version 2>/dev/null); $(firefox-esr --version 2>/dev/null)"

mkdir -p "$out"
args=("$out" --port "${PORT:-47831}")
[ -n "${ONLY:-}" ] && args+=(--only "$ONLY")

if [ -z "${ONLY:-}" ] || [[ ",$ONLY," == *,firefox140-cache2,* ]]; then
    ff140="${XDG_CACHE_HOME:-$HOME/.cache}/drovan/firefox-esr-140"
    if [ ! -x "$ff140/usr/lib/firefox-esr/firefox-esr" ]; then
        esr140() { apt-cache madison firefox-esr | awk '$3 ~ /^140\./ {print $3; exit}'; }
        version="$(esr140)"
        if [ -z "$version" ] && [ "$(id -u)" = 0 ]; then
            apt-get update -qq
            version="$(esr140)"
        fi
        if [ -n "$version" ]; then
            deb="$(mktemp -d)"
            (cd "$deb" && apt-get download -qq "firefox-esr=$version") && mkdir -p "$ff140" &&
                dpkg-deb -x "$deb"/firefox-esr_*.deb "$ff140" || true
            rm -rf "$deb"
        fi
    fi
    if [ -x "$ff140/usr/lib/firefox-esr/firefox-esr" ]; then
        echo "$("$ff140/usr/lib/firefox-esr/firefox-esr" --version 2>/dev/null) (unpacked in $ff140)"
        args+=(--firefox140 "$ff140/usr/lib/firefox-esr/firefox-esr")
    else
        echo "no Firefox ESR 140 package found: firefox140-cache2 is not made" >&2
    fi
fi
# Debian's own Python: the bodies are made with its standard library only.
export PYTHONDONTWRITEBYTECODE=1
/usr/bin/python3 "$root/tools/browser-caches/make_caches.py" "${args[@]}"
