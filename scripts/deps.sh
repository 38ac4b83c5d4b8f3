#!/usr/bin/env bash
# Installs what building and testing Burrowlens needs on Debian or Ubuntu,
# and nothing when it is all there already.
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
# The x86_64 compiler builds the tests for 64-bit Wine, on hosts that cannot
# run 32-bit programs; clang and its runtime build the registry fuzzer.
for pkg in cmake make g++ libgtest-dev googletest g++-mingw-w64-i686-posix mingw-w64-tools \
    binutils-mingw-w64-i686 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
    wine wine32:i386 wine64 fonts-wine xvfb xauth x11-utils imagemagick \
    zip unzip clang libclang-rt-dev python3; do
    have "$pkg" || need+=("$pkg")
done
[ ${#need[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
echo "Installing: ${need[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
