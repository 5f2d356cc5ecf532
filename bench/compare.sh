#!/usr/bin/env bash
# Speed of the working tree against a baseline, in-process, in alternating
# rounds: the figure to trust on a shared, noisy machine.
#
#   bench/compare.sh [--rounds N] [--runs R] [--files SET] [--pairs LIST] BASELINE
#
# BASELINE is `plain` (the plain reference coding path, see
# bench/plain_path.h) or a git revision of this repository. Both sides are
# built as bench/run.sh builds them. Then, for every model:order pair,
# N rounds (default 7) each run the current build's moltavex_bench and then
# the baseline's, R timed samples apiece (default 3), and keep each side's
# fastest sample over all rounds. Other jobs on the machine slow a sample
# down but never speed it up, and alternating rounds spread a busy spell
# over both sides alike, so the best samples compare the builds themselves.
#
# Prints a Markdown table: compression and decompression MB/s (10^6 bytes of
# original data per second) of both sides and their ratios, current over
# baseline. SET is a data set as moltavex_bench takes it (default text.cat);
# LIST defaults to every model at orders 16 and 22. Exits 1 when a run
# fails, a round trip differs or the two sides code different sizes.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"
need_xxhash
rounds=7
runs=3
files=text.cat
pairs=$(for o in 16 22; do for m in "${models[@]}"; do printf '%s:%s,' "$m" "$o"; done; done)
pairs=${pairs%,}
while [ $# -gt 1 ]; do
  case "$1" in
    --rounds) rounds=$2; shift ;;
    --runs) runs=$2; shift ;;
    --files) files=$2; shift ;;
    --pairs) pairs=$2; shift ;;
    *) echo "bench/compare.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
if [ $# -ne 1 ] || [ "${1#-}" != "$1" ]; then
  sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2
  exit 2
fi
baseline=$1
if [ ! -d "$corpus" ]; then
  echo "bench/compare.sh: corpus not found at $corpus; nothing to compare" >&2
  exit 0
fi

mapfile -t programs < <("$root/bench/run.sh" --baseline "$baseline" --build-only)
if [ ${#programs[@]} -ne 2 ]; then
  echo "bench/compare.sh: the baseline's in-process benchmark could not be built" >&2
  exit 1
fi
read -r -a current <<<"${programs[0]}"
read -r -a base <<<"${programs[1]}"

failed=0
echo "| data | model:order | size | compress MB/s | baseline | ratio | decompress MB/s | baseline | ratio |"
echo "|---|---|--:|--:|--:|--:|--:|--:|--:|"
IFS=', ' read -r -a pair_list <<<"$pairs"
for pair in "${pair_list[@]}"; do
  best="0 0 0 0"
  sizes=""
  for _ in $(seq "$rounds"); do
    for side in current base; do
      declare -n cmd=$side
      line=$("${cmd[@]}" --files "$files" --pairs "$pair" --runs "$runs" --no-header --no-memory \
               --corpus "$corpus" 2>/dev/null) || { echo "bench/compare.sh: $side failed on $pair" >&2; failed=1; continue; }
      # Columns: 8 compressed size, 12 and 13 the fastest samples.
      read -r size c d <<<"$(awk -F'\t' '{ print $8, $12, $13 }' <<<"$line")"
      sizes="$sizes $size"
      read -r cc cd bc bd <<<"$best"
      if [ "$side" = current ]; then
        best=$(awk -v a="$cc" -v b="$cd" -v c="$c" -v d="$d" -v e="$bc" -v f="$bd" \
                 'BEGIN { print (c > a ? c : a), (d > b ? d : b), e, f }')
      else
        best=$(awk -v a="$cc" -v b="$cd" -v c="$c" -v d="$d" -v e="$bc" -v f="$bd" \
                 'BEGIN { print a, b, (c > e ? c : e), (d > f ? d : f) }')
      fi
      unset -n cmd
    done
  done
  if [ "$(tr ' ' '\n' <<<"$sizes" | sed '/^$/d' | sort -u | wc -l)" -ne 1 ]; then
    echo "bench/compare.sh: $pair: the two sides code different sizes:$sizes" >&2
    failed=1
  fi
  read -r cc cd bc bd <<<"$best"
  awk -v f="$files" -v p="$pair" -v s="$(awk '{ print $1 }' <<<"$sizes")" -v cc="$cc" -v cd="$cd" -v bc="$bc" -v bd="$bd" 'BEGIN {
    printf "| %s | %s | %s | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f |\n", f, p, s, cc, bc,
      (bc > 0 ? cc / bc : 0), cd, bd, (bd > 0 ? cd / bd : 0) }'
done
echo
echo "current: $(git -C "$root" rev-parse --short HEAD)$([ -n "$(git -C "$root" status --porcelain --untracked-files=no)" ] && echo ' + uncommitted changes');" \
     "baseline: $baseline; fastest sample of $rounds alternating rounds x $runs runs; load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
exit "$failed"
