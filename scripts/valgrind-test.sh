#!/usr/bin/env bash
# Runs one compression and one decompression of a corpus file (or of the
# README when the corpus is absent) under valgrind's memcheck, through the
# classic commands and through the conventional command line; any error or
# leak fails the run.
#   scripts/valgrind-test.sh [FILE] [MODEL] [ORDER]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/need-xxhash.sh
command -v valgrind >/dev/null || { apt-get update && apt-get install -y valgrind; }
[ -x build/moltavex ] || { cmake --preset release && cmake --build --preset release -j"$(nproc)"; }
file=${1:-../shared/corpus/alice29.txt}
[ -f "$file" ] || file=README.md
model=${2:-5}
order=${3:-16}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
check() {
  valgrind --tool=memcheck --error-exitcode=99 --leak-check=full --show-leak-kinds=all \
    --errors-for-leak-kinds=all -q "$@"
}
check ./build/moltavex "c$model" "$order" "$file" "$work/f.mx" 2>"$work/c.log" || { cat "$work/c.log"; exit 1; }
check ./build/moltavex d "$work/f.mx" "$work/f.out" 2>"$work/d.log" || { cat "$work/d.log"; exit 1; }
cmp "$file" "$work/f.out"
# The conventional command line ends through its own paths (many files, a
# pipe to standard output).
check ./build/moltavex -3 -c "$file" >"$work/g.mx" 2>"$work/g.log" || { cat "$work/g.log"; exit 1; }
check ./build/moltavex -dc "$work/g.mx" 2>"$work/h.log" | cmp "$file" - || { cat "$work/h.log"; exit 1; }
echo "valgrind memcheck: compress and decompress of $(basename "$file") (model $model, order $order) clean"
