#!/usr/bin/env bash
# Builds Moltavex for other processors with Debian's cross compilers and
# tests it there under qemu-user: ARM64 (aarch64) and big-endian s390x.
#
#   scripts/check.sh cross [aarch64|s390x]...    (default: both, in turn)
#
# 1. Installs what is missing with apt-get: the cross compilers, qemu-user,
#    GoogleTest's sources (googletest), the xxHash header, cmake and a host
#    C++ compiler.
# 2. Builds the host's program (build-host/: no tests, benchmarks or Python
#    module), the reference for the streams.
# 3. For each target, from scratch in build-TARGET/: configures with
#    cmake/TARGET-linux-gnu.cmake (which names the compiler and the
#    emulator; GoogleTest is built for the target from its sources) and
#    builds with two jobs; a compiler warning in Moltavex's own sources is
#    a failure. By hand:
#      cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
#        -DMOLTAVEX_BUILD_BENCH=OFF
#      cmake --build build-aarch64 -j2
#      MOLTAVEX_CORPUS_ORDERS=3 ctest --test-dir build-aarch64 -j2 --output-on-failure
# 4. Runs the whole suite with ctest under the emulator, which the toolchain
#    file makes CMake's CROSSCOMPILING_EMULATOR: the unit tests, and the
#    command-line tests, which start the program through it too. Cut under
#    emulation: the in-process corpus round trips of every model run at the
#    first MX_CROSS_CORPUS_ORDERS of their orders (default 3: orders 0, 1
#    and 8 of 0, 1, 8, 16, 22; see tests/corpus.h). The command-line corpus
#    round trips and the comparison below still code at orders up to 22.
# 5. Compares the streams of the two processors: every corpus file
#    (when present) and generated data
#    (lib/stream-data.sh), with every model, each file and model at
#    MX_CROSS_ORDERS_EACH (default 2) of the orders in MX_CROSS_ORDERS
#    (default "0 2 5 12 16 22", taken in turn so that every model meets
#    every order). The target's program (under the emulator) and the host's
#    write the same bytes, and each restores the other's stream.
#
# MOLTAVEX_CORPUS names another corpus directory. Ends with
# "cross: N passed, M failed" and exits non-zero when anything failed.
set -euo pipefail

