#!/usr/bin/env bash
# Installs Moltavex into a temporary prefix (configured for another prefix,
# as a staged install is), then builds and runs programs outside the tree
# against it: a C++ program and a C99 program through the CMake package
# (the C one against the shared and the static library), and the same
# through pkg-config. Also checks what was installed, that the shared
# library has its soname and exports the C API alone, and that a shared
# object can link the static library (it is position-independent).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/need-xxhash.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --preset library -B "$work/build" -DCMAKE_INSTALL_PREFIX=/usr/local >/dev/null
cmake --build "$work/build" -j"$(nproc)" >/dev/null
cmake --install "$work/build" --prefix "$prefix" >/dev/null
echo "Installed tree:"
(cd "$prefix" && find . \( -type f -o -type l \) | sort)

libdir=$(dirname "$(find "$prefix" -name libmoltavex.a | head -n 1)")
for f in bin/moltavex include/moltavex/moltavex.h include/moltavex/moltavex.hpp \
  share/man/man1/moltavex.1; do
  [ -f "$prefix/$f" ] || { echo "missing $f" >&2; exit 1; }
done
[ -f "$libdir/libmoltavex.so.2" ] || { echo "missing libmoltavex.so.2" >&2; exit 1; }
soname=$(objdump -p "$libdir/libmoltavex.so.2" | awk '$1 == "SONAME" { print $2 }')
[ "$soname" = libmoltavex.so.2 ] || { echo "soname is '$soname'" >&2; exit 1; }
exported=$(nm -D --defined-only "$libdir/libmoltavex.so.2" | awk '{ print $3 }' | sort)
echo "Exported symbols:"
echo "$exported" | sed 's/^/  /'
if echo "$exported" | grep -v '^mvx_' | grep -q .; then
  echo "the shared library exports more than the C API" >&2
  exit 1
fi

"$prefix/bin/moltavex" c1 8 README.md "$work/r.mx" 2>/dev/null
"$prefix/bin/moltavex" d "$work/r.mx" "$work/r" 2>/dev/null
cmp README.md "$work/r"

echo "Consumers through the CMake package:"
cmake -S tests/consumer -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/consumer" >/dev/null
"$work/consumer/consumer"
LD_LIBRARY_PATH=$libdir "$work/consumer/c_consumer_shared"
"$work/consumer/c_consumer_static"
if ldd "$work/consumer/c_consumer_static" | grep -q libmoltavex; then
  echo "the static consumer loads the shared library" >&2
  exit 1
fi

echo "Consumers through pkg-config:"
export PKG_CONFIG_PATH=$libdir/pkgconfig
# shellcheck disable=SC2046
c++ -std=c++17 tests/consumer/consumer.cpp -o "$work/consumer-pc" $(pkg-config --cflags --libs moltavex)
LD_LIBRARY_PATH=$libdir "$work/consumer-pc" >/dev/null
# shellcheck disable=SC2046
cc -std=c99 -pedantic-errors -Wall -Wextra -Werror tests/consumer/c_consumer.c -o "$work/c-pc-shared" \
  $(pkg-config --cflags --libs moltavex)
LD_LIBRARY_PATH=$libdir "$work/c-pc-shared" >/dev/null
# shellcheck disable=SC2046
cc -std=c99 tests/consumer/c_consumer.c -o "$work/c-pc-static" $(pkg-config --cflags --libs moltavex-static)
"$work/c-pc-static" >/dev/null
pkg-config --cflags moltavex | grep -q -- '-std' && { echo "the .pc file forces -std" >&2; exit 1; }
echo "C build lines:"
echo "  cc -std=c99 prog.c \$(pkg-config --cflags --libs moltavex)"
echo "  cc -std=c99 prog.c \$(pkg-config --cflags --libs moltavex-static)"

echo "A shared object that links the static library:"
printf '#include <moltavex/moltavex.h>\nconst char* plugin_version(void) { return mvx_version_string(); }\n' \
  >"$work/plugin.c"
cc -shared -fPIC "$work/plugin.c" -o "$work/plugin.so" -I"$prefix/include" "$libdir/libmoltavex.a" \
  -lstdc++ -lpthread
echo "  plugin.so links"
echo "install test passed"
