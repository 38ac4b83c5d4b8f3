# Shared by the scripts that run Burrowlens under Wine; sourced, not run.
# The caller sets WINEPREFIX and, for start_xvfb, keeps xvfb_pid to stop it.

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Wine names files on the host in the host's character set: without a UTF-8
# locale it cannot make a file whose name is outside ASCII (error 3), and
# other locales would change the ANSI code page the tests expect (Western).
export LC_ALL=C.UTF-8

# Which Wine runs our Windows programs: 32-bit wherever this host can run
# 32-bit x86 code at all, else 64-bit. Some hosts refuse 32-bit programs
# ("Exec format error") although the kernel claims to support them, so the
# loader itself is asked. BURROWLENS_WINE_BITS=32 or 64 forces either way.
wine_bits() {
    case "${BURROWLENS_WINE_BITS:-}" in
    32 | 64) echo "$BURROWLENS_WINE_BITS" ;;
    "")
        if /usr/lib/wine/wine --version >/dev/null 2>&1; then
            echo 32
        else
            echo 64
        fi
        ;;
    *)
        echo "$(basename "$0"): BURROWLENS_WINE_BITS must be 32 or 64, not '$BURROWLENS_WINE_BITS'" >&2
        return 1
        ;;
    esac
}

# Why wine_bits chose as it did, in one line for the user.
wine_bits_reason() {
    if [ -n "${BURROWLENS_WINE_BITS:-}" ]; then
        echo "$1-bit Wine, as BURROWLENS_WINE_BITS asks"
    elif [ "$1" = 32 ]; then
        echo "32-bit Wine: this host runs 32-bit x86 programs"
    else
        echo "64-bit Wine and a 64-bit build of the same sources: this host cannot run 32-bit x86 programs (/usr/lib/wine/wine fails to start)"
    fi
}

# The bitness of a Windows program, from the machine field of its PE header.
pe_bits() {
    local offset machine
    offset=$(od -An -t u4 -j 60 -N 4 "$1" | tr -d ' ')
    machine=$(od -An -t x2 -j $((offset + 4)) -N 2 "$1" | tr -d ' ')
    case "$machine" in
    014c) echo 32 ;;
    8664) echo 64 ;;
    *) echo "$(basename "$0"): $1 is not an x86 Windows program" >&2; return 1 ;;
    esac
}

# Sets up the environment for Wine of the given bitness. Debian's wine,
# wineboot, reg and winepath all start the 32-bit loader whenever it is
# installed, even where it cannot run; for 64-bit Wine a folder first on PATH
# holds a wine and a wine-stable that start the 64-bit loader instead, which
# the other wrappers then go through.
#   use_wine <32|64> <folder for the wrappers>
use_wine() {
    if [ "$1" = 32 ]; then
        export WINEARCH=win32
        return 0
    fi
    local bin=$2 name
    mkdir -p "$bin"
    for name in wine wine-stable; do
        printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$bin/$name"
        chmod +x "$bin/$name"
    done
    export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64 PATH="$bin:$PATH"
}

# Ends the X server that start_xvfb started, if any; for clean-up traps.
stop_xvfb() {
    if [ -n "${xvfb_pid:-}" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
        xvfb_pid=""
    fi
}

# Display numbers from 90 up; a lock file, stale or not, means "taken". Two
# scripts can still pick the same number at the same moment: the loser's
# Xvfb exits at once and the next number is tried. The screen is 1024x768
# unless a size is given (WxHxDEPTH).
start_xvfb() {
    local n screen=${1:-1024x768x24}
    for n in $(seq 90 189); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 "$screen" -nolisten tcp </dev/null >/dev/null 2>&1 &
        xvfb_pid=$!
        for _ in $(seq 100); do
            kill -0 "$xvfb_pid" 2>/dev/null || break
            if xdpyinfo -display ":$n" >/dev/null 2>&1; then
                export DISPLAY=":$n"
                return 0
            fi
            sleep 0.05
        done
        stop_xvfb
    done
    echo "$(basename "$0"): no free X display between :90 and :189" >&2
    return 1
}

# Under set -e a failing command ends a script without a word, and a log
# then stops short of the reason; this names the command, its line and status.
name_failing_commands() {
    set -E
    trap 'name_failed_command $? "$LINENO" "$BASH_COMMAND"' ERR
}

# A function's own "return 1" is named where the function was called.
name_failed_command() {
    case $3 in return*) return 0 ;; esac
    echo "$(basename "$0"): line $2: $3: exit status $1" >&2
}

