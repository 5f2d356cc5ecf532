#!/usr/bin/env bash
# Builds the moltavex program alone (no tests, no benchmarks, so nothing
# beyond a C++17 compiler and CMake is needed) into build-demo/, then runs
# the main job on a sample: compresses a file, restores it, checks the
# result and shows the sizes.
#   scripts/demo.sh [FILE] [MODEL] [ORDER]
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
cd "$root"
need_xxhash
cmake --preset demo >/dev/null
cmake --build --preset demo --target moltavex_program -j"$(nproc)" >/dev/null

sample=${1:-$corpus/alice29.txt}
[ -f "$sample" ] || sample=README.md
model=${2:-1}
order=${3:-16}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

./build-demo/moltavex "c$model" "$order" "$sample" "$work/sample.mx"
./build-demo/moltavex d "$work/sample.mx" "$work/sample.out"
cmp "$sample" "$work/sample.out"

original=$(wc -c <"$sample")
compressed=$(wc -c <"$work/sample.mx")
echo "$sample: $original bytes -> $compressed bytes (model $model, order $order)," \
  "$(awk -v c="$compressed" -v o="$original" 'BEGIN { printf "%.3f bits per byte", o ? 8 * c / o : 0 }');" \
  "restored byte for byte"