source "$(dirname "$0")/../lib/common.sh"
cd "$root"
targets=("$@")
((${#targets[@]} > 0)) || targets=(aarch64 s390x)
for target in "${targets[@]}"; do
  case "$target" in
    aarch64 | s390x) ;;
    *)
      echo "usage: scripts/check.sh cross [aarch64|s390x]..." >&2
      exit 2
      ;;
  esac
done
corpus_orders="${MX_CROSS_CORPUS_ORDERS:-3}"
read -r -a orders <<<"${MX_CROSS_ORDERS:-0 2 5 12 16 22}"
orders_each="${MX_CROSS_ORDERS_EACH:-2}"
jobs=2

start_time=$SECONDS
stage_time=$SECONDS
stage() {
  echo "cross: [$((SECONDS - start_time))s] $*"
  stage_time=$SECONDS
}
stage_done() { echo "cross:   done in $((SECONDS - stage_time))s"; }

passed=0
failed=0
pass() { passed=$((passed + 1)); }
fail() {
  failed=$((failed + 1))
  echo "cross: FAIL $*"
}

# ---------------------------------------------------------------------------
# Packages
# ---------------------------------------------------------------------------

packages=(qemu-user googletest libxxhash-dev cmake make g++ perl diffutils)
for target in "${targets[@]}"; do
  packages+=("g++-$target-linux-gnu")
done
need_packages "${packages[@]}"

# ---------------------------------------------------------------------------
# Builds
# ---------------------------------------------------------------------------

mkdir -p "$root/build-host"
logs="$root/build-host/cross-logs"
mkdir -p "$logs"

stage "building the host's program (build-host/)"
if ! { cmake --preset demo -B build-host &&
       cmake --build build-host -j"$jobs" --target moltavex_program; } >"$logs/host.log" 2>&1; then
  tail -30 "$logs/host.log" >&2
  echo "cross: the host build failed" >&2
  exit 1
fi
host_exe="$root/build-host/moltavex"
stage_done

# Builds one target from scratch; a warning in our sources is a failure
# (GoogleTest's own, if any, are not ours to fix).
build_target() {
  local target="$1" dir="$root/build-$1"
  local log="$logs/build-$target.log"
  stage "building for $target (build-$target/, log: $log)"
  rm -rf "$dir"
  if ! { cmake --preset "$target" -B "$dir" -DMOLTAVEX_CORPUS_DIR="$corpus" &&
         cmake --build "$dir" -j"$jobs"; } >"$log" 2>&1; then
    tail -30 "$log" >&2
    fail "the $target build failed"
    return 1
  fi
  if grep "warning:" "$log" | grep -v "/googletest/" | grep -q .; then
    fail "compiler warnings in the $target build:"
    grep "warning:" "$log" | grep -v "/googletest/" | sed 's/^/    /'
  else
    pass
  fi
  stage_done
}

run_suite() {
  local target="$1" log="$logs/ctest-$1.log"
  stage "the test suite under emulation on $target (log: $log)"
  if MOLTAVEX_CORPUS_ORDERS="$corpus_orders" \
     ctest --test-dir "build-$target" -j"$jobs" --output-on-failure >"$log" 2>&1; then
    pass
  else
    fail "tests failed on $target:"
    sed -n '/tests failed out of/,$p' "$log" | sed 's/^/    /'
  fi
  grep -E "tests passed|Total Test time" "$log" | sed 's/^/cross:   /'
  stage_done
}

# ---------------------------------------------------------------------------
# Streams of the host and the target
# ---------------------------------------------------------------------------

# shellcheck source=scripts/lib/stream-data.sh
source "$root/scripts/lib/stream-data.sh"

# One file, model and order; prints "ok" or what failed. `emulated` holds
# the target's command line (the emulator's words, then the program).
compare_one() {
  local dir="$1" f="$2" model="$3" order="$4"
  local base="$f.m$model.o$order"
  cd "$dir"
  if ! "$host_exe" "c$model" "$order" "$f" "$base.host" </dev/null >/dev/null 2>&1; then
    echo "the host's compression failed"
  elif ! "${emulated[@]}" "c$model" "$order" "$f" "$base.target" </dev/null >/dev/null 2>&1; then
    echo "the target's compression failed"
  elif ! cmp -s "$base.host" "$base.target"; then
    echo "the streams differ ($(cmp "$base.host" "$base.target" 2>&1 | head -1))"
  elif ! "${emulated[@]}" d "$base.host" "$base.host.restored" </dev/null >/dev/null 2>&1 ||
       ! cmp -s "$f" "$base.host.restored"; then
    echo "the target does not restore the host's stream"
  elif ! "$host_exe" d "$base.target" "$base.target.restored" </dev/null >/dev/null 2>&1 ||
       ! cmp -s "$f" "$base.target.restored"; then
    echo "the host does not restore the target's stream"
  else
    echo ok
    rm -f "$base".*
  fi
}

compare_streams() {
  local target="$1" dir="$root/build-$1/compare"
  stage "host and $target streams compared (directory: $dir)"
  rm -rf "$dir"
  mkdir -p "$dir/results"
  IFS='|' read -r -a emulated <"build-$target/emulator.txt"
  emulated+=("$root/build-$target/moltavex")
  local files=()
  if [[ -d "$corpus" ]]; then
    for path in "$corpus"/*; do
      local name="${path##*/}"
      [[ -f "$path" && "$name" != README.md && "$name" != SHA256SUMS ]] || continue
      cp "$path" "$dir/$name"
      chmod u+w "$dir/$name"
      files+=("$name")
    done
  elif [[ "${MOLTAVEX_REQUIRE_CORPUS:-0}" == 1 ]]; then
    fail "corpus not found at $corpus, and MOLTAVEX_REQUIRE_CORPUS=1 requires it"
  else
    echo "cross:   corpus not found at $corpus: generated data only"
  fi
  make_stream_data "$dir"
  files+=(runs.bin text-crlf.txt noise.bin empty.bin one-f0.bin)

  # Each file and model takes orders_each orders, evenly apart in the list
  # and shifted by one for the next file or model.
  local cases=() i=0
  for f in "${files[@]}"; do
    for model in "${models[@]}"; do
      for ((k = 0; k < orders_each; ++k)); do
        cases+=("$f $model ${orders[$(((i + model + k * ${#orders[@]} / orders_each) % ${#orders[@]}))]}")
      done
    done
    i=$((i + 1))
  done
  local running=0
  for c in "${cases[@]}"; do
    read -r f model order <<<"$c"
    compare_one "$dir" "$f" "$model" "$order" >"$dir/results/$f.m$model.o$order" &
    running=$((running + 1))
    if ((running >= jobs)); then
      wait -n || true
      running=$((running - 1))
    fi
  done
  wait
  local checked=0 bad=0
  for c in "${cases[@]}"; do
    read -r f model order <<<"$c"
    local result
    result="$(cat "$dir/results/$f.m$model.o$order")"
    if [[ "$result" == ok ]]; then
      pass
      checked=$((checked + 1))
    else
      fail "$f model $model order $order ($target): $result"
      bad=$((bad + 1))
    fi
  done
  echo "cross: $checked of $((checked + bad)) file/model/order combinations identical and restored ($target)"
  stage_done
}

for target in "${targets[@]}"; do
  if build_target "$target"; then
    run_suite "$target"
    compare_streams "$target"
  fi
done

echo "cross: total time $((SECONDS - start_time))s"
echo "cross: $passed passed, $failed failed"
((failed == 0))
