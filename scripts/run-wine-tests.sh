#!/usr/bin/env bash
# Runs the Windows build's tests under Wine:
#   scripts/run-wine-tests.sh build/windows     32-bit build, 32-bit Wine
#   scripts/run-wine-tests.sh build/windows64   64-bit build, 64-bit Wine
# It brings its own X server and a throwaway prefix of the build's bitness
# inside the build directory, so it needs no display and leaves nothing
# running behind it.
set -euo pipefail

build=${1:?usage: run-wine-tests.sh <windows-build-dir>}
build=$(cd "$build" && pwd)
prefix="$build/wine-prefix"
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/wine-common.sh
. "$root/scripts/wine-common.sh"

bits=$(pe_bits "$build/burrowlens.exe")
if [ "$bits" = 32 ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo "run-wine-tests.sh: this host cannot run 32-bit x86 programs; test a 64-bit build" >&2
    echo "(scripts/build.sh windows64) or let scripts/test.sh choose" >&2
    exit 1
fi
use_wine "$bits" "$build/wine-bin"
name_failing_commands

xvfb_pid=""
prefix_made=""
ctest_pid=""
elsewhere=""
cleanup() {
    local status=$?
    if [ -n "$ctest_pid" ]; then
        kill "$ctest_pid" 2>/dev/null || true
        wait "$ctest_pid" 2>/dev/null || true
    fi
    if [ -n "$prefix_made" ]; then
        WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
    fi
    stop_xvfb
    [ -z "$elsewhere" ] || rm -rf "$elsewhere"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

start_xvfb
echo "X server $DISPLAY (pid $xvfb_pid)"

started=$SECONDS
if ! make_run_prefix "$prefix" "$build/wineboot.log"; then
    # Whatever it was, the build folder may be where it lies: a second try in
    # a folder of its own under /tmp, which the clean-up removes.
    elsewhere=$(mktemp -d "${TMPDIR:-/tmp}/burrowlens-wine.XXXXXX")
    prefix="$elsewhere/prefix"
    echo "Trying once more in $prefix" >&2
    make_run_prefix "$prefix" "$build/wineboot.log"
fi
# The dialogs then get the font they ask for, with Windows' own metrics.
use_wines_own_fonts
echo "$bits-bit Wine prefix $prefix ready in $((SECONDS - started)) s"

# In the background, so that an interrupt reaches the trap at once rather
# than after the last test.
run_ctest() {
    ctest --test-dir "$build" --output-on-failure "$@" &
    ctest_pid=$!
    local code=0
    wait "$ctest_pid" || code=$?
    ctest_pid=""
    return "$code"
}
status=0
run_ctest -LE wow64 || status=$?

# The 32-bit program on 64-bit Windows, as its users run it: a 64-bit prefix
# of its own, where the 32-bit program and tests run under WoW64.
if [ "$bits" = 32 ]; then
    WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
    started=$SECONDS
    prefix="$build/wine-prefix-wow64"
    export WINEARCH=win64
    make_run_prefix "$prefix" "$build/wineboot-wow64.log"
    use_wines_own_fonts
    echo "64-bit Wine prefix $prefix ready in $((SECONDS - started)) s"
    run_ctest -L wow64 || status=$?
fi
exit "$status"
