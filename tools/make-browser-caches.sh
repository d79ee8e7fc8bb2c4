#!/usr/bin/env bash
# Writes the caches under tests/data with real browsers: Chromium (simple and blockfile backends) and Firefox ESR
# load a small site served on 127.0.0.1 headless; their cache folders are copied out with a manifest each.
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
# Debian's own Python: the bodies are made with its standard library only.
export PYTHONDONTWRITEBYTECODE=1
/usr/bin/python3 "$root/tools/browser-caches/make_caches.py" "${args[@]}"
