#!/usr/bin/env bash
# Builds the release twice, from two copies of this tree at different paths, at
# different times, under different time zones and umasks, and fails unless
# burrowlens.exe and the zip come out byte for byte the same. Needs no Wine:
# only the cross compiler runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
echo "== Reproducible release build"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
first="$work/one/burrowlens"
second="$work/second-build/a/longer/path/burrowlens"
for copy in "$first" "$second"; do
    mkdir -p "$copy"
    # The working tree as it is, so that uncommitted changes are checked too.
    tar -C "$root" --exclude=./.git --exclude=./build --exclude=./dist -cf - . | tar -C "$copy" -xf -
done

# The copies are no git checkouts; both take this commit's time.
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315532800)}
SOURCE_DATE_EPOCH=$epoch "$first/scripts/release.sh"
(umask 077 && TZ=XYZ-14 SOURCE_DATE_EPOCH=$epoch "$second/scripts/release.sh")

status=0
same() {
    local name=$1 a=$2 b=$3
    if cmp -s "$a" "$b"; then
        echo "same: $name $(sha256sum "$a" | cut -d' ' -f1)"
    else
        echo "DIFFERENT: $name (offset, octal bytes of the two builds)" >&2
        cmp -l "$a" "$b" | head -20 >&2 || true
        case $name in
        *.exe) i686-w64-mingw32-objdump -p "$a" "$b" | grep -E '^Time/Date|^CheckSum' >&2 || true ;;
        esac
        status=1
    fi
}
same burrowlens.exe "$first/build/release/burrowlens.exe" "$second/build/release/burrowlens.exe"
zip=$(cd "$first/dist" && ls burrowlens-*.zip)
same "$zip" "$first/dist/$zip" "$second/dist/$zip"

# What a Windows user unpacks: the three files in order, a README with CRLF
# line ends, and checksums that match.
unpacked="$work/unpacked"
mkdir "$unpacked"
(cd "$unpacked" && unzip -q "$first/dist/$zip")
members=$(unzip -Z1 "$first/dist/$zip" | tr '\n' ' ')
if [ "$members" != "burrowlens.exe README.txt SHA256SUMS " ]; then
    echo "unexpected members in $zip: $members" >&2
    status=1
fi
if [ "$(grep -c $'\r$' "$unpacked/README.txt")" -ne "$(wc -l <"$unpacked/README.txt")" ]; then
    echo "README.txt has lines that do not end in CRLF" >&2
    status=1
fi
(cd "$unpacked" && sha256sum --quiet -c SHA256SUMS) || status=1
exit $status
