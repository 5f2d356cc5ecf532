#!/usr/bin/env bash
# Builds the libFuzzer targets with AddressSanitizer and UBSan and runs each
# for a while, keeping what it learns between runs.
#
#   scripts/check.sh fuzz [SECONDS] [BUILD_DIR]
#
# SECONDS per target (default 30); BUILD_DIR default build-fuzz/. The
# corpus of every target grows in BUILD_DIR/corpus/<target>/ from run to
# run; the generated seeds (BUILD_DIR/fuzz/seeds/<target>/) and any stored
# reproducers (fuzz/regressions/<target>/) are read as well. Findings
# (crash-, leak-, timeout-, oom- files) go to BUILD_DIR/findings/<run>/, with
# the libFuzzer log beside it as <run>.log.
# Prints per target the executions, coverage (libFuzzer's cov and ft), the
# corpus size and the findings; exits 1 if anything was found.
#
# fuzz_decompress also runs a second time from a build with UBSan alone
# (BUILD_DIR/ubsan/), as fuzz_decompress@ubsan: without AddressSanitizer the
# target decodes every header as it stands, orders up to 31 included, under
# an address-space limit (see fuzz/fuzz_decompress.cpp). Both runs share
# one corpus.
#
# Environment: FUZZ_TARGETS to run a subset (space-separated names, the
# second run named fuzz_decompress@ubsan), FUZZ_JOBS for the build's
# parallelism (default: the number of cores), CXX for the compiler
# (default clang++).
set -euo pipefail
source "$(dirname "$0")/../lib/common.sh"
cd "$root"
need_xxhash

seconds=${1:-30}
build=${2:-build-fuzz}
case "$build" in /*) ;; *) build="$root/$build" ;; esac
runs=${FUZZ_TARGETS:-fuzz_decompress fuzz_decompress@ubsan fuzz_push fuzz_roundtrip fuzz_transform fuzz_tokenizer}
jobs=${FUZZ_JOBS:-$(nproc)}
cxx=${CXX:-clang++}

# The toolchain: clang with the libFuzzer and sanitizer runtimes, which
# Debian ships apart from the compiler (libclang-rt-14-dev).
toolchain_works() {
  command -v "$cxx" >/dev/null 2>&1 || return 1
  local probe
  probe=$(mktemp -d)
  printf '%s\n' '#include <cstddef>' '#include <cstdint>' \
    'extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t*, std::size_t) { return 0; }' \
    >"$probe/probe.cpp"
  local ok=0
  "$cxx" -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" -o "$probe/probe" \
    >/dev/null 2>&1 || ok=1
  rm -rf "$probe"
  return "$ok"
}
if ! toolchain_works; then
  need_packages clang libclang-rt-14-dev
  command -v "$cxx" >/dev/null 2>&1 || cxx=clang++-14
  toolchain_works || { echo "no working libFuzzer toolchain ($cxx)" >&2; exit 2; }
fi

# build DIR PRESET TARGET... (the presets fuzz and fuzz-ubsan, with this compiler)
build_targets() {
  local dir=$1 preset=$2
  shift 2
  mkdir -p "$dir"
  cmake --preset "$preset" -B "$dir" -DCMAKE_CXX_COMPILER="$cxx" >"$dir/fuzz-configure.log" 2>&1 ||
    { tail -30 "$dir/fuzz-configure.log"; exit 2; }
  cmake --build "$dir" -j"$jobs" --target "$@" >"$dir/fuzz-build.log" 2>&1 ||
    { tail -30 "$dir/fuzz-build.log"; exit 2; }
}
main_targets=()
ubsan_targets=()
for run in $runs; do
  case "$run" in
    *@ubsan) ubsan_targets+=("${run%@ubsan}") ;;
    *) main_targets+=("$run") ;;
  esac
done
build_targets "$build" fuzz ${main_targets[@]+"${main_targets[@]}"} fuzz_seeds
[ ${#ubsan_targets[@]} -eq 0 ] || build_targets "$build/ubsan" fuzz-ubsan "${ubsan_targets[@]}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

max_len_of() {
  case "$1" in
    fuzz_tokenizer) echo 8192 ;;  # room for more arguments than the table's 260
    *) echo 4096 ;;
  esac
}

stat_of() { sed -n "s/^stat::$2: *//p" "$1" | tail -1; }

found=0
summary=()
for run in $runs; do
  target=${run%@ubsan}
  exe="$build/fuzz/$target"
  [ "$run" = "$target" ] || exe="$build/ubsan/fuzz/$target"
  corpus="$build/corpus/$target"
  findings="$build/findings/$run"
  log="$build/findings/$run.log"
  mkdir -p "$corpus" "$findings"
  inputs=("$corpus")
  [ -d "$build/fuzz/seeds/$target" ] && inputs+=("$build/fuzz/seeds/$target")
  [ -d "fuzz/regressions/$target" ] && inputs+=("fuzz/regressions/$target")
  marker="$build/findings/.$run.start"
  touch "$marker"

  echo "== $run: ${seconds} s"
  status=0
  "$exe" "${inputs[@]}" -max_total_time="$seconds" -print_final_stats=1 \
    -max_len="$(max_len_of "$target")" -timeout=30 -rss_limit_mb=2560 \
    -artifact_prefix="$findings/" >"$log" 2>&1 || status=$?

  execs=$(stat_of "$log" number_of_executed_units)
  rate=$(stat_of "$log" average_exec_per_sec)
  rss=$(stat_of "$log" peak_rss_mb)
  last=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  corpus_files=$(find "$corpus" -type f | wc -l)
  corpus_bytes=$(find "$corpus" -type f -printf '%s\n' | awk '{ n += $1 } END { print n + 0 }')
  new=$(find "$findings" -type f -newer "$marker" | tr '\n' ' ')
  if [ "$status" -ne 0 ] || [ -n "$new" ]; then
    found=1
    verdict="FOUND (exit $status): $new"
    grep -E 'ERROR|SUMMARY|check failed|runtime error' "$log" | head -5 | sed 's/^/   /'
  else
    verdict="nothing found"
  fi
  line=$(printf '%-22s execs %-10s (%s/s)  cov %-5s ft %-6s corpus %s files, %s bytes  peak rss %s MB  %s' \
    "$run" "${execs:-?}" "${rate:-?}" "${cov:-?}" "${ft:-?}" "$corpus_files" "$corpus_bytes" \
    "${rss:-?}" "$verdict")
  echo "$line"
  summary+=("$line")
done

echo
echo "== summary (logs in $build/findings/)"
printf '%s\n' "${summary[@]}"
exit "$found"
