#!/usr/bin/env bash
# Files per second of `moltavex -T2` against `-T1`: 8 files of 4 MiB,
# compressed and then decompressed, whole processes timed by the wall
# clock, best of ROUNDS alternating rounds (other jobs on a shared machine
# can slow a round down, never speed it up). The target on two cores is
# 1.7 times the files per second of -T1. The outputs of -T1 and -T2 are
# compared byte for byte.
#
#   bench/threads.sh [LEVEL] [ROUNDS]     (default: level 5, 3 rounds)
#
# The files are cut from the corpus when it is there, from generated text
# otherwise, into $TMPDIR/moltavex-threads-bench. The program is built
# into build-threads/.
set -euo pipefail

source "$(dirname "$0")/../scripts/lib/common.sh"
cd "$root"
need_xxhash
level="${1:-5}"
rounds="${2:-3}"
build_dir="$root/build-threads"
work="${TMPDIR:-/tmp}/moltavex-threads-bench"

need_packages cmake perl
cmake --preset demo -S "$root" -B "$build_dir" >/dev/null
cmake --build "$build_dir" -j2 --target moltavex_program >/dev/null
program="$build_dir/moltavex"

rm -rf "$work"
mkdir -p "$work/t1" "$work/t2"
# Eight different inputs of 4 MiB: the corpus concatenated from a different
# file each time, repeated to length.
names=()
for i in 0 1 2 3 4 5 6 7; do
  name="f$i"
  if [[ -d "$corpus" ]]; then
    mapfile -t files < <(ls "$corpus" | grep -v SHA256SUMS | sort)
    rotated=("${files[@]:i % ${#files[@]}}" "${files[@]:0:i % ${#files[@]}}")
    (for _ in 1 2 3 4 5 6; do for f in "${rotated[@]}"; do cat "$corpus/$f"; done; done) |
      head -c $((4 << 20)) >"$work/$name"
  else
    perl -e 'my @w = qw(the quick brown fox jumps over lazy dog and then runs away);
             my $x = shift; my $out = "";
             while (length($out) < 4 << 20) { $x = ($x * 1103515245 + 12345) % 4294967296;
               $out .= $w[($x >> 16) % @w] . (($x & 15) ? " " : ".\n"); }
             print substr($out, 0, 4 << 20);' "$i" >"$work/$name"
  fi
  cp "$work/$name" "$work/t1/$name"
  cp "$work/$name" "$work/t2/$name"
  names+=("$name")
done

best_t1_c=999999 best_t2_c=999999 best_t1_d=999999 best_t2_d=999999
cpu_t1_c=0 cpu_t2_c=0 cpu_t1_d=0 cpu_t2_d=0
min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a < b) ? a : b }'; }
# Runs the program in DIR with -T THREADS and OPTIONS on the files (with
# $suffix); prints "wall cpu" in seconds.
run() {
  local dir="$1" threads="$2"
  shift 2
  local TIMEFORMAT="%R %U %S" times
  times=$( { time (cd "$dir" && "$program" -T"$threads" -f "$@" "${names[@]/%/$suffix}") ; } 2>&1)
  awk -v t="$times" 'BEGIN { split(t, f, " "); print f[1], f[2] + f[3] }'
}
# Keeps the best wall time of a configuration, and the CPU time of that run.
keep() {  # NAME "wall cpu"
  local wall cpu best
  read -r wall cpu <<<"$2"
  best=$(eval echo "\$best_$1")
  if awk -v a="$wall" -v b="$best" 'BEGIN { exit !(a < b) }'; then
    eval "best_$1=$wall cpu_$1=$cpu"
  fi
}
for ((r = 1; r <= rounds; r++)); do
  suffix=""
  keep t1_c "$(run "$work/t1" 1 -"$level")"
  keep t2_c "$(run "$work/t2" 2 -"$level")"
  suffix=".mx"
  (cd "$work/t1" && rm -f "${names[@]}")
  (cd "$work/t2" && rm -f "${names[@]}")
  keep t1_d "$(run "$work/t1" 1 -d)"
  keep t2_d "$(run "$work/t2" 2 -d)"
done
for name in "${names[@]}"; do
  cmp -s "$work/t1/$name.mx" "$work/t2/$name.mx" || { echo "bench/threads.sh: $name.mx differs" >&2; exit 1; }
  cmp -s "$work/$name" "$work/t2/$name" || { echo "bench/threads.sh: $name not restored" >&2; exit 1; }
done

report() {  # WHAT WALL1 CPU1 WALL2 CPU2
  awk -v what="$1" -v a="$2" -v ca="$3" -v b="$4" -v cb="$5" 'BEGIN {
    printf "%-10s -T1 %5.2f s (cpu %5.2f) %5.2f files/s   -T2 %5.2f s (cpu %5.2f) %5.2f files/s   %.2fx\n",
           what, a, ca, 8 / a, b, cb, 8 / b, a / b }'
}
echo "bench/threads.sh: 8 files of 4 MiB, level $level, best of $rounds rounds, $(nproc) cores," \
  "load average $(cut -d' ' -f1 /proc/loadavg 2>/dev/null || echo unknown)"
report compress "$best_t1_c" "$cpu_t1_c" "$best_t2_c" "$cpu_t2_c"
report decompress "$best_t1_d" "$cpu_t1_d" "$best_t2_d" "$cpu_t2_d"
echo "bench/threads.sh: -T1 and -T2 outputs identical"
