#!/usr/bin/env bash
# CI's checks, each a stage run by name.
#
#   scripts/check.sh [all]                every stage of the default set, in
#                                         CI's order (what .ci/run runs)
#   scripts/check.sh STAGE [ARG...]...    those stages, in the order given;
#                                         the words after a stage that name
#                                         no stage are its arguments:
#                                         scripts/check.sh suite fuzz 600 cross s390x
#   scripts/check.sh --list               the stages, one line each
#
# Each stage runs in a subshell of its own (its variables, traps and
# directory end with it) after a banner "==== NAME: title ===="; the first
# that fails ends the run with its status.
# The small stages are functions here; wine, cross, fuzz and huge, each a
# hundred lines or more in phases of its own, are scripts in stages/.
#
# CI sets: MOLTAVEX_REQUIRE_CORPUS=1 (a test that cannot find the corpus
# fails instead of skipping), MOLTAVEX_REQUIRE_PYTHON=1 (the suite fails
# when the Python module cannot be built) and MOLTAVEX_REQUIRE_ALL=1 (so
# does a build without GoogleTest or Google Benchmark).
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
cd "$root"

# The stages: name | in the default set (all) or by hand | arguments | title,
# the banner's and --list's. A new stage is a row here, in its place in
# CI's order, and a function stage_NAME below.
stage_table=(
  "suite    | all  |                           | build and test suite (build/, then ctest: scripts/test.sh)"
  "plain    | all  |                           | build without the test packages, install, one round trip"
  "format   | all  | [--fix]                   | formatting of every C++ file (.clang-format)"
  "portable | all  |                           | the suite on the portable build (no inline assembly)"
  "clang    | all  |                           | the suite on a clang build"
  "asan     | all  | [BUILD_DIR]               | the suite under AddressSanitizer and UBSan"
  "tsan     | all  | [BUILD_DIR]               | the API's tests under ThreadSanitizer (TSAN_ALL=1: all)"
  "valgrind | all  | [FILE] [MODEL] [ORDER]    | valgrind memcheck on a compression and a decompression"
  "install  | all  |                           | install, then the C and C++ consumers against it"
  "pip      | all  |                           | the Python package through pip and its wheel"
  "web      | all  |                           | wasm, the npm package and the page in Node and Chromium (scripts/web.sh --test)"
  "fuzz     | all  | [SECONDS] [BUILD_DIR]     | every fuzz target for SECONDS (default 30) each"
  "wine     | all  | [BUILD_DIR]               | the Windows build under Wine (stages/wine.sh)"
  "cross    | all  | [aarch64] [s390x]         | ARM64 and s390x builds under qemu-user (stages/cross.sh)"
  "huge     | hand | [SIZE] [MODEL:ORDER]...   | over 5 GiB through pipes, bit for bit (stages/huge.sh)"
)

