#!/usr/bin/env bash
# Builds Moltavex with its tests in build/ and runs the whole test suite.
# On a fresh clone (as CI runs it) that is a build from scratch; otherwise
# what build/ already holds is reused. Delete build/ for a clean build.
#
# Tests that need the benchmark corpus (../shared/corpus) skip without it,
# unless MOLTAVEX_REQUIRE_CORPUS=1 (CI sets it), which makes them fail.
#
# The Python module needs the system Python's headers, pybind11 and pytest:
# what is missing is installed with apt-get (as root, or through sudo).
# Where that cannot be done the module and its tests are left out, unless
# MOLTAVEX_REQUIRE_PYTHON=1 (CI sets it), which makes that a failure.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/need-xxhash.sh

installed() {
  command -v dpkg-query >/dev/null 2>&1 &&
    [[ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" == "install ok installed" ]]
}
python_packages=()
for package in python3-dev pybind11-dev python3-pybind11 python3-pytest; do
  installed "$package" || python_packages+=("$package")
done
if ((${#python_packages[@]} > 0)); then
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  if command -v apt-get >/dev/null 2>&1 &&
     { [[ $(id -u) -eq 0 ]] || command -v sudo >/dev/null 2>&1; }; then
    echo "test.sh: installing ${python_packages[*]}"
    "${sudo_cmd[@]}" apt-get update -qq
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
      --no-install-recommends "${python_packages[@]}" >/dev/null
  elif [[ "${MOLTAVEX_REQUIRE_PYTHON:-0}" == 1 ]]; then
    echo "test.sh: missing ${python_packages[*]}, and no apt-get with root to install them" >&2
    exit 1
  else
    echo "test.sh: missing ${python_packages[*]}: the Python module may be left out" >&2
  fi
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DMOLTAVEX_BUILD_TESTS=ON
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j"$(nproc)"
