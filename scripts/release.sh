#!/usr/bin/env bash
# Builds the release from a clean configure into build/release and packs
#   dist/burrowlens-<version>.zip          burrowlens.exe, README.txt, SHA256SUMS
#   dist/burrowlens-<version>.zip.sha256
# The same commit gives the same bytes wherever and whenever it is built, so a
# download can be checked against a rebuild. The version is the FILEVERSION of
# resources/burrowlens.rc; the files in the zip carry the commit's time
# (SOURCE_DATE_EPOCH, when set, wins; outside a git checkout it is required).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# zip stores local times and the mode bits of the files it packs.
export TZ=UTC LC_ALL=C
umask 022

die() {
    echo "release: $*" >&2
    exit 1
}

rc="$root/resources/burrowlens.rc"
version=$(sed -n 's/^FILEVERSION *\([0-9]*\), *\([0-9]*\), *\([0-9]*\), *\([0-9]*\) *$/\1.\2.\3.\4/p' "$rc")
[ -n "$version" ] || die "no FILEVERSION line in $rc"
# The other copies of the number must say the same, or the zip's name would
# disagree with what Windows shows for the program.
commas=${version//./, }
grep -q "^PRODUCTVERSION $commas *\$" "$rc" || die "PRODUCTVERSION in $rc is not $commas"
[ "$(grep -c "VALUE \"\(File\|Product\)Version\", \"$commas\"" "$rc")" -eq 2 ] ||
    die "the FileVersion and ProductVersion strings in $rc are not \"$commas\""
grep -q "version=\"$version\"" "$root/resources/burrowlens.manifest" ||
    die "the version in resources/burrowlens.manifest is not $version"

if [ "$(git -C "$root" rev-parse --show-toplevel 2>/dev/null)" = "$root" ]; then
    [ -z "$(git -C "$root" status --porcelain)" ] ||
        die "the tree has changes that are not committed (git status); a release is built from a commit"
    epoch=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}
else
    echo "release: not a git checkout, so whether the tree is clean cannot be told" >&2
    epoch=${SOURCE_DATE_EPOCH:?outside a git checkout, set SOURCE_DATE_EPOCH to the commit time}
fi
command -v zip >/dev/null || die "zip is missing (scripts/deps.sh installs it)"

build="$root/build/release"
rm -rf "$build"
# The linker would take SOURCE_DATE_EPOCH for the program's time stamp. The
# build flags pin the program's bytes without it, and a rebuild has to match
# whether or not it is set.
(
    unset SOURCE_DATE_EPOCH
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
    cmake --build "$build" --target burrowlens -j "$(nproc)" >/dev/null
)

stage="$build/stage"
mkdir "$stage"
cp "$build/burrowlens.exe" "$stage/"
# For Notepad on older Windows, which shows LF-only text as one line.
sed -e "s/@VERSION@/$version/" -e 's/$/\r/' "$root/scripts/release-readme.txt" >"$stage/README.txt"
(cd "$stage" && sha256sum burrowlens.exe README.txt >SHA256SUMS)
chmod 0644 "$stage"/*
touch -d "@$epoch" "$stage"/*

name="burrowlens-$version.zip"
# -X leaves out the extra fields (Unix times, owner ids); members are named in a
# fixed order and no folder entries are made.
(cd "$stage" && zip -q -X -D -9 "$build/$name" burrowlens.exe README.txt SHA256SUMS)
mkdir -p "$root/dist"
mv -f "$build/$name" "$root/dist/$name"
(cd "$root/dist" && sha256sum "$name" >"$name.sha256")

# The bytes depend on the compiler, the linker and the Windows headers and
# libraries; a rebuild that is to match needs the same versions.
if command -v dpkg-query >/dev/null; then
    dpkg-query -W -f='built with: ${Package} ${Version}\n' g++-mingw-w64-i686-posix \
        binutils-mingw-w64-i686 mingw-w64-i686-dev zip || true
fi
echo "burrowlens.exe  $(sha256sum "$stage/burrowlens.exe" | cut -d' ' -f1)"
echo "$name  $(cut -d' ' -f1 "$root/dist/$name.sha256")"
echo "written: dist/$name and dist/$name.sha256"
