#!/usr/bin/env bash
# Configures and builds one of the two configurations into build/<name>:
#   scripts/build.sh native    g++ against the Win32 stand-in, with sanitizers
#   scripts/build.sh windows   burrowlens.exe and the Windows test programs
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:?native or windows}
jobs=$(nproc)
case "$kind" in
native) cmake -S "$root" -B "$root/build/native" -DCMAKE_BUILD_TYPE=Debug >/dev/null ;;
windows)
    cmake -S "$root" -B "$root/build/windows" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
    ;;
*) echo "unknown configuration: $kind" >&2; exit 2 ;;
esac
cmake --build "$root/build/$kind" -j "$jobs"
