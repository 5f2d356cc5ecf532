#!/usr/bin/env bash
# Builds and runs the test suite in the variants CI checks beside the main
# build: the portable build (MOLTAVEX_PORTABLE=ON: the plain C++ forms of
# the helpers in common/compiler.h, no inline assembly) and a clang build.
#   scripts/variant-test.sh [portable|clang]...     (default: both)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/need-xxhash.sh
variants=("$@")
[ ${#variants[@]} -gt 0 ] || variants=(portable clang)
for variant in "${variants[@]}"; do
  case "$variant" in
    portable) args=(-DMOLTAVEX_PORTABLE=ON) ;;
    clang) args=(-DCMAKE_CXX_COMPILER=clang++) ;;
    *) echo "variant-test: unknown variant $variant" >&2; exit 2 ;;
  esac
  dir=build-$variant
  echo "variant-test: $variant build in $dir/"
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DMOLTAVEX_BUILD_BENCH=OFF "${args[@]}" >/dev/null
  cmake --build "$dir" -j"$(nproc)"
  ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
done
