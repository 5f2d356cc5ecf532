#!/usr/bin/env bash
# Builds the whole project with AddressSanitizer and UndefinedBehaviorSanitizer
# (any report aborts the test that triggers it) and runs the test suite.
#   scripts/sanitize-test.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/need-xxhash.sh
dir=${1:-build-asan}
cmake --preset asan -B "$dir"
cmake --build "$dir" -j"$(nproc)"
# Huge model tables must come back as null, not abort the process.
export ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