trim() { local s=${1#"${1%%[! ]*}"}; echo "${s%"${s##*[! ]}"}"; }
stage_names=()
default_set=()
declare -A stage_set stage_args stage_title
for row in "${stage_table[@]}"; do
  IFS='|' read -r name set args title <<<"$row"
  name=$(trim "$name")
  stage_names+=("$name")
  stage_set[$name]=$(trim "$set")
  stage_args[$name]=$(trim "$args")
  stage_title[$name]=$(trim "$title")
  [ "${stage_set[$name]}" = all ] && default_set+=("$name")
done
is_stage() { [[ " ${stage_names[*]} " == *" $1 "* ]]; }

list() {
  local name
  for name in "${stage_names[@]}"; do
    printf '%-9s %-25s %s%s\n' "$name" "${stage_args[$name]}" "${stage_title[$name]}" \
      "$([ "${stage_set[$name]}" = all ] || echo ' (by hand)')"
  done
}

# ---------------------------------------------------------------------------
# The stages
# ---------------------------------------------------------------------------

# Sets `work` to a scratch directory, removed when the stage's subshell
# ends (a stage's own variables are gone by then: the path is fixed here).
make_work() {
  work=$(mktemp -d)
  trap "rm -rf $(printf %q "$work")" EXIT
}

# The Python module and its codec's clients that its tests run, and what
# pip needs to build the package.
python_packages=(python3-dev pybind11-dev python3-pybind11 python3-pytest python3-numpy
  python3-numcodecs python3-entrypoints python3-zarr python3-dask python3-distributed
  python3-venv python3-setuptools python3-wheel)

# Builds with the tests in build/ (reused when there; delete it for a clean
# build) and runs the whole suite. Tests that need the corpus skip without
# it. What the Python module needs is installed with apt-get; where that
# cannot be done the module and its tests are left out.
stage_suite() {
  need_xxhash
  if ! need_packages "${python_packages[@]}"; then
    [[ "${MOLTAVEX_REQUIRE_PYTHON:-0}" != 1 ]] || return 1
    echo "check.sh: the Python module or some of its tests may be left out" >&2
  fi
  cmake --preset release
  cmake --build --preset release -j"$(nproc)"
  ctest --preset release -j"$(nproc)"
}

# As on a machine without GoogleTest, Google Benchmark or pybind11 (the
# preset `plain` hides them): the configure step leaves out the tests, the
# benchmarks and the Python module with one message each, and the
# installed program works.
stage_plain() {
  need_xxhash
  make_work
  # Missing parts are what this build is about: they must not be errors here.
  unset MOLTAVEX_REQUIRE_ALL MOLTAVEX_REQUIRE_PYTHON
  cmake --preset plain -B "$work/build" -DCMAKE_INSTALL_PREFIX="$work/prefix" >"$work/configure.log"
  local part
  for part in "GoogleTest not found" "Google Benchmark not found" "pybind11 not found"; do
    if [ "$(grep -c "$part" "$work/configure.log")" != 1 ]; then
      cat "$work/configure.log"
      echo "check.sh plain: expected one message \"$part\"" >&2
      return 1
    fi
  done
  cmake --build "$work/build" -j"$(nproc)" >/dev/null
  cmake --install "$work/build" >/dev/null
  [ ! -e "$work/build/tests" ] || { echo "check.sh plain: tests were configured" >&2; return 1; }
  "$work/prefix/bin/moltavex" c1 12 README.md "$work/r.mx" 2>/dev/null
  "$work/prefix/bin/moltavex" d "$work/r.mx" "$work/r" 2>/dev/null
  cmp README.md "$work/r"
  echo "plain build: configured, built and installed without the test packages; round trip passed"
}

# Every C++ file formatted with .clang-format; --fix reformats in place.
stage_format() {
  command -v clang-format >/dev/null || { echo "check.sh format: clang-format not found" >&2; return 1; }
  local files bad=() f
  mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.hpp' '*.c')
  if [ "${1:-}" = --fix ]; then
    clang-format -i --style=file "${files[@]}"
    return 0
  fi
  for f in "${files[@]}"; do
    clang-format --style=file --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
  done
  if [ ${#bad[@]} -gt 0 ]; then
    echo "check.sh format: not formatted (scripts/check.sh format --fix):" >&2
    printf '  %s\n' "${bad[@]}" >&2
    return 1
  fi
  echo "format: ${#files[@]} files formatted"
}

# The suite on a build variant of CMakePresets.json, in build-VARIANT/.
variant() {
  need_xxhash
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j"$(nproc)"
  ctest --preset "$1" -j"$(nproc)"
}
# MOLTAVEX_PORTABLE=ON: the plain C++ forms of common/compiler.h's helpers.
stage_portable() { variant portable; }
stage_clang() { variant clang; }

# Any sanitizer report aborts the test that triggers it.
stage_asan() {
  need_xxhash
  local dir=${1:-build-asan}
  cmake --preset asan -B "$dir"
  cmake --build "$dir" -j"$(nproc)"
  # Huge model tables must come back as null, not abort the process.
  export ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
}

# The public API's unit tests: Threads.JobsAndContextsRunAtOnce runs jobs
# and push contexts of every model on twelve threads at once, and any data
# race fails the run. The whole unit suite passes too, in about three
# minutes (TSAN_ALL=1).
stage_tsan() {
  need_xxhash
  local dir=${1:-build-tsan}
  cmake --preset tsan -B "$dir" >/dev/null
  cmake --build "$dir" -j"$(nproc)" --target moltavex_tests
  export TSAN_OPTIONS=halt_on_error=1:abort_on_error=1:allocator_may_return_null=1
  local filter='Threads.*:CApi.*:Api.*'
  [ "${TSAN_ALL:-0}" = 1 ] && filter='*'
  "$dir/tests/moltavex_tests" --gtest_brief=1 --gtest_filter="$filter"
}

# One compression and one decompression of a corpus file (or the README
# without the corpus) through the classic commands and through the
# conventional command line, which ends through paths of its own (many
# files, a pipe to standard output); any error or leak fails.
stage_valgrind() {
  need_xxhash
  need_packages valgrind
  [ -x build/moltavex ] || { cmake --preset release && cmake --build --preset release -j"$(nproc)"; }
  local file=${1:-$corpus/alice29.txt} model=${2:-5} order=${3:-16}
  [ -f "$file" ] || file=README.md
  make_work
  check() {
    valgrind --tool=memcheck --error-exitcode=99 --leak-check=full --show-leak-kinds=all \
      --errors-for-leak-kinds=all -q "$@"
  }
  check ./build/moltavex "c$model" "$order" "$file" "$work/f.mx" 2>"$work/c.log" || { cat "$work/c.log"; return 1; }
  check ./build/moltavex d "$work/f.mx" "$work/f.out" 2>"$work/d.log" || { cat "$work/d.log"; return 1; }
  cmp "$file" "$work/f.out"
  check ./build/moltavex -3 -c "$file" >"$work/g.mx" 2>"$work/g.log" || { cat "$work/g.log"; return 1; }
  check ./build/moltavex -dc "$work/g.mx" 2>"$work/h.log" | cmp "$file" - || { cat "$work/h.log"; return 1; }
  echo "valgrind memcheck: compress and decompress of $(basename "$file") (model $model, order $order) clean"
}

# Installs into a temporary prefix (configured for another, as a staged
# install is), then builds and runs programs outside the tree against it:
# a C++ and a C99 program through the CMake package (the C one against the
# shared and the static library), and the same through pkg-config. Also:
# what was installed, the shared library's soname and that it exports the
# C API alone, and that a shared object can link the static library (it
# is position-independent).
stage_install() {
  need_xxhash
  local prefix libdir
  make_work
  prefix=$work/prefix
  cmake --preset library -B "$work/build" -DCMAKE_INSTALL_PREFIX=/usr/local >/dev/null
  cmake --build "$work/build" -j"$(nproc)" >/dev/null
  cmake --install "$work/build" --prefix "$prefix" >/dev/null
  echo "Installed tree:"
  (cd "$prefix" && find . \( -type f -o -type l \) | sort)

  libdir=$(dirname "$(find "$prefix" -name libmoltavex.a | head -n 1)")
  local f
  for f in bin/moltavex include/moltavex/moltavex.h include/moltavex/moltavex.hpp \
    share/man/man1/moltavex.1; do
    [ -f "$prefix/$f" ] || { echo "missing $f" >&2; return 1; }
  done
  [ -f "$libdir/libmoltavex.so.2" ] || { echo "missing libmoltavex.so.2" >&2; return 1; }
  local soname exported
  soname=$(objdump -p "$libdir/libmoltavex.so.2" | awk '$1 == "SONAME" { print $2 }')
  [ "$soname" = libmoltavex.so.2 ] || { echo "soname is '$soname'" >&2; return 1; }
  exported=$(nm -D --defined-only "$libdir/libmoltavex.so.2" | awk '{ print $3 }' | sort)
  echo "Exported symbols:"
  echo "$exported" | sed 's/^/  /'
  if echo "$exported" | grep -v '^mvx_' | grep -q .; then
    echo "the shared library exports more than the C API" >&2
    return 1
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
    return 1
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
  if pkg-config --cflags moltavex | grep -q -- '-std'; then
    echo "the .pc file forces -std" >&2
    return 1
  fi
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
}

# The Python package as pip users get it, built offline from Debian's
# packages alone: `pip install --no-build-isolation .` into a fresh virtual
# environment of Debian's Python (--system-site-packages, so that it sees
# setuptools, pybind11, numcodecs, zarr and Dask), then `pip wheel`, and
# that wheel installed into a second environment. In each, from outside
# the source tree: the module is the installed one, carries the library
# inside (no libmoltavex.so needed), numcodecs finds the codec by its id
# through the entry point in a fresh interpreter, and the Python tests
# pass against it.
stage_pip() {
  need_packages cmake g++ libxxhash-dev python3-pip "${python_packages[@]}"
  # Debian's own Python, whichever python3 comes first on PATH.
  local python=/usr/bin/python3 wheels venv
  make_work

  echo "pip: pip install into $work/venv"
  "$python" -m venv --system-site-packages "$work/venv"
  "$work/venv/bin/pip" install --no-build-isolation .
  "$work/venv/bin/pip" wheel --no-build-isolation --no-deps -w "$work/wheels" .
  wheels=("$work"/wheels/moltavex-*.whl)
  echo "pip: wheel ${wheels[*]##*/}; installed into $work/wheel-venv"
  "$python" -m venv --system-site-packages "$work/wheel-venv"
  "$work/wheel-venv/bin/pip" install --no-index "${wheels[@]}"

  cd "$work"
  for venv in venv wheel-venv; do
    echo "pip: checks in $venv"
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
}

stage_fuzz() { "$root/scripts/stages/fuzz.sh" "$@"; }
stage_web() { "$root/scripts/web.sh" --test; }
stage_wine() { "$root/scripts/stages/wine.sh" "$@"; }
stage_cross() { "$root/scripts/stages/cross.sh" "$@"; }
stage_huge() { "$root/scripts/stages/huge.sh" "$@"; }

# ---------------------------------------------------------------------------
# The run
# ---------------------------------------------------------------------------

usage() { sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; }
case "${1:-all}" in
  --list | -l) list; exit 0 ;;
  --help | -h) usage; exit 0 ;;
esac
(($# > 0)) || set -- all

# The plan: one entry per stage to run, its name and then its arguments,
# quoted; the words after a stage go to it until the next stage or `all`.
plan=()
open=0
for word in "$@"; do
  if [ "$word" = all ]; then
    plan+=("${default_set[@]}")
    open=0
  elif is_stage "$word"; then
    plan+=("$word")
    open=1
  elif ((open)); then
    printf -v quoted ' %q' "$word"
    plan[-1]+=$quoted
  else
    echo "check.sh: unknown stage $word (scripts/check.sh --list)" >&2
    exit 2
  fi
done

start=$SECONDS
passed=()
for entry in "${plan[@]}"; do
  eval "words=($entry)"
  name=${words[0]}
  printf '\n==== %s: %s ====\n' "$name" "${stage_title[$name]}"
  stage_start=$SECONDS
  set +e
  (
    set -e
    "stage_$name" "${words[@]:1}"
  )
  status=$?
  set -e
  if ((status != 0)); then
    echo "check.sh: $name failed (status $status) after $((SECONDS - stage_start)) s" >&2
    exit "$status"
  fi
  echo "check.sh: $name passed in $((SECONDS - stage_start)) s"
  passed+=("$name")
done
echo "check.sh: ${#passed[@]} stages passed in $((SECONDS - start)) s: ${passed[*]}"
