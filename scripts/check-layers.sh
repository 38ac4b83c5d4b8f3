#!/usr/bin/env bash
# The program's folders depend one way: base/ on nothing of the program;
# inventory/, details/ and removal/ on base/ and each other but never on
# app/, which alone knows the dialog. Fails, naming each line, when a file
# includes a folder above its own.
#   scripts/check-layers.sh [root]
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"

include='^[[:space:]]*#[[:space:]]*include[[:space:]]*["<]([.][.]/)*'
status=0
# upward BANNED FOLDER...: the includes of BANNED folders in the sources there.
upward() {
    local banned=$1 hits
    shift
    hits=$(grep -rEHn --include='*.h' --include='*.cpp' --include='*.c' \
        "$include($banned)/" "$@" | sort || true)
    if [ -n "$hits" ]; then
        echo "check-layers: an include reaches above its layer:" >&2
        echo "$hits" >&2
        status=1
    fi
}
upward 'app|inventory|details|removal' base
upward 'app' inventory details removal
[ "$status" -eq 0 ] && echo "check-layers: every include points down"
exit "$status"
