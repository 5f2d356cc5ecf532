#!/usr/bin/env bash
# Builds and installs Moltavex as on a machine without GoogleTest, Google
# Benchmark or pybind11 (the preset `plain` hides them from CMake), checks
# that the configure step left out the tests, the benchmarks and the Python
# module with one message each, and runs the installed program once.
#   scripts/plain-build.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/need-xxhash.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Missing parts are what this build is about: they must not be errors here.
unset MOLTAVEX_REQUIRE_ALL MOLTAVEX_REQUIRE_PYTHON
cmake --preset plain -B "$work/build" -DCMAKE_INSTALL_PREFIX="$work/prefix" >"$work/configure.log"
for part in "GoogleTest not found" "Google Benchmark not found" "pybind11 not found"; do
  if [ "$(grep -c "$part" "$work/configure.log")" != 1 ]; then
    cat "$work/configure.log"
    echo "plain-build: expected one message \"$part\"" >&2
    exit 1
  fi
done
cmake --build "$work/build" -j"$(nproc)" >/dev/null
cmake --install "$work/build" >/dev/null
[ ! -e "$work/build/tests" ] || { echo "plain-build: tests were configured" >&2; exit 1; }
"$work/prefix/bin/moltavex" c1 12 README.md "$work/r.mx" 2>/dev/null
"$work/prefix/bin/moltavex" d "$work/r.mx" "$work/r" 2>/dev/null
cmp README.md "$work/r"
echo "plain build: configured, built and installed without the test packages; round trip passed"
