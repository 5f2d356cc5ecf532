#!/usr/bin/env bash
# The automatic choice (moltavex a) measured against its targets: how close
# it comes to the best setting, and how long it takes beside `c` with the
# setting it chose.
#
#   bench/choice.sh [--runs N] [--large-runs N] [--settle SECONDS]
#                   [--memlimit BYTES] [--set-bytes N] [--set-curves FILE]
#                   [--no-choice] [--no-set] [--no-small] [--no-large]
#                   [--build-dir DIR]
#
#   1. Builds the working tree (Release, tests off) into build-bench/ (or
#      DIR): moltavex, moltavex_choice, moltavex_structured and
#      moltavex_proctime (Google Benchmark must be installed for the bench/
#      directory to build; bench/run.sh installs it).
#   2. Choice: moltavex_choice on the corpus, in-process: per file the best
#      of every model at orders 8-26 beside the chosen setting. Target: the
#      total within 1% of the total of the best, every file within 3%.
#   3. Choice on the structured set (unless --no-set): moltavex_structured
#      writes it into a temporary directory (numeric arrays of 16, 32 and
#      64 bits, float32 and float64 series, 16-bit stereo samples, 24-bit
#      pixels, UTF-16 text, a tar of some of these with corpus text; about
#      --set-bytes each, default 1 MiB), and moltavex_choice compares the
#      choice with the best of every model at orders 8-28, the choice's
#      memory limit admitting all of them. Same targets. The exhaustive
#      trial is long: about a minute of CPU per MiB and file, more on a
#      busy machine (35 minutes for the 1 MiB set on a shared 2-core VM).
#      With --set-curves FILE its sizes are kept in FILE, and a later run
#      with the same FILE (and --set-bytes) measures the choice against
#      them without the trial.
#   4. Time up to 1 MiB: for each corpus file and each file of the set, the
#      whole process `moltavex a FILE OUT` beside `moltavex cM O FILE OUT2`
#      with the setting it chose, runs alternating, after one untimed run of
#      each; the best of --runs (default 9) of each. Target: a at most ten
#      times c. Then the same on the set at 8 MiB a file (best of
#      --large-runs), each run after --settle seconds idle (default 5; see
#      below). Target: a at most 2.5 times c. Beside the times, the
#      largest peak resident memory of each: the trials' share of their
#      tables should stay near what the final pass makes resident.
#   5. Time at 64 MiB: the same on a tar of /usr/include (its first 40 MiB)
#      followed by one of /usr/share/doc (its first 24 MiB), written once to
#      $TMPDIR/moltavex-choice-64M.tar and reused; best of --large-runs
#      (default 3). Target: a at most 1.5 times c. MOLTAVEX_MEMLIMIT is set
#      to --memlimit (default 2G) for this step: without it the memory cap is
#      the machine's physical memory, which on a large machine admits tables
#      of 8 to 17 GiB and runs of minutes.
#   Every stream of `a` is also compared with that of `c` (exactness).
#
# Settling: a virtual machine that hands freed memory back to its host
# (free page reporting, a couple of seconds after it is freed) pays several
# times as much for its next first touch. Run back to back, `c` would get
# the memory `a` had just freed, still backed, while the final pass of `a`
# comes seconds after the `c` before it: at GiB of tables the difference
# is the whole measurement. So the large steps let every run start from
# the same settled state.
#
# Prints Markdown tables; exits 1 when a target is missed or a stream
# differs. Environment: MOLTAVEX_CORPUS (default ../shared/corpus beside
# the checkout), TMPDIR, JOBS.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"
need_xxhash
runs=9
large_runs=3
settle=5
memlimit=2G
build_dir=$root/build-bench
do_choice=1
do_set=1
set_bytes=$((1 << 20))
do_small=1
do_large=1
set_curves=
jobs=${JOBS:-2}
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift ;;
    --large-runs) large_runs=$2; shift ;;
    --settle) settle=$2; shift ;;
    --memlimit) memlimit=$2; shift ;;
    --build-dir) build_dir=$2; shift ;;
    --set-bytes) set_bytes=$2; shift ;;
    --set-curves) set_curves=$2; shift ;;
    --no-choice) do_choice=0 ;;
    --no-set) do_set=0 ;;
    --no-small) do_small=0 ;;
    --no-large) do_large=0 ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench/choice.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
  shift
done
say() { echo "bench/choice.sh: $*" >&2; }

mkdir -p "$build_dir"
log=$build_dir/choice-build.log
say "building into $build_dir"
cmake --preset bench -S "$root" -B "$build_dir" >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
cmake --build "$build_dir" -j"$jobs" --target moltavex_program moltavex_choice moltavex_structured \
  moltavex_proctime \
  >>"$log" 2>&1 || { tail -40 "$log" >&2; say "build failed (is Google Benchmark installed?)"; exit 1; }
program=$build_dir/moltavex
choice=$build_dir/bench/moltavex_choice
proctime=$build_dir/bench/moltavex_proctime
structured=$build_dir/bench/moltavex_structured

work=$(mktemp -d "${TMPDIR:-/tmp}/moltavex-choice.XXXXXX")
trap 'rm -rf "$work"' EXIT
failed=0