# A fresh prefix for one run, with a server that stays up for it: a cold
# start costs more than half a second a program. Without a window manager
# Wine waits two seconds for each closing top-level window to be withdrawn;
# unmanaged windows close at once. Sets prefix_made for the caller's clean-up.
# On failure it says which step failed and why, ends the prefix's server and
# answers 1.
#   make_run_prefix <prefix> <log>
make_run_prefix() {
    local prefix=$1 log=$2
    # A prefix left by an earlier run may still have a server; end it before
    # the prefix goes.
    if [ -d "$prefix" ]; then
        WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
        rm -rf "$prefix"
    fi
    mkdir -p "$prefix"
    export WINEPREFIX="$prefix"
    prefix_made=1
    : >"$log"
    prefix_step "$log" wineserver -p &&
        prefix_step "$log" wineboot -i &&
        prefix_step "$log" wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
}

# One step of make_run_prefix, its output kept in the log; when it fails or
# hangs, the log and what the prefix stands on go to standard error. A step
# takes seconds; five minutes means it never ends.
prefix_step() {
    local log=$1 status=0
    shift
    timeout 300 "$@" </dev/null >>"$log" 2>&1 || status=$?
    [ "$status" -eq 0 ] && return 0
    {
        echo "$(basename "$0"): '$*' failed with exit status $status in the Wine prefix $WINEPREFIX"
        echo "-- its output and that of the steps before it:"
        cat "$log"
        echo "-- user $(id -u), $(wine --version 2>&1 || true), $(uname -srm)"
        ls -ld "$WINEPREFIX" "/tmp/.wine-$(id -u)" 2>&1 || true
        df -PT "$WINEPREFIX" 2>&1 | tail -n 1
    } >&2
    wineserver -k 2>/dev/null || true
    return 1
}

# Wine ships metric-compatible copies of the fonts the dialogs and their
# frames ask for, but a Debian prefix does not find them and falls back on
# a font that is one pixel wider here and there, so that "Last Access"
# wraps. Naming the files by their full path in the font list fixes that.
use_wines_own_fonts() {
    local dir="" candidate
    for candidate in /usr/share/wine/fonts /usr/lib/wine/fonts; do
        [ -f "$candidate/sserife.fon" ] && dir=$candidate && break
    done
    if [ -z "$dir" ]; then
        echo "$(basename "$0"): Wine's own fonts are missing; a substitute is used" >&2
        return 0
    fi
    local fonts='HKLM\Software\Microsoft\Windows NT\CurrentVersion\Fonts' name file
    while read -r file name; do
        wine reg add "$fonts" /v "$name" /d "$(winepath -w "$dir/$file")" /f >/dev/null
    done <<LIST
sserife.fon MS Sans Serif
tahoma.ttf Tahoma (TrueType)
tahomabd.ttf Tahoma Bold (TrueType)
marlett.ttf Marlett (TrueType)
LIST
}

