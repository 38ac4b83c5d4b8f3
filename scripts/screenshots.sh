#!/usr/bin/env bash
# Takes the pictures of Burrowlens for the documentation:
#   scripts/screenshots.sh [windows-build-dir]    (default: build/windows)
# It builds nothing: run `scripts/build.sh windows` first (or windows64 with
# build/windows64 where this host cannot run 32-bit programs). It needs Wine,
# Xvfb, ImageMagick, xwininfo and the MinGW compiler of the Windows build,
# which compiles the small helper that works the program's windows. In a
# throwaway prefix with a few sample controls, on a private X server, it
# writes docs/main-window.png and docs/about-box.png, frames included, then
# docs/main-window-150.png at 150 % (144 DPI), and leaves nothing running
# behind it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

usage() {
    echo "usage: scripts/screenshots.sh [windows-build-dir]" >&2
    exit 2
}
[ $# -le 1 ] || usage
build=${1:-$root/build/windows}
exe="$build/burrowlens.exe"
if [ ! -f "$exe" ]; then
    echo "screenshots.sh: no $exe; build it first with scripts/build.sh windows" >&2
    exit 1
fi
exe=$(cd "$(dirname "$exe")" && pwd)/burrowlens.exe
docs="$root/docs"

work=$(mktemp -d)
prefix="$work/prefix"
export WINEPREFIX="$prefix"
# shellcheck source=scripts/wine-common.sh
. "$root/scripts/wine-common.sh"
bits=$(pe_bits "$exe")
use_wine "$bits" "$work/wine-bin"

xvfb_pid=""
program_pid=""
prefix_made=""
cleanup() {
    local status=$?
    if [ -n "$prefix_made" ]; then
        wineserver -k 2>/dev/null || true
    fi
    if [ -n "$program_pid" ]; then
        wait "$program_pid" 2>/dev/null || true
    fi
    stop_xvfb
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Finds the program's windows, selects a control, opens and closes the About
# box. Each call prints the rectangle of the window it worked, as WxH+X+Y in
# the coordinates of the Wine desktop.
build_helper() {
    cat >"$work/helper.cpp" <<'EOF'
#include "app/control_ids.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct Search {
    const char* caption;
    HWND owner;
    HWND found;
};

BOOL CALLBACK Match(HWND window, LPARAM lParam)
{
    auto* search = reinterpret_cast<Search*>(lParam);
    char caption[64] = "";
    char kind[16] = "";
    GetWindowTextA(window, caption, sizeof caption);
    GetClassNameA(window, kind, sizeof kind);
    if (std::strcmp(caption, search->caption) == 0 && std::strcmp(kind, "#32770") == 0 &&
        GetWindow(window, GW_OWNER) == search->owner && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND WaitForDialog(const char* caption, HWND owner)
{
    for (int tries = 0; tries < 300; ++tries) {
        Search search{caption, owner, nullptr};
        EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr)
            return search.found;
        Sleep(100);
    }
    std::fprintf(stderr, "helper: no window captioned \"%s\"\n", caption);
    return nullptr;
}

LRESULT Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, 10000, &result))
        return LB_ERR;
    return static_cast<LRESULT>(result);
}

void PrintPlace(HWND window)
{
    RECT frame;
    GetWindowRect(window, &frame);
    std::printf("%ldx%ld+%ld+%ld\n", frame.right - frame.left, frame.bottom - frame.top,
                frame.left, frame.top);
}

