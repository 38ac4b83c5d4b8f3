#!/usr/bin/env bash
# Builds Burrowlens and starts it under Wine, in a prefix of its own with a few
# sample controls registered:
#   scripts/demo.sh                        on your X display
#   scripts/demo.sh --screenshot out.png   on a private X server: saves a picture
#                                          of the window and ends
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

usage() {
    echo "usage: scripts/demo.sh [--screenshot file.png]" >&2
    exit 2
}
shot=""
case $# in
0) ;;
2) [ "$1" = --screenshot ] || usage; shot=$2 ;;
*) usage ;;
esac
if [ -z "$shot" ] && [ -z "${DISPLAY:-}" ]; then
    cat >&2 <<'EOF'
There is no display (DISPLAY is not set), so Burrowlens has nowhere to open its window.
To see it anyway, let it draw on a private X server and save a picture of it:
    scripts/demo.sh --screenshot burrowlens.png
EOF
    exit 1
fi

"$root/scripts/deps.sh"
# shellcheck source=scripts/wine-common.sh
. "$root/scripts/wine-common.sh"
bits=$(wine_bits)
echo "Burrowlens runs under $(wine_bits_reason "$bits")."
if [ "$bits" = 32 ]; then
    config=windows prefix="$root/build/demo-prefix"
else
    config=windows64 prefix="$root/build/demo-prefix64"
fi
"$root/scripts/build.sh" "$config"
exe="$root/build/$config/burrowlens.exe"
export WINEPREFIX="$prefix"
use_wine "$bits" "$root/build/wine-bin"
xvfb_pid=""

make_prefix() {
    echo "Creating the demo prefix $prefix"
    rm -rf "$prefix"
    mkdir -p "$prefix"
    : >"$root/build/demo-wineboot.log"
    prefix_step "$root/build/demo-wineboot.log" wineboot -i || exit 1
    use_wines_own_fonts
    seed_sample_controls "$root/build/$config/fixtures" "$prefix"
    touch "$prefix/.samples-v3"
}

if [ -z "$shot" ]; then
    [ -f "$prefix/.samples-v3" ] || make_prefix
    echo "Starting Burrowlens on $DISPLAY"
    # Exit, Escape and Close all end the program with code 1.
    wine "$exe" || true
    exit 0
fi

program_pid=""
cleanup() {
    local status=$?
    if [ -d "$prefix" ]; then
        wine reg delete 'HKCU\Software\Wine\X11 Driver' /v Managed /f >/dev/null 2>&1 || true
        wineserver -k 2>/dev/null || true
    fi
    if [ -n "$program_pid" ]; then
        wait "$program_pid" 2>/dev/null || true
    fi
    stop_xvfb
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

start_xvfb
[ -f "$prefix/.samples-v3" ] || make_prefix
# There is no window manager on this server: unmanaged windows get their
# frames drawn by Wine itself. The setting goes again on the way out.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
wine "$exe" </dev/null >/dev/null 2>&1 &
program_pid=$!
shown=""
for _ in $(seq 300); do
    if xwininfo -root -tree 2>/dev/null | grep -q '"Burrowlens": ("burrowlens.exe"'; then
        shown=1
        break
    fi
    if ! kill -0 "$program_pid" 2>/dev/null; then
        echo "demo.sh: Burrowlens ended before its window appeared" >&2
        exit 1
    fi
    sleep 0.1
done
if [ -z "$shown" ]; then
    echo "demo.sh: no Burrowlens window after 30 s" >&2
    exit 1
fi
# The list is filled by a message the dialog posts to itself once it is up.
sleep 1
import -window root "$shot"
echo "Saved $shot"
