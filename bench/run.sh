#!/usr/bin/env bash
# Size and speed of Moltavex on the corpus, beside gzip, bzip2, xz and zstd.
#
#   bench/run.sh [--quick] [--runs N] [--files LIST] [--pairs LIST]
#                [--process-pairs LIST] [--baseline REV|plain] [--baseline-process-only]
#                [--clock cpu|wall|best]
#                [--results DIR] [--build-dir DIR] [--micro] [--no-peers]
#                [--no-chart] [--build-only] [--map]
#
# What it does:
#   1. builds the working tree (Release, tests off) into its own build
#      directory, build-bench/ by default;
#   2. runs moltavex_bench: every model/order pair in-process, data and
#      output in memory (size, bits per byte, MB/s each way, peak memory);
#   3. times the built moltavex program as a whole process (start-up, file
#      reading and writing included), its automatic choice (moltavex a,
#      shown with the setting it chose) and the peers gzip -9, bzip2 -9,
#      xz -6 and zstd -19 (single-threaded) on the same files, with
#      moltavex_proctime: median of --runs runs after one warm-up, inputs
#      from the page cache, outputs to a temporary directory; every round
#      trip is compared with the original;
#   4. prints one Markdown table, and writes it, the raw data (TSV) and a
#      chart (bits per byte against compression MB/s) to the results
#      directory, bench-results/ by default.
#
# Data sets (--files, comma-separated): text.cat (alice29.txt asyoulik.txt
# lcet10.txt plrabn12.txt concatenated: the English texts, the set that
# speed work is judged on), corpus.cat (all ten corpus files concatenated),
# corpus (each corpus file on its own), or single corpus file names.
# Default: text.cat,corpus.cat,corpus. --quick: text.cat only, 3 runs.
#
# --pairs sets the in-process model:order pairs (default every model at
# orders 8, 16, 22, 24, 26 and 28); --process-pairs those timed as a whole
# process (default every model at 16 and at 22).
#
# --map draws the map for choosing a setting: every model at every even
# order from 8 to 28, in-process, on one data set (default text.cat, or
# the first of --files), with the peers, into the chart, which it also
# copies to docs/map.png for the README.
#
# --baseline plain measures, beside the library's drivers, the plain
# reference path built into moltavex_bench (bench/plain_path.h: a predict
# and an update call through the model table per bit, one out-of-line coder
# call per bit, tables filled at creation), in-process only.
#
# --baseline REV also measures git revision REV of this repository:
# its tree is unpacked with git archive and, when its internal interface
# still fits, the current benchmark sources are built against its library,
# so that both sides are measured by the same harness; otherwise only its
# moltavex program is timed as a whole process. Baseline rows follow the
# current ones, with the speed ratios current / baseline. In-process, the
# two sides' samples alternate: --runs rounds of one sample each, current
# then baseline, whose medians (and best) the rows give, so that a busy
# spell on the machine lasting a few seconds falls on both sides alike
# rather than on all of one side's samples. Whole-process measurements
# alternate pair by pair. --baseline-process-only skips the in-process
# attempt. The baseline builds are kept in BUILD_DIR/baseline-SHA and
# reused.
#
# --clock picks the speeds shown in the table and chart: cpu (default), from
# the CPU time (user + system) of the job or process, or wall, from the
# wall clock. Both are in the TSV. On an idle machine they agree; on a
# busy shared one the wall clock mostly measures the wait for a core, while
# CPU time stays close to the idle figure. best shows the fastest wall-clock
# sample of the --runs: the figure least disturbed by other jobs, the one
# to compare builds with on a noisy machine (with --runs 7 or more).
#
# --build-only builds (the baseline too) and prints the paths of the
# moltavex_bench programs instead of measuring; bench/compare.sh uses it.
#
# --micro also runs moltavex_microbench (per-bit costs of each model and of
# the coder) and saves its output.
#
# Environment: MOLTAVEX_CORPUS (corpus directory, default ../shared/corpus
# beside the checkout), RUNS, FILES, PAIRS, PROCESS_PAIRS, CLOCK, RESULTS,
# BUILD_DIR, JOBS. Missing tools are installed with apt-get.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"
cd "$root"
need_xxhash