// The list is filled by a message the dialog posts to itself once it is up;
// selecting an entry the way a click does shows its details.
int SelectEntry(HWND dialog, const char* start)
{
    HWND list = GetDlgItem(dialog, IDC_CONTROL_LIST);
    for (int tries = 0; tries < 300 && Ask(list, LB_GETCOUNT, 0, 0) <= 0; ++tries)
        Sleep(100);
    std::wstring wide(start, start + std::strlen(start));
    LRESULT index =
        Ask(list, LB_FINDSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(wide.c_str()));
    if (index < 0) {
        std::fprintf(stderr, "helper: no entry starts with %s\n", start);
        return 1;
    }
    Ask(list, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    Ask(dialog, WM_COMMAND, MAKEWPARAM(IDC_CONTROL_LIST, LBN_SELCHANGE),
        reinterpret_cast<LPARAM>(list));
    PrintPlace(dialog);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::string command = argc > 1 ? argv[1] : "";
    HWND dialog = WaitForDialog("Burrowlens", nullptr);
    if (dialog == nullptr)
        return 1;
    if (command == "select" && argc == 3)
        return SelectEntry(dialog, argv[2]);
    if (command == "about") {
        PostMessageA(dialog, WM_COMMAND, IDC_ABOUT, 0);
        HWND about = WaitForDialog("About Burrowlens", dialog);
        if (about == nullptr)
            return 1;
        PrintPlace(about);
        return 0;
    }
    if (command == "exit") {
        Search search{"About Burrowlens", dialog, nullptr};
        EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr)
            PostMessageA(search.found, WM_COMMAND, IDOK, 0);
        PostMessageA(dialog, WM_COMMAND, IDC_EXIT, 0);
        return 0;
    }
    std::fprintf(stderr, "usage: helper select ENTRY-START | about | exit\n");
    return 2;
}
EOF
    local compiler=i686-w64-mingw32-g++
    [ "$bits" = 64 ] && compiler=x86_64-w64-mingw32-g++
    "$compiler" -std=c++20 -O1 -Wall -Wextra -Werror -static -I"$root" \
        -o "$work/helper.exe" "$work/helper.cpp"
}

# Crops the window at WxH+X+Y (desktop coordinates) out of the whole screen.
shoot() {
    local place=$1 out=$2 desktop_x desktop_y size x y
    desktop_x=$(xwininfo -name "Default - Wine desktop" | awk '/Absolute upper-left X/ {print $4}')
    desktop_y=$(xwininfo -name "Default - Wine desktop" | awk '/Absolute upper-left Y/ {print $4}')
    size=${place%%+*}
    x=$(echo "$place" | cut -d+ -f2)
    y=$(echo "$place" | cut -d+ -f3)
    # Let the last change reach the screen.
    sleep 0.5
    import -window root "$work/screen.png"
    convert "$work/screen.png" -crop "$size+$((x + desktop_x))+$((y + desktop_y))" +repage "$out"
    echo "Saved $out ($size)"
}

# Room for the main window at 150 %.
start_xvfb 1280x1024x24
started=$SECONDS
build_helper
mkdir -p "$prefix"
prefix_made=1
prefix_step "$work/wineboot.log" wineboot -i || exit 1
use_wines_own_fonts
seed_sample_controls "$build/fixtures" "$work"
# One decorated Wine desktop, so that the windows have frames without a
# window manager; it takes effect when the server starts again.
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f >/dev/null
wineserver -k
echo "Prefix ready in $((SECONDS - started)) s"

wine "$exe" </dev/null >/dev/null 2>&1 &
program_pid=$!
mkdir -p "$docs"
# A Windows program ends its lines with CR LF.
place=$(wine "$work/helper.exe" select "C:/windows/Downloaded Program Files/burrowchart.ocx" | tr -d '\r')
shoot "$place" "$docs/main-window.png"
place=$(wine "$work/helper.exe" about | tr -d '\r')
shoot "$place" "$docs/about-box.png"
wine "$work/helper.exe" exit
wait "$program_pid" || true
program_pid=""

# The main window again as a laptop at 150 % shows it. A program takes the
# DPI when it starts.
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null
wine "$exe" </dev/null >/dev/null 2>&1 &
program_pid=$!
place=$(wine "$work/helper.exe" select "C:/windows/Downloaded Program Files/burrowchart.ocx" | tr -d '\r')
shoot "$place" "$docs/main-window-150.png"
wine "$work/helper.exe" exit
wait "$program_pid" || true
program_pid=""
