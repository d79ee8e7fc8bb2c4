#!/usr/bin/env bash
# Runs one Windows test program under Wine with the screen at a given DPI, in a prefix of its own beside the
# test prefix, so that every other test keeps 96. The prefix's DPI is set before each run and the session is
# ended after it: Wine reads the setting when its server starts.
# Usage: wine-dpi-run.sh DPI WARMUP_EXE TEST_EXE [ARGUMENTS...]
set -uo pipefail
if [ -z "${WINEPREFIX:-}" ] || [ ! -f "$WINEPREFIX/.drovan-ready" ]; then
    echo "wine-dpi-run: no prepared WINEPREFIX; run tools/test.sh" >&2
    exit 2
fi
dpi="$1"
warmup="$2"
shift 2
. "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh" "$WINEPREFIX-dpi"
drovan_ensure_prefix
wineserver -k 2>/dev/null
wineserver -w
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
wineserver -k 2>/dev/null
wineserver -w
# The desktop process the first window starts would hold the output pipe; start it detached.
wineserver -p >/dev/null 2>&1 </dev/null
wine "$warmup" >/dev/null 2>&1 </dev/null
export DROVAN_TEST_DPI="$dpi"
wine "$@"
status=$?
wineserver -k 2>/dev/null
exit "$status"
