#!/usr/bin/env bash
# Builds Moltavex with its tests in build/ and runs the whole test suite:
# the suite stage of scripts/check.sh, what CI runs first. On a fresh clone
# that is a build from scratch; otherwise what build/ already holds is
# reused. Delete build/ for a clean build.
#
# Tests that need the benchmark corpus (../shared/corpus, or
# $MOLTAVEX_CORPUS) skip without it, unless MOLTAVEX_REQUIRE_CORPUS=1 (CI
# sets it), which makes them fail.
#
# The Python module needs the system Python's headers, pybind11 and pytest,
# and its codec's tests numpy, numcodecs, zarr and Dask: what is missing is
# installed with apt-get (as root or through sudo). Where that cannot be
# done the module and its tests are left out, unless
# MOLTAVEX_REQUIRE_PYTHON=1 (CI sets it), which makes that a failure.
set -euo pipefail
exec "$(dirname "$0")/check.sh" suite