if [ "$do_choice" = 1 ]; then
  echo "## Choice against the best of models 0-5 at orders 8-26"
  echo
  "$choice" --corpus "$corpus" || failed=1
  echo
fi

# The structured set, generated for this run only.
set_dir=$work/set
mkdir -p "$set_dir"
MOLTAVEX_CORPUS=$corpus "$structured" "$set_dir" "$set_bytes"
if [ "$do_set" = 1 ]; then
  # Every model at order 28: 17 * 2^28 bytes of tables and 128 KiB.
  echo "## Choice on the structured set against the best of models 0-5 at orders 8-28"
  echo
  curves=()
  if [ -n "$set_curves" ] && [ -s "$set_curves" ]; then
    curves=(--best-from "$set_curves")
  elif [ -n "$set_curves" ]; then
    curves=(--curves "$set_curves")
  fi
  "$choice" --orders 8-28 --memlimit 4563533824 ${curves[@]+"${curves[@]}"} "$set_dir"/* || failed=1
  echo
fi

# One run of a command in a fresh process: "wall-seconds peak-KiB".
run_once() {
  "$proctime" --runs 1 --warmup 0 -- "$@" | cut -f2,4 --output-delimiter=' '
}

# One table row: `a` beside `c` with the setting it chose, alternating,
# each run after `pause` seconds idle: the best time of each, and the
# largest peak resident memory of each (the trials must not make much more
# of their tables resident than the final pass does).
time_file() {
  local file=$1 n=$2 limit=$3 pause=${4:-0} header model order ta= tc= pa=0 pc=0 t p
  "$program" a "$file" "$work/a.mx" 2>/dev/null
  header=$(od -An -tu1 -N1 "$work/a.mx" | tr -d ' ')
  model=$((header >> 5))
  order=$((header & 31))
  "$program" "c$model" "$order" "$file" "$work/c.mx" 2>/dev/null
  local same=yes
  cmp -s "$work/a.mx" "$work/c.mx" || { same=NO; failed=1; }
  for ((r = 0; r < n; ++r)); do
    sleep "$pause"
    read -r t p < <(run_once "$program" a "$file" "$work/a.mx")
    ta=$(awk -v a="$ta" -v b="$t" 'BEGIN { print (a == "" || b < a) ? b : a }')
    pa=$((p > pa ? p : pa))
    sleep "$pause"
    read -r t p < <(run_once "$program" "c$model" "$order" "$file" "$work/c.mx")
    tc=$(awk -v a="$tc" -v b="$t" 'BEGIN { print (a == "" || b < a) ? b : a }')
    pc=$((p > pc ? p : pc))
  done
  local ratio
  ratio=$(awk -v a="$ta" -v c="$tc" 'BEGIN { printf "%.2f", a / c }')
  awk -v r="$ratio" -v l="$limit" 'BEGIN { exit !(r > l) }' && failed=1
  printf '| %s | %s | %d:%d | %.3f | %.3f | %s | %d | %d | %s |\n' "$(basename "$file")" \
    "$(stat -c %s "$file")" "$model" "$order" "$tc" "$ta" "$ratio" $((pc >> 10)) $((pa >> 10)) \
    "$same"
}

table_head() {
  echo "| file | bytes | chosen | c s | a s | a / c | c peak MiB | a peak MiB | same stream |"
  echo "|---|---:|---|---:|---:|---:|---:|---:|---|"
}

if [ "$do_small" = 1 ]; then
  echo "## Time up to 1 MiB (best of $runs; target a / c at most 10)"
  echo
  table_head
  for name in alice29.txt asyoulik.txt fireworks.jpeg geo.protodata html kppkn.gtb lcet10.txt \
              paper-100k.pdf plrabn12.txt urls.10K; do
    [ -r "$corpus/$name" ] || { say "$corpus/$name missing"; exit 1; }
    time_file "$corpus/$name" "$runs" 10
  done
  if [ "$set_bytes" -le $((1 << 20)) ]; then
    for file in "$set_dir"/*; do time_file "$file" "$runs" 10; done
  fi
  echo
  echo "## Time at 8 MiB (best of $large_runs, ${settle} s settling; target a / c at most 2.5)"
  echo
  table_head
  mkdir -p "$work/8M"
  "$structured" "$work/8M" $((8 << 20))
  for file in "$work/8M"/*; do time_file "$file" "$large_runs" 2.5 "$settle"; done
  echo
fi

if [ "$do_large" = 1 ]; then
  large=${TMPDIR:-/tmp}/moltavex-choice-64M.tar
  if [ ! -s "$large" ]; then
    say "writing $large"
    { tar --sort=name -cf - -C / usr/include 2>/dev/null | head -c 40M || true
      tar --sort=name -cf - -C / usr/share/doc 2>/dev/null | head -c 24M || true
    } >"$large.part"
    mv "$large.part" "$large"
  fi
  echo "## Time at 64 MiB (best of $large_runs, ${settle} s settling, MOLTAVEX_MEMLIMIT=$memlimit; target a / c at most 1.5)"
  echo
  table_head
  MOLTAVEX_MEMLIMIT=$memlimit time_file "$large" "$large_runs" 1.5 "$settle"
  echo
fi
exit "$failed"
