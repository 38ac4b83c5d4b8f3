#!/usr/bin/env bash
# Runs one Windows program under Wine in the prefix and on the display that the
# caller chose (scripts/run-wine-tests.sh sets both). CMake uses it as the
# emulator of the cross build, so ctest starts every Windows test through it.
set -euo pipefail

if [ -z "${WINEPREFIX:-}" ]; then
    echo "wine-run.sh: WINEPREFIX is not set; run the tests through scripts/run-wine-tests.sh" >&2
    exit 2
fi
if [ -z "${DISPLAY:-}" ]; then
    echo "wine-run.sh: DISPLAY is not set; run the tests through scripts/run-wine-tests.sh" >&2
    exit 2
fi

# Without the overrides Wine offers to download Mono and Gecko on first use.
# The caller's WINEARCH, and for 64-bit Wine its PATH, choose the loader.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
exec wine "$@"
