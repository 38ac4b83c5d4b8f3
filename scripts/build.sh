#!/usr/bin/env bash
# Configures and builds one of the two configurations into build/<name>:
#   scripts/build.sh native    g++ against the Win32 stand-in, with sanitizers
#   scripts/build.sh windows   burrowlens.exe and the Windows test programs
#   scripts/build.sh windows64 the same sources for 64-bit Windows, only to
#                              test them where 32-bit code cannot run
# Further arguments go to the build tool's driver, e.g. --target burrowlens.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:?native, windows or windows64}
shift
jobs=$(nproc)
case "$kind" in
native) cmake -S "$root" -B "$root/build/native" -DCMAKE_BUILD_TYPE=Debug >/dev/null ;;
windows | windows64)
    toolchain=mingw-i686.cmake
    [ "$kind" = windows64 ] && toolchain=mingw-x86_64.cmake
    cmake -S "$root" -B "$root/build/$kind" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" >/dev/null
    ;;
*) echo "unknown configuration: $kind" >&2; exit 2 ;;
esac
cmake --build "$root/build/$kind" -j "$jobs" "$@"
