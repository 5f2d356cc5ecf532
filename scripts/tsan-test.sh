#!/usr/bin/env bash
# Builds the library and its unit tests with ThreadSanitizer and runs those
# of the public API: Threads.JobsAndContextsRunAtOnce runs jobs and push
# contexts of every model on twelve threads at once, and any data race
# fails the run. (The whole unit suite passes too, in about three minutes:
# TSAN_ALL=1.)
#   scripts/tsan-test.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/need-xxhash.sh
dir=${1:-build-tsan}
cmake --preset tsan -B "$dir" >/dev/null
cmake --build "$dir" -j"$(nproc)" --target moltavex_tests
export TSAN_OPTIONS=halt_on_error=1:abort_on_error=1:allocator_may_return_null=1
filter='Threads.*:CApi.*:Api.*'
[ "${TSAN_ALL:-0}" = 1 ] && filter='*'
"$dir/tests/moltavex_tests" --gtest_brief=1 --gtest_filter="$filter"
