#!/usr/bin/env bash
# Builds Moltavex with its tests in build/ and runs the whole test suite.
# On a fresh clone (as CI runs it) that is a build from scratch; otherwise
# what build/ already holds is reused. Delete build/ for a clean build.
#
# Tests that need the benchmark corpus (../shared/corpus) skip without it,
# unless MOLTAVEX_REQUIRE_CORPUS=1 (CI sets it), which makes them fail.
#
# The Python module needs the system Python's headers, pybind11 and pytest,
# and its codec's tests numpy, numcodecs, zarr and Dask: what is missing is
# installed with apt-get (scripts/need-packages.sh, as root or through sudo).
# Where that cannot be done the module and its tests are left out, unless
# MOLTAVEX_REQUIRE_PYTHON=1 (CI sets it), which makes that a failure.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/need-xxhash.sh

# The module; the numcodecs codec's clients that its tests run; and what
# pip needs to build the package (scripts/pip-test.sh).
python_packages=(python3-dev pybind11-dev python3-pybind11 python3-pytest python3-numpy
  python3-numcodecs python3-entrypoints python3-zarr python3-dask python3-distributed
  python3-venv python3-setuptools python3-wheel)
if ! scripts/need-packages.sh "${python_packages[@]}"; then
  if [[ "${MOLTAVEX_REQUIRE_PYTHON:-0}" == 1 ]]; then
    exit 1
  fi
  echo "test.sh: the Python module or some of its tests may be left out" >&2
fi

cmake --preset release
cmake --build --preset release -j"$(nproc)"
ctest --preset release -j"$(nproc)"
