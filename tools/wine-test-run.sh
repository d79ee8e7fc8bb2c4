#!/usr/bin/env bash
# Runs one Windows test program under Wine; refuses to run outside a prepared test prefix, so that no test
# ever touches the user's own ~/.wine.
if [ -z "${WINEPREFIX:-}" ] || [ ! -f "$WINEPREFIX/.drovan-ready" ]; then
    echo "wine-test-run: no prepared WINEPREFIX; run tools/test.sh" >&2
    exit 2
fi
exec wine "$@"
