#!/usr/bin/env bash
# The Python package as pip users get it, built offline from Debian's
# packages alone: `pip install --no-build-isolation .` into a fresh virtual
# environment of Debian's Python (with --system-site-packages, so that it
# sees setuptools, pybind11, numcodecs, zarr and Dask), then `pip wheel`,
# and that wheel installed into a second environment. In each, from outside
# the source tree: the module is the installed one, carries the library
# inside (no libmoltavex.so needed), numcodecs finds the codec by its id
# through the entry point in a fresh interpreter, and the Python tests pass
# against it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/need-packages.sh cmake g++ libxxhash-dev python3-dev python3-venv python3-pip \
  python3-setuptools python3-wheel pybind11-dev python3-pybind11 python3-pytest python3-numpy \
  python3-numcodecs python3-entrypoints python3-zarr python3-dask python3-distributed

# Debian's own Python, whichever python3 comes first on PATH.
python=/usr/bin/python3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "pip-test.sh: pip install into $work/venv"
"$python" -m venv --system-site-packages "$work/venv"
"$work/venv/bin/pip" install --no-build-isolation .
"$work/venv/bin/pip" wheel --no-build-isolation --no-deps -w "$work/wheels" .
wheels=("$work"/wheels/moltavex-*.whl)
echo "pip-test.sh: wheel ${wheels[*]##*/}; installed into $work/wheel-venv"
"$python" -m venv --system-site-packages "$work/wheel-venv"
"$work/wheel-venv/bin/pip" install --no-index "${wheels[@]}"

cd "$work"
for venv in venv wheel-venv; do
  echo "pip-test.sh: checks in $venv"
  "$venv/bin/python" - "$work/$venv" <<'PY'
import subprocess, sys
import moltavex
assert moltavex.__file__.startswith(sys.argv[1]), moltavex.__file__
module = moltavex._moltavex.__file__
needed = subprocess.run(["readelf", "-d", module], capture_output=True, text=True, check=True)
assert "libmoltavex" not in needed.stdout, needed.stdout
data = b"pip " * 1000
assert moltavex.decompress(moltavex.compress(data, model=3, order=12)) == data
# Nothing of moltavex imported: only the entry point leads numcodecs to it.
lookup = (
    "import sys, numcodecs\n"
    "codec = numcodecs.get_codec({'id': 'moltavex', 'model': 2, 'order': 14})\n"
    "print(type(codec).__module__, codec.get_config())\n"
)
print(subprocess.run([sys.executable, "-c", lookup], capture_output=True, text=True,
                     check=True).stdout.strip())
print(moltavex.__file__, moltavex.__version__)
PY
  "$venv/bin/python" -m pytest -q -p no:cacheprovider "$root/bindings/python/tests"
done