runs=${RUNS:-5}
files=${FILES:-text.cat,corpus.cat,corpus}
every_model_at() { # ORDER... : every model at those orders, as a pair list
  local list="" m o
  for m in "${models[@]}"; do for o in "$@"; do list="$list${list:+,}$m:$o"; done; done
  echo "$list"
}
pairs=${PAIRS:-$(every_model_at 8 16 22 24 26 28)}
process_pairs=${PROCESS_PAIRS:-0:16,1:16,2:16,3:16,4:16,5:16,0:22,1:22,2:22,3:22,4:22,5:22}
results=${RESULTS:-$root/bench-results}
build_dir=${BUILD_DIR:-$root/build-bench}
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
clock=${CLOCK:-cpu}
baseline=
baseline_inproc=1
micro=0
peers=1
chart=1
quick=0
build_only=0
map=0

usage() { sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; }
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick=1; files=text.cat; runs=3 ;;
    --runs) runs=$2; shift ;;
    --files) files=$2; shift ;;
    --pairs) pairs=$2; shift ;;
    --process-pairs) process_pairs=$2; shift ;;
    --baseline) baseline=$2; shift ;;
    --baseline-process-only) baseline_inproc=0 ;;
    --clock) clock=$2; shift ;;
    --results) results=$2; shift ;;
    --build-dir) build_dir=$2; shift ;;
    --micro) micro=1 ;;
    --no-peers) peers=0 ;;
    --no-chart) chart=0 ;;
    --build-only) build_only=1 ;;
    --map) map=1 ;;
    -h|--help) usage; exit 0 ;;
    *) echo "bench/run.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
  shift
done

say() { echo "bench/run.sh: $*" >&2; }
if [ "$map" = 1 ]; then
  files=${files%%,*}
  pairs=$(every_model_at 8 10 12 14 16 18 20 22 24 26 28)
  process_pairs=""
  chart=1
fi
case "$clock" in
  cpu|wall|best) ;;
  *) say "--clock must be cpu, wall or best"; exit 2 ;;
esac
# TSV columns of the compression and decompression speeds to show.
case "$clock" in
  cpu) ci=14; di=15 ;;
  wall) ci=10; di=11 ;;
  best) ci=12; di=13 ;;
esac
started=$(date +%s)
load_before=$(cut -d' ' -f1-3 /proc/loadavg 2>/dev/null || echo "?")

corpus_names="alice29.txt asyoulik.txt fireworks.jpeg geo.protodata html kppkn.gtb lcet10.txt paper-100k.pdf plrabn12.txt urls.10K"
text_names="alice29.txt asyoulik.txt lcet10.txt plrabn12.txt"
if [ ! -d "$corpus" ]; then
  say "corpus not found at $corpus; nothing to measure"
  exit 0
fi
corpus=$(cd "$corpus" && pwd)
for name in $corpus_names; do
  [ -f "$corpus/$name" ] || { say "corpus file $corpus/$name missing; nothing to measure"; exit 0; }
done

# --- tools -------------------------------------------------------------------

missing=()
need() { command -v "$1" >/dev/null 2>&1 || missing+=("$2"); }
need cmake cmake
need c++ g++
need make make
need cmp diffutils
need awk gawk
need git git
if [ "$peers" = 1 ]; then
  need gzip gzip
  need bzip2 bzip2
  need xz xz-utils
  need zstd zstd
fi
[ "$chart" = 1 ] && need gnuplot gnuplot-nox
if command -v dpkg >/dev/null 2>&1 && ! dpkg -s libbenchmark-dev >/dev/null 2>&1 &&
   [ ! -e /usr/include/benchmark/benchmark.h ] && [ ! -e /usr/local/include/benchmark/benchmark.h ]; then
  missing+=(libbenchmark-dev)
