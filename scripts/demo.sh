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
"$root/scripts/build.sh" windows
exe="$root/build/windows/burrowlens.exe"
prefix="$root/build/demo-prefix"
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# Display numbers from 90 up; a lock file, stale or not, means "taken". Two
# scripts can still pick the same number at the same moment: the loser's
# Xvfb exits at once and the next number is tried.
xvfb_pid=""
start_xvfb() {
    local n
    for n in $(seq 90 189); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
        xvfb_pid=$!
        for _ in $(seq 100); do
            kill -0 "$xvfb_pid" 2>/dev/null || break
            if xdpyinfo -display ":$n" >/dev/null 2>&1; then
                export DISPLAY=":$n"
                return 0
            fi
            sleep 0.05
        done
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
        xvfb_pid=""
    done
    echo "demo.sh: no free X display between :90 and :189" >&2
    return 1
}

sample_controls() {
    local clsid1="{6B1E0A10-3C52-4E1B-9D0A-5E21B0A1C001}" lib1="{6B1E0A10-3C52-4E1B-9D0A-5E21B0A1D001}"
    local clsid2="{6B1E0A10-3C52-4E1B-9D0A-5E21B0A1C002}" lib2="{6B1E0A10-3C52-4E1B-9D0A-5E21B0A1D002}"
    local clsid3="{6B1E0A10-3C52-4E1B-9D0A-5E21B0A1C003}" lib3="{6B1E0A10-3C52-4E1B-9D0A-5E21B0A1D003}"
    local scriptable="{7DD95801-9882-11CF-9FA9-00AA006C42C4}"
    local initializable="{7DD95802-9882-11CF-9FA9-00AA006C42C4}"
    local chart='C:\\windows\\Downloaded Program Files\\burrowchart.ocx'
    local grid='C:\\windows\\occache\\tunnelgrid.ocx'
    local usage='HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\ModuleUsage'
    cat <<EOF
REGEDIT4

[$usage\\C:/windows/Downloaded Program Files/burrowchart.ocx]
".FileVersion"="1,0,0,1"
".Owner"="Unknown Owner"
"$clsid1"=""

[$usage\\C:/windows/occache/tunnelgrid.ocx]
".Owner"="Unknown Owner"
"$clsid2"=""

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs]
"$chart"=dword:00000001
"$grid"=dword:00000002

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Code Store Database\Distribution Units\\$clsid1]
@="Burrow Chart Control"

[HKEY_CLASSES_ROOT\CLSID\\$clsid1]
@="Burrow Chart Control"
[HKEY_CLASSES_ROOT\CLSID\\$clsid1\InprocServer32]
@="$chart"
[HKEY_CLASSES_ROOT\CLSID\\$clsid1\Version]
@="1.0"
[HKEY_CLASSES_ROOT\CLSID\\$clsid1\TypeLib]
@="$lib1"
[HKEY_CLASSES_ROOT\CLSID\\$clsid1\Implemented Categories\\$scriptable]
[HKEY_CLASSES_ROOT\CLSID\\$clsid1\Implemented Categories\\$initializable]
[HKEY_CLASSES_ROOT\TypeLib\\$lib1\1.0]
@="Burrow Chart Control 1.0"
[HKEY_CLASSES_ROOT\TypeLib\\$lib1\1.0\0\win32]
@="$chart"

[HKEY_CLASSES_ROOT\CLSID\\$clsid2]
@="Tunnel Grid"
[HKEY_CLASSES_ROOT\CLSID\\$clsid2\Version]
@="2.1"
[HKEY_CLASSES_ROOT\CLSID\\$clsid2\TypeLib]
@="$lib2"
[HKEY_CLASSES_ROOT\CLSID\\$clsid2\Implemented Categories\\$scriptable]
[HKEY_CLASSES_ROOT\TypeLib\\$lib2\2.1]
@="Tunnel Grid 2.1 Type Library"
[HKEY_CLASSES_ROOT\TypeLib\\$lib2\2.1\0\win32]
@="$grid"

[HKEY_CLASSES_ROOT\CLSID\\$clsid3]
@="Burrow Calendar"
[HKEY_CLASSES_ROOT\CLSID\\$clsid3\TypeLib]
@="$lib3"
[HKEY_CLASSES_ROOT\CLSID\\$clsid3\Implemented Categories\\$initializable]
[HKEY_CLASSES_ROOT\TypeLib\\$lib3\3.0]
@="Burrow Calendar 3.0"

[HKEY_CLASSES_ROOT\Component Categories\\$scriptable]
"409"="Controls that are safely scriptable"
[HKEY_CLASSES_ROOT\Component Categories\\$initializable]
"409"="Controls safely initializable from persistent data"
EOF
}

make_prefix() {
    echo "Creating the demo prefix $prefix"
    rm -rf "$prefix"
    mkdir -p "$prefix"
    wineboot -i </dev/null >"$root/build/demo-wineboot.log" 2>&1 ||
        { cat "$root/build/demo-wineboot.log" >&2; exit 1; }
    local windows="$prefix/drive_c/windows"
    # The samples are the test fixtures: small DLLs of our own with version
    # resources.
    local fixtures="$root/build/windows/fixtures"
    mkdir -p "$windows/Downloaded Program Files" "$windows/occache"
    cp "$fixtures/full.ocx" "$windows/Downloaded Program Files/burrowchart.ocx"
    cp "$fixtures/ansi.dll" "$windows/occache/tunnelgrid.ocx"
    cp "$fixtures/long.ocx" "$windows/system32/burrowcal.ocx"
    sample_controls >"$prefix/samples.reg"
    (cd "$prefix" && wine reg import samples.reg >/dev/null)
    # A path that names the Windows folder through the environment.
    wine reg add 'HKCR\TypeLib\{6B1E0A10-3C52-4E1B-9D0A-5E21B0A1D003}\3.0\0\win32' /ve \
        /t REG_EXPAND_SZ /d '%SystemRoot%\system32\burrowcal.ocx' /f >/dev/null
    touch "$prefix/.samples-from-fixtures"
}

if [ -z "$shot" ]; then
    [ -f "$prefix/.samples-from-fixtures" ] || make_prefix
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
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

start_xvfb
[ -f "$prefix/.samples-from-fixtures" ] || make_prefix
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
