#!/usr/bin/env bash
# The refresh benchmark: seeds a Wine prefix of its own with T type libraries
# (the first tenth naming files in a download cache), M ModuleUsage downloads
# and C further classes, then times, in alternating rounds, Wine's
# `reg query HKCR\TypeLib /s` and Burrowlens from its start until its list is
# filled, one selection change on each route, and `burrowlens.exe /report FILE`
# from its start until it has ended. Prints every round and the medians, with
# the report's time against the refresh's. Too slow for CI; run it by hand:
#   scripts/bench-refresh.sh [T M C [rounds]]      (default 3000 300 10000 3)
# 32- or 64-bit Wine as scripts/test.sh chooses (BURROWLENS_WINE_BITS=32|64).
# BURROWLENS_BENCH_WOW64=1 runs the 32-bit program in a 64-bit prefix with
# half of the libraries and downloads in the 64-bit view;
# BURROWLENS_BENCH_EXE=path times another burrowlens.exe on the same data.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
types=${1:-3000} downloads=${2:-300} classes=${3:-10000} rounds=${4:-3}
for n in "$types" "$downloads" "$classes" "$rounds"; do
    case "$n" in
    '' | *[!0-9]*) echo "usage: scripts/bench-refresh.sh [T M C [rounds]]" >&2; exit 2 ;;
    esac
done

# shellcheck source=scripts/wine-common.sh
. "$root/scripts/wine-common.sh"
bits=$(wine_bits)
config=windows
[ "$bits" = 64 ] && config=windows64
build="$root/build/$config"
"$root/scripts/build.sh" "$config" --target burrowlens refresh_seed refresh_driver >/dev/null
use_wine "$bits" "$build/wine-bin"
prefix="$build/bench-prefix"
views=""
if [ -n "${BURROWLENS_BENCH_WOW64:-}" ]; then
    [ "$bits" = 32 ] || { echo "bench-refresh.sh: WoW64 needs 32-bit Wine" >&2; exit 2; }
    export WINEARCH=win64
    views=wow64
fi
exe=${BURROWLENS_BENCH_EXE:-$build/burrowlens.exe}

xvfb_pid=""
prefix_made=""
cleanup() {
    local status=$?
    if [ -n "$prefix_made" ]; then
        WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
    fi
    stop_xvfb
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

start_xvfb
started=$SECONDS
# The server it keeps up warms every program start, the peer's as ours.
make_run_prefix "$prefix" "$build/bench-wineboot.log"
wine "$build/bench/refresh_seed.exe" "$types" "$downloads" "$classes" $views
echo "$(wine_bits_reason "$bits"); prefix ready in $((SECONDS - started)) s"
echo "host: $(uname -srm), $(nproc) cores, $(wine --version)"

wine "$build/bench/refresh_driver.exe" "$(winepath -w "$exe")" "$rounds"
