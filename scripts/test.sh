#!/usr/bin/env bash
# Builds Moltavex with its tests in build/ and runs the whole test suite.
# On a fresh clone (as CI runs it) that is a build from scratch; otherwise
# what build/ already holds is reused. Delete build/ for a clean build.
#
# Tests that need the benchmark corpus (../shared/corpus) skip without it,
# unless MOLTAVEX_REQUIRE_CORPUS=1 (CI sets it), which makes them fail.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DMOLTAVEX_BUILD_TESTS=ON
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j"$(nproc)"
