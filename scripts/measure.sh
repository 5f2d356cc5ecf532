#!/usr/bin/env bash
# Prints the compressed size of every corpus file for every model at the
# given orders, and whole-process compression and decompression speeds
# (median of several runs) for a few model/order pairs on one file.
#   scripts/measure.sh [sizes|speed|all]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/need-xxhash.sh
corpus=${MOLTAVEX_CORPUS:-../shared/corpus}
exe=./build/moltavex
[ -x "$exe" ] || { cmake --preset release >/dev/null && cmake --build --preset release -j"$(nproc)" >/dev/null; }
[ -d "$corpus" ] || { echo "corpus not found at $corpus" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
what=${1:-all}

if [ "$what" = sizes ] || [ "$what" = all ]; then
  for order in ${ORDERS:-16 22}; do
    echo
    echo "Compressed sizes in bytes, order $order"
    echo
    printf '| %-15s | %8s |' file original
    for m in 0 1 2 3 4 5; do printf ' %8s |' "model $m"; done
    echo
    printf '|%s|%s|' "-----------------" "----------"
    for m in 0 1 2 3 4 5; do printf '%s|' "----------"; done
    echo
    for f in "$corpus"/*; do
      name=$(basename "$f")
      case "$name" in README.md|SHA256SUMS) continue ;; esac
      printf '| %-15s | %8d |' "$name" "$(wc -c <"$f")"
      for m in 0 1 2 3 4 5; do
        "$exe" "c$m" "$order" "$f" "$work/out.mx" 2>/dev/null
        printf ' %8d |' "$(wc -c <"$work/out.mx")"
      done
      echo
    done
  done
fi

median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
seconds() { local s e; s=$(date +%s.%N); "$@" 2>/dev/null; e=$(date +%s.%N); echo "$e - $s" | bc -l; }

if [ "$what" = speed ] || [ "$what" = all ]; then
  file=${SPEED_FILE:-$corpus/lcet10.txt}
  runs=${RUNS:-7}
  size=$(wc -c <"$file")
  echo
  echo "Whole-process speed on $(basename "$file") ($size bytes), median of $runs runs"
  echo
  echo "| model | order | compress MB/s | decompress MB/s |"
  echo "|---|---|---|---|"
  for pair in ${PAIRS:-1:16 0:22}; do
    m=${pair%%:*}
    o=${pair##*:}
    "$exe" "c$m" "$o" "$file" "$work/s.mx" 2>/dev/null
    c=$(for i in $(seq "$runs"); do seconds "$exe" "c$m" "$o" "$file" "$work/s.mx"; done | median)
    d=$(for i in $(seq "$runs"); do seconds "$exe" d "$work/s.mx" "$work/s.out"; done | median)
    cmp -s "$file" "$work/s.out" || { echo "round trip failed for model $m order $o" >&2; exit 1; }
    printf '| %s | %s | %.1f | %.1f |\n' "$m" "$o" "$(echo "$size / $c / 1000000" | bc -l)" \
      "$(echo "$size / $d / 1000000" | bc -l)"
  done
fi