fi
if [ ${#missing[@]} -gt 0 ]; then
  need_packages "${missing[@]}" || say "install ${missing[*]} by hand"
fi
if [ "$chart" = 1 ] && ! command -v gnuplot >/dev/null 2>&1; then
  say "gnuplot missing: no chart"
  chart=0
fi

# --- build -------------------------------------------------------------------

current_rev=$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo '?')
[ -n "$(git -C "$root" status --porcelain --untracked-files=no 2>/dev/null)" ] &&
  current_rev="$current_rev + uncommitted changes"
say "building the working tree ($current_rev) into $build_dir"
mkdir -p "$build_dir"
build_log=$build_dir/bench-build.log
cmake --preset bench -S "$root" -B "$build_dir" >"$build_log" 2>&1 || { cat "$build_log" >&2; exit 1; }
targets=(moltavex_program moltavex_bench moltavex_proctime)
[ "$micro" = 1 ] && targets+=(moltavex_microbench)
cmake --build "$build_dir" -j"$jobs" --target "${targets[@]}" >>"$build_log" 2>&1 ||
  { tail -40 "$build_log" >&2; say "build failed (log: $build_log)"; exit 1; }
bench=$build_dir/bench/moltavex_bench
proctime=$build_dir/bench/moltavex_proctime
program=$build_dir/moltavex
for f in "$bench" "$proctime" "$program"; do
  [ -x "$f" ] || { say "$f was not built (is Google Benchmark installed?)"; exit 1; }
done

work=$(mktemp -d /tmp/moltavex-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

# --- baseline ----------------------------------------------------------------

base_bench=
base_args=()
base_program=
base_label=
if [ "$baseline" = plain ]; then
  # The plain reference path, built into this tree's benchmark.
  base_bench=$bench
  base_args=(--path plain)
  base_label="plain path"
elif [ -n "$baseline" ]; then
  sha=$(git -C "$root" rev-parse --verify "$baseline^{commit}") ||
    { say "unknown revision $baseline"; exit 2; }
  base_label=$(git -C "$root" rev-parse --short "$sha")
  base_dir=$build_dir/baseline-$sha
  if [ ! -f "$base_dir/src/CMakeLists.txt" ]; then
    say "unpacking $baseline ($base_label) into $base_dir/src"
    rm -rf "$base_dir"
    mkdir -p "$base_dir/src"
    git -C "$root" archive "$sha" | tar -x -C "$base_dir/src"
  fi
  # First choice: today's bench sources against the old library, so that
  # both sides are measured the same way.
  : >"$base_dir/build.log"
  if [ "$baseline_inproc" = 1 ] &&
     cmake -S "$root/bench" -B "$base_dir/bench" -DCMAKE_BUILD_TYPE=Release \
       -DMOLTAVEX_SOURCE_DIR="$base_dir/src" >>"$base_dir/build.log" 2>&1; then
    if cmake --build "$base_dir/bench" -j"$jobs" --target moltavex_bench >>"$base_dir/build.log" 2>&1; then
      base_bench=$base_dir/bench/moltavex_bench
    fi
    if cmake --build "$base_dir/bench" -j"$jobs" --target moltavex_program >>"$base_dir/build.log" 2>&1; then
      base_program=$base_dir/bench/moltavex/moltavex
    fi
  fi
  if [ -z "$base_bench" ] && [ "$baseline_inproc" = 1 ]; then
    say "the benchmark does not build against $base_label (log: $base_dir/build.log);" \
        "the baseline gets whole-process figures only"
  fi
  if [ ! -x "$base_program" ]; then
    # The old tree on its own, as its own build would make it.
    base_program=
    if cmake -S "$base_dir/src" -B "$base_dir/own" -DCMAKE_BUILD_TYPE=Release \
         -DMOLTAVEX_BUILD_TESTS=OFF -DMOLTAVEX_BUILD_BENCH=OFF >>"$base_dir/build.log" 2>&1 &&
       cmake --build "$base_dir/own" -j"$jobs" >>"$base_dir/build.log" 2>&1; then
      base_program=$(find "$base_dir/own" -maxdepth 2 -type f -name moltavex -perm -u+x | head -1)
    fi
  fi
  if [ -z "$base_bench" ] && [ -z "$base_program" ]; then
    say "could not build $baseline (log: $base_dir/build.log)"
    exit 1
  fi
fi

if [ "$build_only" = 1 ]; then
  # For bench/compare.sh: the benchmark programs, current then baseline
  # (with its extra arguments), one per line.
  echo "$bench"
  [ -n "$base_bench" ] && echo "$base_bench ${base_args[*]}"
  exit 0
fi

# --- data sets ---------------------------------------------------------------

# The data sets named by --files, "corpus" expanded to its ten files.
sets=()
IFS=', ' read -r -a items <<<"$files"
for item in "${items[@]}"; do
  case "$item" in
    corpus) for name in $corpus_names; do sets+=("$name"); done ;;
    *) sets+=("$item") ;;
  esac
