#!/usr/bin/env bash
# Many small files: `moltavex -r` over a tree against the same data as one
# tar, and against gzip -r, whole processes.
#
#   bench/smallfiles.sh [--runs N] [--files N] [--level N] [--dir DIR]
#
# The tree is the first --files (default 3000) regular files of
# /usr/include, in path order, copied into DIR/smallfiles-data/ (default
# build-bench/; a tmpfs such as /dev/shm leaves out the disk's cost of
# creating files, which every program pays alike).
# Times, as the median of --runs (default 3) fresh processes each (a run
# over the tree first removes the outputs of the one before):
# `moltavex -r -k -LEVEL` with -T1 and -T0, `moltavex -k -f -LEVEL` on a
# tar of the tree, and `gzip -r -k`. The goals: -r at most 2 times the
# tar, and -T0 at least 1.6 times faster than -T1 on two cores.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"
cd "$root"
need_xxhash
runs=3
count=3000
level=5
dir=build-bench
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift ;;
    --files) count=$2; shift ;;
    --level) level=$2; shift ;;
    --dir) dir=$2; shift ;;
    *) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2; exit 2 ;;
  esac
  shift
done

cmake --preset bench -B build-bench >/dev/null
cmake --build build-bench -j"$(nproc)" --target moltavex_program moltavex_proctime >/dev/null
program=$root/build-bench/moltavex
proctime=$root/build-bench/bench/moltavex_proctime

mkdir -p "$dir"
data=$(cd "$dir" && pwd)/smallfiles-data
rm -rf "$data"
trap 'rm -rf "$data"' EXIT
mkdir -p "$data/tree"
(cd /usr/include && find . -type f | LC_ALL=C sort | sed -n "1,${count}p" |
  xargs -d '\n' cp --parents -t "$data/tree")
tar cf "$data/tree.tar" -C "$data" tree
files=$(find "$data/tree" -type f | wc -l)
bytes=$(stat -c %s "$data/tree.tar")

# Median wall seconds of a command.
timed() { "$proctime" --runs "$runs" -- "$@" | cut -f1; }
# A run over the tree starts from the tree alone: with -f, gzip -r and
# moltavex -r compress the outputs of the run before too.
fresh() {  # SUFFIX COMMAND...
  local suffix=$1
  shift
  timed sh -c 'find "$1" -name "*$2" -delete; shift 2; exec "$@"' sh "$data/tree" "$suffix" "$@"
}
r1=$(fresh .mx "$program" -r -k "-$level" -T1 "$data/tree")
r0=$(fresh .mx "$program" -r -k "-$level" -T0 "$data/tree")
find "$data/tree" -name '*.mx' -delete
one=$(timed "$program" -k -f "-$level" "$data/tree.tar")
gz=$(fresh .gz gzip -r -k "$data/tree")
find "$data/tree" -name '*.gz' -delete

echo "$files files, $((bytes >> 20)) MiB as one tar; level $level; median of $runs runs"
echo
echo "| job | wall s | / one tar |"
echo "|---|--:|--:|"
awk -v r1="$r1" -v r0="$r0" -v one="$one" -v gz="$gz" -v l="$level" 'BEGIN {
  printf "| `moltavex -r -%s -T1` | %.2f | %.2f |\n", l, r1, r1 / one
  printf "| `moltavex -r -%s -T0` | %.2f | %.2f |\n", l, r0, r0 / one
  printf "| `moltavex -%s` on one tar | %.2f | 1.00 |\n", l, one
  printf "| `gzip -r` | %.2f | %.2f |\n", gz, gz / one
  printf "\n-T1 / -T0: %.2f\n", r1 / r0 }'
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
