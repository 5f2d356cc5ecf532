#!/usr/bin/env bash
# The table page policy against large and small pages everywhere, whole
# process.
#
#   bench/pages.sh [--runs N] [--pairs LIST] [--size MIB] [--small-kib KIB]
#   bench/pages.sh --resident [--jobs LIST]
#
# Builds the program three times: as it is (build-bench/), and with
# MOLTAVEX_TABLE_PAGES=large (build-pages-large/: every table gets 2 MiB
# pages from the start) and =small (build-pages-small/: never).
#
# Speed: for every model at orders 24, 26 and 28 (--pairs), it times the
# policy and large pages compressing and decompressing a data set of --size
# MiB (default 32: a tar of /usr/include, cut to size, made in
# build-bench/pages-data/), each run a fresh process (zeroing, page faults
# and compaction included), alternating the two programs, and prints the
# median wall seconds of each and their ratios (policy / large pages; at
# most 1 means no slower). Each pair also runs once on a --small-kib KiB
# input (default 3) to show the peak resident memory of both.
#
# --resident: peak resident memory of compression under the three builds,
# for each KIND:MIB:MODEL:ORDER of --jobs, KIND one of utf16 (the tar's
# text widened by iconv), tar, binary (programs from /usr/bin); by default
# `c5 28` and `c3 26` on 1 and 8 MiB of UTF-16 text, and a few orders on
# 8 MiB of the other two. Exits 1 when the policy holds more than 1.5
# times what small pages hold, plus 64 MB, for any job.
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
resident=0
jobs=utf16:1:5:28,utf16:1:3:26,utf16:8:5:28,utf16:8:3:26,tar:8:1:24,tar:8:5:26,tar:8:5:28
jobs=$jobs,binary:8:1:24,binary:8:5:26
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift ;;
    --pairs) pairs=$2; shift ;;
    --size) size_mib=$2; shift ;;
    --small-kib) small_kib=$2; shift ;;
    --resident) resident=1 ;;
    --jobs) jobs=$2; shift ;;
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
for pages in large small; do
  build "build-pages-$pages" moltavex_program -DMOLTAVEX_TABLE_PAGES=$pages -DMOLTAVEX_BUILD_BENCH=OFF \
    -DMOLTAVEX_BUILD_PYTHON=OFF
done
policy=build-bench/moltavex
large=build-pages-large/moltavex
small_pages=build-pages-small/moltavex
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

# Peak KiB of one run of a program's job.
peak() { "$proctime" --runs 1 --warmup 0 -- "$@" | cut -f4; }

if [ "$resident" = 1 ]; then
  echo "| data | setting | small pages MiB | policy MiB | large pages MiB | policy / small |"
  echo "|---|---|--:|--:|--:|--:|"
  failed=0
  IFS=',' read -r -a list <<<"$jobs"
  for job in "${list[@]}"; do
    IFS=':' read -r kind mib m o <<<"$job"
    file=$data/$kind-${mib}m
    if [ ! -s "$file" ]; then
      case "$kind" in
        utf16) head -c $((mib << 19)) "$input" | iconv -f latin1 -t UTF-16LE >"$file" ;;
        tar) head -c $((mib << 20)) "$input" >"$file" ;;
        binary) (find /usr/bin -type f -size +64k | LC_ALL=C sort | xargs cat 2>/dev/null || true) |
                  head -c $((mib << 20)) >"$file" ;;
        *) echo "bench/pages.sh: no data kind $kind" >&2; exit 2 ;;
      esac
    fi
    s_small=$(peak "$small_pages" "c$m" "$o" "$file" "$data/res.mx")
    s_policy=$(peak "$policy" "c$m" "$o" "$file" "$data/res.mx")
    s_large=$(peak "$large" "c$m" "$o" "$file" "$data/res.mx")
    awk -v d="$kind, $mib MiB" -v c="c$m $o" -v s="$s_small" -v p="$s_policy" -v l="$s_large" 'BEGIN {
      printf "| %s | `%s` | %.0f | %.0f | %.0f | %.2f |\n", d, c, s / 1024, p / 1024, l / 1024, p / s
      exit !(p * 1024 <= 1.5 * s * 1024 + 64e6) }' || failed=1
  done
  [ "$failed" = 0 ] || { echo "bench/pages.sh: the policy holds over 1.5 times small pages + 64 MB" >&2; exit 1; }
  exit 0
fi

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
  s_policy=$(peak "$policy" "c$m" "$o" "$small" "$data/small.mx")
  s_large=$(peak "$large" "c$m" "$o" "$small" "$data/small.mx")
  awk -v p="$pair" -v cp="$c_policy" -v cl="$c_large" -v dp="$d_policy" -v dl="$d_large" \
      -v sp="$s_policy" -v sl="$s_large" 'BEGIN {
    split(cp, a, "\t"); split(cl, b, "\t"); split(dp, c, "\t"); split(dl, d, "\t")
    printf "| %s | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f | %.0f / %.0f |\n", p, a[1], b[1],
      a[1] / b[1], c[1], d[1], c[1] / d[1], sp / 1024, sl / 1024 }'
done
echo
echo "wall seconds, median of $runs fresh processes each; input: $input ($size_mib MiB);" \
     "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