# Three sample controls, copies of our own fixture DLLs: a browser download
# with every detail filled in, one from the cache folder, and one that only
# its type library names, through %SystemRoot%.
#   seed_sample_controls <fixtures folder> <scratch folder>
seed_sample_controls() {
    local fixtures=$1 scratch=$2
    local chart_id="{6B1E0A10-3C52-4E1B-9D0A-5E21B0A1C001}" chart_lib="{6B1E0A10-3C52-4E1B-9D0A-5E21B0A1D001}"
    local grid_id="{6B1E0A10-3C52-4E1B-9D0A-5E21B0A1C002}" grid_lib="{6B1E0A10-3C52-4E1B-9D0A-5E21B0A1D002}"
    local cal_id="{6B1E0A10-3C52-4E1B-9D0A-5E21B0A1C003}" cal_lib="{6B1E0A10-3C52-4E1B-9D0A-5E21B0A1D003}"
    local scriptable="{7DD95801-9882-11CF-9FA9-00AA006C42C4}"
    local initializable="{7DD95802-9882-11CF-9FA9-00AA006C42C4}"
    local chart='C:\\windows\\Downloaded Program Files\\burrowchart.ocx'
    local grid='C:\\windows\\occache\\tunnelgrid.ocx'
    local usage='HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\ModuleUsage'
    local windows="$WINEPREFIX/drive_c/windows"
    mkdir -p "$windows/Downloaded Program Files" "$windows/occache"
    cp "$fixtures/full.ocx" "$windows/Downloaded Program Files/burrowchart.ocx"
    cp "$fixtures/ansi.dll" "$windows/occache/tunnelgrid.ocx"
    cp "$fixtures/long.ocx" "$windows/system32/burrowcal.ocx"
    cat >"$scratch/samples.reg" <<REG
REGEDIT4

[$usage\\C:/windows/Downloaded Program Files/burrowchart.ocx]
".FileVersion"="1,0,0,1"
".Owner"="Unknown Owner"
"$chart_id"=""

[$usage\\C:/windows/occache/tunnelgrid.ocx]
".Owner"="Unknown Owner"
"$grid_id"=""

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs]
"$chart"=dword:00000001
"$grid"=dword:00000002

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Code Store Database\Distribution Units\\$chart_id]
@="Burrow Chart Control"

[HKEY_CLASSES_ROOT\CLSID\\$chart_id]
@="Burrow Chart Control"
[HKEY_CLASSES_ROOT\CLSID\\$chart_id\InprocServer32]
@="$chart"
[HKEY_CLASSES_ROOT\CLSID\\$chart_id\Version]
@="1.0"
[HKEY_CLASSES_ROOT\CLSID\\$chart_id\TypeLib]
@="$chart_lib"
[HKEY_CLASSES_ROOT\CLSID\\$chart_id\Implemented Categories\\$scriptable]
[HKEY_CLASSES_ROOT\CLSID\\$chart_id\Implemented Categories\\$initializable]
[HKEY_CLASSES_ROOT\TypeLib\\$chart_lib\1.0]
@="Burrow Chart Control 1.0"
[HKEY_CLASSES_ROOT\TypeLib\\$chart_lib\1.0\0\win32]
@="$chart"

[HKEY_CLASSES_ROOT\CLSID\\$grid_id]
@="Tunnel Grid"
[HKEY_CLASSES_ROOT\CLSID\\$grid_id\Version]
@="2.1"
[HKEY_CLASSES_ROOT\CLSID\\$grid_id\TypeLib]
@="$grid_lib"
[HKEY_CLASSES_ROOT\CLSID\\$grid_id\Implemented Categories\\$scriptable]
[HKEY_CLASSES_ROOT\TypeLib\\$grid_lib\2.1]
@="Tunnel Grid 2.1 Type Library"
[HKEY_CLASSES_ROOT\TypeLib\\$grid_lib\2.1\0\win32]
@="$grid"

[HKEY_CLASSES_ROOT\CLSID\\$cal_id]
@="Burrow Calendar"
[HKEY_CLASSES_ROOT\CLSID\\$cal_id\TypeLib]
@="$cal_lib"
[HKEY_CLASSES_ROOT\CLSID\\$cal_id\Implemented Categories\\$initializable]
[HKEY_CLASSES_ROOT\TypeLib\\$cal_lib\3.0]
@="Burrow Calendar 3.0"

[HKEY_CLASSES_ROOT\Component Categories\\$scriptable]
"409"="Controls that are safely scriptable"
[HKEY_CLASSES_ROOT\Component Categories\\$initializable]
"409"="Controls safely initializable from persistent data"
REG
    (cd "$scratch" && wine reg import samples.reg >/dev/null)
    wine reg add "HKCR\\TypeLib\\$cal_lib\\3.0\\0\\win32" /ve \
        /t REG_EXPAND_SZ /d '%SystemRoot%\system32\burrowcal.ocx' /f >/dev/null
}
