#!/usr/bin/env bash
# Builds everything and runs every test: natively against the Win32 stand-in
# (with AddressSanitizer and UBSan), then the Windows build under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/deps.sh"

echo "== Native build and tests"
"$root/scripts/build.sh" native
ctest --test-dir "$root/build/native" --output-on-failure
"$root/scripts/fuzz.sh"

echo "== Windows build, tests under Wine"
"$root/scripts/build.sh" windows
"$root/scripts/run-wine-tests.sh" "$root/build/windows"
