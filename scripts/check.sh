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
    portable | clang) ;;
    *) echo "variant-test: unknown variant $variant" >&2; exit 2 ;;
  esac
  echo "variant-test: $variant build in build-$variant/ (CMakePresets.json)"
  cmake --preset "$variant" >/dev/null
  cmake --build --preset "$variant" -j"$(nproc)"
  ctest --preset "$variant" -j"$(nproc)"
done