done
set_path() {
  case "$1" in
    text.cat|corpus.cat)
      local path=$work/$1 list=$corpus_names
      [ "$1" = text.cat ] && list=$text_names
      if [ ! -f "$path" ]; then
        for name in $list; do cat "$corpus/$name"; done >"$path"
      fi
      echo "$path" ;;
    */*) echo "$1" ;;
    *) echo "$corpus/$1" ;;
  esac
}
for s in "${sets[@]}"; do
  [ -f "$(set_path "$s")" ] || { say "no such data set: $s"; exit 2; }
done

# --- measuring ---------------------------------------------------------------

mkdir -p "$results"
tsv=$results/bench.tsv
printf 'build\tkind\tprogram\tfile\tbytes\tmodel\torder\tcompressed\tbits_per_byte\tc_mbps\td_mbps\tc_best_mbps\td_best_mbps\tc_cpu_mbps\td_cpu_mbps\tpeak_kib\truns\n' >"$tsv"

IFS=', ' read -r -a pair_list <<<"$pairs"
IFS=', ' read -r -a process_list <<<"$process_pairs"

# In-process samples of one set and pair from one bench binary: its row,
# from `n` timed samples after a warm-up.
inproc_row() { # build-name bench-binary set pair n
  local extra=()
  [ "$1" = baseline ] && extra=("${base_args[@]}")
  "$2" --build "$1" --files "$3" --pairs "$4" --runs "$5" --no-header \
    --corpus "$corpus" "${extra[@]}" 2>/dev/null || { say "$1 moltavex_bench failed on $3 $4"; return 1; }
}

# Appends an in-process row to the TSV and shows it.
inproc_record() { # row
  printf '%s\n' "$1" >>"$tsv"
  printf '%s\n' "$1" | awk -F'\t' -v ci="$ci" -v di="$di" '{ printf "  %-8s in-process  %-14s %s:%-2s %.3f bpb  c %7.2f  d %7.2f MB/s\n", $1, $4, $6, $7, $9, $ci, $di }' >&2
}

# One row from rows of single samples: medians of the median and CPU-time
# speeds, the best of the best, the largest peak, the count of samples.
inproc_merge() { # rows (one per line)
  printf '%s\n' "$1" | awk -F'\t' -v OFS='\t' '
    function median(col,   i, j, t, v) {
      for (i = 1; i <= n; ++i) v[i] = x[i, col]
      for (i = 2; i <= n; ++i) for (j = i; j > 1 && v[j - 1] > v[j]; --j) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
      return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
    }
    { ++n; for (c = 1; c <= NF; ++c) x[n, c] = $c; nf = NF }
    END {
      for (c = 1; c <= nf; ++c) out[c] = x[1, c]
      out[10] = median(10); out[11] = median(11); out[14] = median(14); out[15] = median(15)
      for (i = 2; i <= n; ++i) {
        if (x[i, 12] + 0 > out[12] + 0) out[12] = x[i, 12]
        if (x[i, 13] + 0 > out[13] + 0) out[13] = x[i, 13]
        if (x[i, 16] + 0 > out[16] + 0) out[16] = x[i, 16]
      }
      for (c = 10; c <= 15; ++c) out[c] = sprintf("%.3f", out[c])
      out[17] = n
      line = out[1]
      for (c = 2; c <= nf; ++c) line = line OFS out[c]
      print line
    }'
}

# In-process rows of one set and pair: the current build's, and the
# baseline's when there is one, with their samples taken in alternating
# rounds.
inproc() { # set pair
  if [ -z "$base_bench" ]; then
    local row
    row=$(inproc_row current "$bench" "$1" "$2" "$runs") || return 1
    inproc_record "$row"
    return 0
  fi
  local cur=() base=() row r
  for r in $(seq "$runs"); do
    row=$(inproc_row current "$bench" "$1" "$2" 1) || return 1
    cur+=("$row")
    row=$(inproc_row baseline "$base_bench" "$1" "$2" 1) || return 1
    base+=("$row")
  done
  inproc_record "$(inproc_merge "$(printf '%s\n' "${cur[@]}")")"
  inproc_record "$(inproc_merge "$(printf '%s\n' "${base[@]}")")"
}

mbps() { awk -v b="$1" -v s="$2" 'BEGIN { printf "%.3f", (s > 0 ? b / s / 1e6 : 0) }'; }

# Whole-process row: times compression and decompression (each given as
# moltavex_proctime arguments, the two separated by ::), then checks that
# $restored equals $in.
#   process_row build label file model order bytes in packed restored CARGS... :: DARGS...
process_row() {
  local build=$1 label=$2 file=$3 model=$4 order=$5 bytes=$6 in=$7 packed=$8 restored=$9
  shift 9
  local ccmd=() dcmd=() c d size
  while [ "$1" != :: ]; do ccmd+=("$1"); shift; done
  shift
  dcmd=("$@")
  c=$("$proctime" --runs "$runs" "${ccmd[@]}") || { say "$label failed on $file"; return 1; }
  d=$("$proctime" --runs "$runs" "${dcmd[@]}") || { say "$label -d failed on $file"; return 1; }
  cmp -s "$in" "$restored" || { say "$label: round trip differs on $file"; return 1; }
  size=$(wc -c <"$packed")
  local cm db cb cc dm dbst dc peak
  read -r cm cb cc peak <<<"$c"
  read -r dm dbst dc _ <<<"$d"
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' \
    "$build" "$([ "$label" = moltavex ] && echo process || echo peer)" "$label" "$file" "$bytes" \
    "$model" "$order" "$size" "$(awk -v s="$size" -v b="$bytes" 'BEGIN { printf "%.4f", 8 * s / b }')" \
    "$(mbps "$bytes" "$cm")" "$(mbps "$bytes" "$dm")" "$(mbps "$bytes" "$cb")" "$(mbps "$bytes" "$dbst")" \
    "$(mbps "$bytes" "$cc")" "$(mbps "$bytes" "$dc")" "$peak" "$runs" >>"$tsv"
  local shown_c=$cm shown_d=$dm
  [ "$clock" = cpu ] && { shown_c=$cc; shown_d=$dc; }
  [ "$clock" = best ] && { shown_c=$cb; shown_d=$dbst; }
  printf '  %-8s %-10s  %-14s %s %-7s c %7.2f  d %7.2f MB/s\n' "$build" "$label" "$file" \
    "$model" "$order" "$(mbps "$bytes" "$shown_c")" "$(mbps "$bytes" "$shown_d")" >&2
}

moltavex_process() { # build program set pair
  local exe=$2 file=$3 m=${4%%:*} o=${4##*:} in
  in=$(set_path "$file")
  process_row "$1" moltavex "$file" "$m" "$o" "$(wc -c <"$in")" "$in" "$work/p.mx" "$work/p.out" \
    --stdout /dev/null -- "$exe" "c$m" "$o" "$in" "$work/p.mx" \
    :: --stdout /dev/null -- "$exe" d "$work/p.mx" "$work/p.out"
}

# The automatic choice as a whole process: `moltavex a`, then `d` of its
# stream, shown beside the peers with the model and order it chose.
auto_process() { # set
  local file=$1 in header
  in=$(set_path "$file")
  "$program" a "$in" "$work/a.mx" 2>/dev/null || { say "moltavex a failed on $file"; return 1; }
  header=$(od -An -tu1 -N1 "$work/a.mx" | tr -d ' ')
  process_row current "moltavex-a" "$file" "$((header >> 5))" "$((header & 31))" \
    "$(wc -c <"$in")" "$in" "$work/a.mx" "$work/a.out" \
    --stdout /dev/null -- "$program" a "$in" "$work/a.mx" \
    :: --stdout /dev/null -- "$program" d "$work/a.mx" "$work/a.out"
}

peer() { # set label level ext COMPRESS-COMMAND... :: DECOMPRESS-COMMAND...
  local file=$1 label=$2 level=$3 ext=$4 in
  shift 4
  in=$(set_path "$file")
  local cargs=() dargs=()
  while [ "$1" != :: ]; do cargs+=("$1"); shift; done
  shift
  dargs=("$@")
  process_row current "$label" "$file" - "$level" "$(wc -c <"$in")" "$in" "$work/p.$ext" "$work/p.out" \
    --stdin "$in" --stdout "$work/p.$ext" -- "${cargs[@]}" \
    :: --stdin "$work/p.$ext" --stdout "$work/p.out" -- "${dargs[@]}"
}

# A failed measurement (a job that fails, a round trip that differs) is
# reported and counted; the rest still runs, and the exit status is 1.
failures=0
for s in "${sets[@]}"; do
  say "$s: in-process"
  for p in "${pair_list[@]}"; do
    inproc "$s" "$p" || failures=$((failures + 1))
  done
  say "$s: whole process"
  for p in "${process_list[@]}"; do
    moltavex_process current "$program" "$s" "$p" || failures=$((failures + 1))
    if [ -n "$base_program" ]; then
      moltavex_process baseline "$base_program" "$s" "$p" || failures=$((failures + 1))
    fi
  done
  if [ "$map" = 0 ]; then
    say "$s: moltavex a"
    auto_process "$s" || failures=$((failures + 1))
  fi
  if [ "$peers" = 1 ]; then
    say "$s: peers"
    peer "$s" gzip -9 gz gzip -9 -c :: gzip -d -c || failures=$((failures + 1))
    peer "$s" bzip2 -9 bz2 bzip2 -9 -c :: bzip2 -d -c || failures=$((failures + 1))
    peer "$s" xz -6 xz xz -6 -T1 -c :: xz -d -c || failures=$((failures + 1))
    peer "$s" zstd -19 zst zstd -19 -T1 -q -c :: zstd -d -q -c || failures=$((failures + 1))
  fi
done

# --- table -------------------------------------------------------------------

md=$results/bench.md
{
  echo "# Moltavex benchmark"
  echo
  echo "- $(date -u '+%Y-%m-%d %H:%M UTC'), $(uname -sm), $(nproc) cores," \
       "$(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo 2>/dev/null)"
  echo "- current: the working tree, $current_rev"
  [ -n "$baseline" ] && echo "- baseline: $baseline ($base_label)$([ -z "$base_bench" ] && echo ', whole-process figures only')"
  echo "- load average (1, 5, 15 min) at start: $load_before; at end: $(cut -d' ' -f1-3 /proc/loadavg 2>/dev/null || echo '?')"
  if [ "$clock" = cpu ]; then
    echo "- speeds from CPU time (user + system) of the job or process, median of $runs runs after one warm-up" \
         "(wall-clock figures in the TSV); MB/s = 10^6 bytes of original data per second, both ways"
  elif [ "$clock" = best ]; then
    echo "- speeds from the fastest wall-clock sample of $runs runs after one warm-up (medians in the TSV);" \
         "MB/s = 10^6 bytes of original data per second, both ways"
  else
    echo "- speeds from the wall clock, median of $runs runs after one warm-up (CPU-time figures in the TSV);" \
         "MB/s = 10^6 bytes of original data per second, both ways"
  fi
  echo "- in-process: moltavex_bench, data and output in memory; program: the moltavex executable" \
       "(or the peer) as a whole process, files in the page cache, output to /tmp"
  echo "- peak MiB: in-process, the memory one compression job made resident (VmHWM - VmRSS in a fresh" \
       "child); program, the compressing process's ru_maxrss"
  echo "- c / bzip2: compression speed over that of bzip2 -9 on the same data, whole process against whole process"
  [ -n "$baseline" ] && echo "- cur/base: current speed over baseline speed (baseline rows; ! marks a size that differs)"
  echo "- xz and zstd run single-threaded (-T1)"
  echo
} >"$md"

awk -F'\t' -v base="$base_label" -v ci="$ci" -v di="$di" '
  function speed(v) { return v >= 100 ? sprintf("%.0f", v) : v >= 10 ? sprintf("%.1f", v) : sprintf("%.2f", v) }
  function mib(k) { return k < 0 || k == "" ? "" : sprintf("%.1f", k / 1024) }
  function describe(f) {
    if (f == "text.cat") return "**text.cat** (alice29 + asyoulik + lcet10 + plrabn12)"
    if (f == "corpus.cat") return "**corpus.cat** (all ten corpus files)"
    return "**" f "**"
  }
  NR == FNR {
    if (FNR == 1) next
    if ($3 == "bzip2" && $1 == "current") bz[$4] = $ci
    if ($1 == "current") { cc[$2 "|" $3 "|" $4 "|" $6 "|" $7] = $ci; cd[$2 "|" $3 "|" $4 "|" $6 "|" $7] = $di; cs[$2 "|" $3 "|" $4 "|" $6 "|" $7] = $8 }
    next
  }
  FNR == 1 {
    head = "| data | program | setting | how | size | bits/byte | compress MB/s | decompress MB/s | peak MiB | c / bzip2 |"
    rule = "|---|---|---|---|--:|--:|--:|--:|--:|--:|"
    if (base != "") { head = head " c cur/base | d cur/base |"; rule = rule "--:|--:|" }
    print head; print rule
    next
  }
  {
    if ($4 != last) {
      line = "| " describe($4) ", " $5 " bytes | | | | | | | | | |"
      if (base != "") line = line " | |"
      print line
      last = $4
    }
    key = $2 "|" $3 "|" $4 "|" $6 "|" $7
    prog = $3; setting = $7
    if ($3 == "moltavex") { setting = $6 ":" $7; if ($1 == "baseline") prog = "moltavex @" base }
    how = $2 == "inproc" ? "in-process" : "program"
    ratio = ""
    if ($2 != "inproc" && ($4 in bz) && bz[$4] > 0) ratio = sprintf("%.2f", $ci / bz[$4])
    line = "| | " prog " | " setting " | " how " | " $8 " | " sprintf("%.3f", $9) " | " speed($ci) " | " speed($di) " | " mib($16) " | " ratio " |"
    if (base != "") {
      rc = ""; rd = ""
      if ($1 == "baseline" && (key in cc)) {
        rc = sprintf("%.2f", $ci > 0 ? cc[key] / $ci : 0)
        rd = sprintf("%.2f", $di > 0 ? cd[key] / $di : 0)
        if (cs[key] != $8) rc = rc " !"
      }
      line = line " " rc " | " rd " |"
    }
    print line
  }
' "$tsv" "$tsv" >>"$md"

# The key comparison: whole-process compression speed of models 1..4 at
# order 16 against bzip2 -9 on the English texts.
summary=$(awk -F'\t' -v ci="$ci" -v clock="$clock" '
  NR == FNR { if ($1 == "current" && $3 == "bzip2" && $4 == "text.cat") bz = $ci; next }
  $1 == "current" && $2 == "process" && $4 == "text.cat" && $7 == 16 && $6 >= 1 && $6 <= 4 && bz > 0 {
    out = out sprintf("%s%d:16 %.2f", out == "" ? "" : ", ", $6, $ci / bz)
  }
  END { if (out != "") print "text.cat, whole-process compression speed / bzip2 -9 speed (" clock " time): " out }
' "$tsv" "$tsv")
if [ -n "$summary" ]; then
  printf '\n%s\n' "$summary" >>"$md"
fi

# --- chart -------------------------------------------------------------------

chart_for() { # set png
  local s=$1 png=$2 dat=$work/chart
  awk -F'\t' -v s="$s" -v d="$dat" -v ci="$ci" '
    NR > 1 && $4 == s {
      label = $3 == "moltavex" ? $6 ":" $7 : $3 " " $7
      f = d "." $1 "." $2
      printf "%s\t%s\t%s\n", $9, $ci, label >> f
    }' "$tsv"
  local plots=()
  [ -s "$dat.current.inproc" ] && plots+=("'$dat.current.inproc' using 1:2 with points pt 7 ps 1.3 lc rgb '#1f77b4' title 'moltavex in-process (model:order)', '' using 1:2:3 with labels offset char 0.6,0.6 left font ',9' textcolor rgb '#1f77b4' notitle")
  [ -s "$dat.current.process" ] && plots+=("'$dat.current.process' using 1:2 with points pt 9 ps 1.3 lc rgb '#2ca02c' title 'moltavex program (whole process)'")
  [ -s "$dat.baseline.inproc" ] && plots+=("'$dat.baseline.inproc' using 1:2 with points pt 6 ps 1.3 lc rgb '#7f7f7f' title 'baseline $base_label in-process'")
  [ -s "$dat.baseline.process" ] && plots+=("'$dat.baseline.process' using 1:2 with points pt 8 ps 1.3 lc rgb '#7f7f7f' title 'baseline $base_label program'")
  [ -s "$dat.current.peer" ] && plots+=("'$dat.current.peer' using 1:2 with points pt 5 ps 1.5 lc rgb '#d62728' title 'peers (whole process)', '' using 1:2:3 with labels offset char 0.6,-0.7 left font ',10' textcolor rgb '#d62728' notitle")
  [ ${#plots[@]} -gt 0 ] || return 0
  local joined
  joined=$(IFS=','; echo "${plots[*]}")
  local term="pngcairo size 1400,900 font ',11'"
  gnuplot -e "set terminal pngcairo" >/dev/null 2>&1 || term="png size 1400,900"
  gnuplot <<EOF
set terminal $term
set output '$png'
set title "Moltavex on $s: size against compression speed (up and left is better)"
set xlabel 'bits per byte (lower is better)'
set ylabel 'compression MB/s, $clock time (log scale)'
set logscale y
set grid xtics ytics mytics
set offsets 0.05, 0.35, 0, 0
set key top right inside box opaque samplen 1
set datafile separator "\t"
plot $joined
EOF
  rm -f "$dat".*
}
charts=()
if [ "$chart" = 1 ]; then
  for s in "${sets[@]}"; do
    case "$s" in
      text.cat|corpus.cat) chart_for "$s" "$results/bench-$s.png"; charts+=("$results/bench-$s.png") ;;
    esac
  done
  if [ ${#charts[@]} -eq 0 ]; then
    chart_for "${sets[0]}" "$results/bench-${sets[0]}.png"
    charts+=("$results/bench-${sets[0]}.png")
  fi
fi

# --- microbenchmarks ---------------------------------------------------------

if [ "$micro" = 1 ]; then
  say "microbenchmarks"
  MOLTAVEX_CORPUS=$corpus "$build_dir/bench/moltavex_microbench" --benchmark_min_time=0.3 \
    >"$results/microbench.txt" 2>&1 || say "microbenchmarks failed (see $results/microbench.txt)"
fi

cat "$md"
echo
echo "raw data: $tsv"
echo "table:    $md"
for c in "${charts[@]}"; do echo "chart:    $c"; done
[ "$micro" = 1 ] && echo "micro:    $results/microbench.txt"
if [ "$map" = 1 ] && [ ${#charts[@]} -gt 0 ]; then
  cp "${charts[0]}" "$root/docs/map.png"
  echo "map:      $root/docs/map.png"
fi
echo "time:     $(($(date +%s) - started)) s"
if [ "$failures" -gt 0 ]; then
  say "$failures measurement(s) failed; see the messages above"
  exit 1
fi
