#!/usr/bin/env bash
# Builds the registry fuzzer (clang, libFuzzer, ASan and UBSan) into
# build/fuzz, replays the committed corpus, then runs a fixed-seed session of
# a fixed number of inputs (about a minute and a half on two cores). Any
# sanitizer report or broken rule stops it with the input saved in
# build/fuzz/session.
#   scripts/fuzz.sh [runs]     default 5000
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-5000}
build=$root/build/fuzz

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DBURROWLENS_FUZZ=ON \
    -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build" -j 2 --target registry_fuzzer
fuzzer=$build/tests/fuzz/registry_fuzzer

# The session works on a copy: new inputs it finds stay out of the tree.
rm -rf "$build/session"
mkdir -p "$build/session/corpus"
cp "$root"/tests/fuzz/corpus/* "$build/session/corpus/"
cd "$build/session"
options=(-timeout=10 -max_len=70000 -rss_limit_mb=2048 -print_final_stats=1)

echo "== Replaying the corpus"
"$fuzzer" "${options[@]}" -runs=0 "$root/tests/fuzz/corpus"
echo "== Fixed-seed session of $runs inputs"
"$fuzzer" "${options[@]}" -seed=1 -runs="$runs" corpus
