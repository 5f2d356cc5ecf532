#!/usr/bin/env bash
# The table page policy against large pages everywhere, whole process.
#
#   bench/pages.sh [--runs N] [--pairs LIST] [--size MIB] [--small-kib KIB]
#
# Builds the program twice: as it is (build-bench/), and with
# MOLTAVEX_ALWAYS_LARGE_PAGES=ON (build-bench-large/), which gives every
# table 2 MiB pages from the start. Then, for every model at orders 24, 26
# and 28 (--pairs), it times both programs compressing and decompressing
# a data set of --size MiB (default 32: a tar of /usr/include, cut to size,
# made in build-bench/pages-data/), each run a fresh process (zeroing, page
# faults and compaction included), alternating the two programs, and
# prints the median wall and CPU seconds of each and their ratios
# (policy / large pages; at most 1 means no slower). Each pair also runs
# once on a --small-kib KiB input (default 3) to show the peak resident
# memory of both (the policy keeps small pages there).
#
# The machine is shared and noisy: read the medians, and rerun a pair that
# looks off with more --runs.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"
cd "$root"
need_xxhash
runs=5
pairs=""
size_mib=32
small_kib=3
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift ;;
    --pairs) pairs=$2; shift ;;
    --size) size_mib=$2; shift ;;
    --small-kib) small_kib=$2; shift ;;
    *) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2; exit 2 ;;
  esac
  shift
done
if [ -z "$pairs" ]; then
  for m in "${models[@]}"; do for o in 24 26 28; do pairs="$pairs${pairs:+,}$m:$o"; done; done
fi

build() {  # DIR TARGETS EXTRA-CMAKE-ARGS...
  local dir=$1 targets=$2
  shift 2
  cmake --preset bench -B "$dir" "$@" >/dev/null
  # shellcheck disable=SC2086
  cmake --build "$dir" -j"$(nproc)" --target $targets >/dev/null
}
build build-bench "moltavex_program moltavex_proctime"
build build-bench-large moltavex_program -DMOLTAVEX_ALWAYS_LARGE_PAGES=ON -DMOLTAVEX_BUILD_BENCH=OFF \
  -DMOLTAVEX_BUILD_PYTHON=OFF
policy=build-bench/moltavex
large=build-bench-large/moltavex
proctime=build-bench/bench/moltavex_proctime

data=build-bench/pages-data
mkdir -p "$data"
input=$data/include-${size_mib}m.tar
if [ ! -s "$input" ]; then
  # head ends the pipe early, and tar dies of it: that is the point.
  (tar cf - -C /usr include 2>/dev/null || true) | head -c $((size_mib << 20)) >"$input"
fi
[ "$(stat -c %s "$input")" -ge $((size_mib << 20)) ] ||
  { echo "bench/pages.sh: could not make $size_mib MiB of data from /usr/include" >&2; exit 1; }
small=$data/small-${small_kib}k
head -c $((small_kib << 10)) "$input" >"$small"

# Median wall, best wall, median CPU, peak KiB of one program's job.
timed() { "$proctime" --runs "$runs" -- "$@"; }

printf '| model:order | compress s (policy) | large pages | ratio | decompress s (policy) | large pages | ratio | %s KiB input: peak MiB, policy / large |\n' "$small_kib"
echo "|---|--:|--:|--:|--:|--:|--:|--:|"
IFS=',' read -r -a list <<<"$pairs"
for pair in "${list[@]}"; do
  m=${pair%%:*}
  o=${pair##*:}
  out=$data/out.mx
  c_policy=$(timed "$policy" "c$m" "$o" "$input" "$out")
  c_large=$(timed "$large" "c$m" "$o" "$input" "$data/out-large.mx")
  cmp -s "$out" "$data/out-large.mx" || { echo "bench/pages.sh: $pair streams differ" >&2; exit 1; }
  d_policy=$(timed "$policy" d "$out" "$data/back")
  d_large=$(timed "$large" d "$out" "$data/back")
  cmp -s "$input" "$data/back" || { echo "bench/pages.sh: $pair does not restore" >&2; exit 1; }
  s_policy=$("$proctime" --runs 1 --warmup 0 -- "$policy" "c$m" "$o" "$small" "$data/small.mx" | cut -f4)
  s_large=$("$proctime" --runs 1 --warmup 0 -- "$large" "c$m" "$o" "$small" "$data/small.mx" | cut -f4)
  awk -v p="$pair" -v cp="$c_policy" -v cl="$c_large" -v dp="$d_policy" -v dl="$d_large" \
      -v sp="$s_policy" -v sl="$s_large" 'BEGIN {
    split(cp, a, "\t"); split(cl, b, "\t"); split(dp, c, "\t"); split(dl, d, "\t")
    printf "| %s | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f | %.0f / %.0f |\n", p, a[1], b[1],
      a[1] / b[1], c[1], d[1], c[1] / d[1], sp / 1024, sl / 1024 }'
done
echo
echo "wall seconds, median of $runs fresh processes each; input: $input ($size_mib MiB);" \
     "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
