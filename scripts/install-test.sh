#!/usr/bin/env bash
# Installs Moltavex into a temporary prefix, then builds and runs a small
# program against it twice: through the CMake package and through
# pkg-config. Also checks the program and manual page were installed.
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake -S . -B "$work/build" -DCMAKE_BUILD_TYPE=Release -DMOLTAVEX_BUILD_TESTS=OFF \
  -DMOLTAVEX_BUILD_BENCH=OFF -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
cmake --build "$work/build" -j"$(nproc)" >/dev/null
cmake --install "$work/build" >/dev/null
echo "Installed tree:"
(cd "$prefix" && find . -type f | sort)

for f in bin/moltavex include/moltavex/moltavex.h share/man/man1/moltavex.1; do
  [ -f "$prefix/$f" ] || { echo "missing $f" >&2; exit 1; }
done
"$prefix/bin/moltavex" c1 8 README.md "$work/r.mx" 2>/dev/null
"$prefix/bin/moltavex" d "$work/r.mx" "$work/r" 2>/dev/null
cmp README.md "$work/r"

echo "Consumer through the CMake package:"
cmake -S tests/consumer -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/consumer" >/dev/null
"$work/consumer/consumer"

echo "Consumer through pkg-config:"
libdir=$(ls -d "$prefix"/lib*/pkgconfig | head -n 1)
flags=$(PKG_CONFIG_PATH=$libdir pkg-config --cflags --libs moltavex)
# shellcheck disable=SC2086
c++ tests/consumer/consumer.cpp -o "$work/consumer-pc" $flags
"$work/consumer-pc"
echo "install test passed"
