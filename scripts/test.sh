#!/usr/bin/env bash
# Builds everything and runs every test: natively against the Win32 stand-in
# (with AddressSanitizer and UBSan), then the Windows build under Wine. Where
# this host cannot run 32-bit programs, the Wine tests run on a 64-bit build
# of the same sources under 64-bit Wine; BURROWLENS_WINE_BITS=32 or 64 forces
# either way. The product is the 32-bit burrowlens.exe on every host.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/deps.sh"
"$root/scripts/check-layers.sh"
# shellcheck source=scripts/wine-common.sh
. "$root/scripts/wine-common.sh"
name_failing_commands
bits=$(wine_bits)
echo "== The Wine tests run under $(wine_bits_reason "$bits")"

echo "== Native build and tests"
"$root/scripts/build.sh" native
ctest --test-dir "$root/build/native" --output-on-failure
"$root/scripts/fuzz.sh"

if [ "$bits" = 32 ]; then
    echo "== Windows build, tests under 32-bit Wine, then under WoW64 in a 64-bit prefix"
    "$root/scripts/build.sh" windows
    "$root/scripts/run-wine-tests.sh" "$root/build/windows"
else
    echo "== The 32-bit product and its import check"
    "$root/scripts/build.sh" windows --target burrowlens
    ctest --test-dir "$root/build/windows" -R '^burrowlens_imports$' --output-on-failure
    echo "== WoW64 tests skipped: they need the 32-bit burrowlens.exe under Wine, and the Wine tests run under $(wine_bits_reason "$bits")"
    echo "== 64-bit Windows build of the same sources, tests under 64-bit Wine"
    "$root/scripts/build.sh" windows64
    "$root/scripts/run-wine-tests.sh" "$root/build/windows64"
fi
"$root/scripts/check-reproducible.sh"
