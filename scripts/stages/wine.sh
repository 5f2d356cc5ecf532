#!/usr/bin/env bash
# Tests the Windows program under wine, headless.
#
#   scripts/check.sh wine [BUILD_DIR]       (default: build-wine/)
#
# 1. Installs what is missing with apt-get (Debian bookworm): the MinGW-w64
#    cross compilers, wine with its 64-bit loader, cmake and a host C++
#    compiler. Needs root (or sudo) only when something is missing.
# 2. Cross-builds moltavex.exe for x86_64 and i686 (the presets win64 and
#    win32, into BUILD_DIR/win64 and BUILD_DIR/win32, from scratch; no test
#    suite: it runs on the host) and fails if either build printed a
#    compiler warning.
# 3. Builds the test driver tests/windows/cli_driver.cpp and runs it under
#    wine against the x86_64 program: exact raw command lines, console bytes,
#    exit statuses and files.
# 4. Builds the Linux program (BUILD_DIR/linux) and checks that both write
#    the same bytes: a few corpus files (when present) and generated data,
#    every model at two orders; each side also decodes the
#    other's stream back to the original.
#
# With MX_WINE_I686=1 the i686 program is run too (the driver and the
# comparison), which needs 32-bit wine: i386 is added to dpkg's
# architectures and wine32:i386 installed if missing.
#
# Wine runs with a private prefix in BUILD_DIR/wineprefix, no display and no
# debug output. The script ends with "wine: N passed, M failed" and
# exits non-zero when anything failed.
set -euo pipefail

source "$(dirname "$0")/../lib/common.sh"
# A relative BUILD_DIR is taken from the current directory; the default
# lies in the repository.
build_dir="${1:-$root/build-wine}"
mkdir -p "$build_dir"
build_dir="$(cd "$build_dir" && pwd)"
cd "$root"
need_xxhash
logs="$build_dir/logs"
mkdir -p "$logs"
run_i686="${MX_WINE_I686:-0}"

start_time=$SECONDS
stage_time=$SECONDS
stage() {
  echo "wine: [$((SECONDS - start_time))s] $*"
  stage_time=$SECONDS
}
stage_done() { echo "wine:   done in $((SECONDS - stage_time))s"; }

passed=0
failed=0
pass() { passed=$((passed + 1)); }
fail() {
  failed=$((failed + 1))
  echo "wine: FAIL $*"
}

# ---------------------------------------------------------------------------
# Packages
# ---------------------------------------------------------------------------

missing=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 ||
  missing+=(g++-mingw-w64-x86-64-posix)
command -v i686-w64-mingw32-g++-posix >/dev/null 2>&1 ||
  missing+=(g++-mingw-w64-i686-posix)
# In bookworm "wine" holds the wine, wineboot and wineserver commands and
# "wine64" the loader that runs 64-bit programs.
if ! command -v wine >/dev/null 2>&1 || ! command -v wineboot >/dev/null 2>&1 ||
   ! command -v wineserver >/dev/null 2>&1 || ! installed wine64; then
  missing+=(wine wine64)
fi
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v make >/dev/null 2>&1 || missing+=(make)
command -v g++ >/dev/null 2>&1 || missing+=(g++)
command -v perl >/dev/null 2>&1 || missing+=(perl-base)
command -v cmp >/dev/null 2>&1 || missing+=(diffutils)
add_i386=0
if [[ "$run_i686" == 1 ]] && ! installed wine32:i386; then
  missing+=(wine32:i386)
  dpkg --print-foreign-architectures 2>/dev/null | grep -qx i386 || add_i386=1
fi

if ((${#missing[@]} > 0)); then
  stage "installing ${missing[*]}"
  if ((add_i386)); then
    sudo_cmd=()
    [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" dpkg --add-architecture i386
  fi
  need_packages "${missing[@]}"
  stage_done
fi

# ---------------------------------------------------------------------------
# Builds
# ---------------------------------------------------------------------------

stage "building moltavex.exe for x86_64 and i686 (logs: $logs/build-win64.log, build-win32.log)"
# From scratch, so that every source file is compiled and its warnings seen.
for arch in win64 win32; do
  rm -rf "${build_dir:?}/$arch"
  if ! { cmake --preset "$arch" -B "$build_dir/$arch" -DCMAKE_BUILD_TYPE=Release &&
         cmake --build "$build_dir/$arch" --parallel "$(nproc 2>/dev/null || echo 2)"; } \
       >"$logs/build-$arch.log" 2>&1; then
    tail -30 "$logs/build-$arch.log" >&2
    echo "wine: the $arch build failed" >&2
    exit 1
  fi
done
for arch in win64 win32; do
  if grep -q "warning:" "$logs/build-$arch.log"; then
    fail "compiler warnings in the $arch build:"
    grep "warning:" "$logs/build-$arch.log" | sed 's/^/    /'
  else
    pass
    echo "wine: $arch build has no compiler warnings"
  fi
done
stage_done

stage "building the test driver and the Linux program"
if ! x86_64-w64-mingw32-g++-posix -std=c++17 -O2 -Wall -Wextra -static -I include \
     -o "$build_dir/cli_driver.exe" tests/windows/cli_driver.cpp >"$logs/driver-build.log" 2>&1; then
  cat "$logs/driver-build.log" >&2
  exit 1
fi
if grep -q "warning:" "$logs/driver-build.log"; then
  fail "compiler warnings in the test driver:"
  sed 's/^/    /' "$logs/driver-build.log"
else
  pass
fi
if ! { cmake --preset demo -B "$build_dir/linux" &&
       cmake --build "$build_dir/linux" --parallel "$(nproc 2>/dev/null || echo 2)"; } \
     >"$logs/build-linux.log" 2>&1; then
  tail -30 "$logs/build-linux.log" >&2
  echo "wine: the Linux build failed" >&2
  exit 1
fi
linux_exe="$build_dir/linux/moltavex"
stage_done

# ---------------------------------------------------------------------------
# Wine
# ---------------------------------------------------------------------------

stage "preparing the wine prefix"
export WINEPREFIX="$build_dir/wineprefix"
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono or Gecko: nothing here needs them, and wine would try to fetch them.
export WINEDLLOVERRIDES="mscoree,mshtml="
export HOME="${HOME:-$build_dir}"
unset DISPLAY WAYLAND_DISPLAY
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  wineboot -i </dev/null >"$logs/wineboot.log" 2>&1 || {
    cat "$logs/wineboot.log" >&2
    echo "wine: wineboot failed" >&2
    exit 1
  }
fi
# One wine server for all the runs below, stopped when the script ends.
wineserver -w
wineserver -p
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
stage_done

# True when wine really runs `exe` (a wine without the loader for the
# program's architecture may exit 0 having run nothing).
wine_runs() {
  local out
  # A command line no interface takes prints the usage text.
  out="$(cd "$build_dir" && wine "$1" x </dev/null 2>/dev/null)" || true
  [[ "$out" == *"usage: Moltavex c [order]"* ]]
}

# Runs the driver against one program; adds its counts to the totals.
run_driver() {
  local arch="$1" exe_rel="$2"
  local log="$logs/driver-$arch.log" status=0
  stage "test driver against the $arch program (log: $log)"
  (cd "$build_dir" && wine cli_driver.exe "$exe_rel" "driver-scratch-$arch") \
    </dev/null >"$log" 2>&1 || status=$?
  grep -E '^(FAIL|       )' "$log" || true
  local summary
  summary="$(tail -n 1 "$log")"
  echo "wine: driver ($arch): $summary"
  if [[ "$summary" =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
    passed=$((passed + BASH_REMATCH[1]))
    failed=$((failed + BASH_REMATCH[2]))
    if ((status != 0 && BASH_REMATCH[2] == 0)); then fail "driver ($arch) exited with $status"; fi
    if ((BASH_REMATCH[1] == 0)); then fail "driver ($arch) ran no case"; fi
  else
    fail "driver ($arch) did not finish (exit status $status)"
  fi
  stage_done
}

# ---------------------------------------------------------------------------
# Linux and Windows streams
# ---------------------------------------------------------------------------

# shellcheck source=scripts/lib/stream-data.sh
source "$root/scripts/lib/stream-data.sh"

compare_streams() {
  local arch="$1" exe="$2"
  local dir="$build_dir/compare-$arch"
  stage "Linux and $arch streams compared (directory: $dir)"
  rm -rf "$dir"
  mkdir -p "$dir"
  local files=()
  for f in alice29.txt kppkn.gtb fireworks.jpeg geo.protodata; do
    if [[ -f "$corpus/$f" ]]; then
      cp "$corpus/$f" "$dir/$f"
      chmod u+w "$dir/$f"
      files+=("$f")
    fi
  done
  ((${#files[@]} > 0)) || echo "wine:   corpus not found at $corpus: generated data only"
  make_stream_data "$dir"
  files+=(runs.bin text-crlf.txt noise.bin empty.bin one-f0.bin)

  local checked=0 bad=0
  for f in "${files[@]}"; do
    for model in "${models[@]}"; do
      for order in 5 22; do
        local base="$f.m$model.o$order"
        local what="$f model $model order $order ($arch)"
        if ! (cd "$dir" && "$linux_exe" "c$model" "$order" "$f" "$base.linux") \
             </dev/null >/dev/null 2>"$dir/$base.linux.err"; then
          fail "$what: Linux compression failed: $(tr -d '\r' <"$dir/$base.linux.err" | tr '\n' ' ')"
          bad=$((bad + 1)); continue
        fi
        # The program writes its banner before anything else: a run that
        # failed with nothing on standard error never started (wine itself
        # failed, which happens now and then on a loaded machine), and is
        # tried once more.
        win_compress() {
          (cd "$dir" && wine "$exe" "c$model" "$order" "$f" "$base.win") \
            </dev/null >/dev/null 2>"$dir/$base.win.err"
        }
        if ! win_compress && { [ -s "$dir/$base.win.err" ] || ! win_compress; }; then
          fail "$what: Windows compression failed: $(tr -d '\r' <"$dir/$base.win.err" | tr '\n' ' ')"
          bad=$((bad + 1)); continue
        fi
        if ! cmp -s "$dir/$base.linux" "$dir/$base.win"; then
          fail "$what: the streams differ ($(cmp "$dir/$base.linux" "$dir/$base.win" 2>&1 | head -1))"
          bad=$((bad + 1)); continue
        fi
        # Each side decodes the other's stream.
        if ! (cd "$dir" && wine "$exe" d "$base.linux" "$base.linux.windec") \
             </dev/null >/dev/null 2>&1 || ! cmp -s "$dir/$f" "$dir/$base.linux.windec"; then
          fail "$what: Windows does not restore the Linux stream"
          bad=$((bad + 1)); continue
        fi
        if ! (cd "$dir" && "$linux_exe" d "$base.win" "$base.win.linuxdec") \
             </dev/null >/dev/null 2>&1 || ! cmp -s "$dir/$f" "$dir/$base.win.linuxdec"; then
          fail "$what: Linux does not restore the Windows stream"
          bad=$((bad + 1)); continue
        fi
        pass
        checked=$((checked + 1))
        rm -f "$dir/$base".*
      done
    done
  done
  echo "wine: $checked of $((checked + bad)) file/model/order combinations identical and restored ($arch)"
  stage_done
}

if wine_runs "$build_dir/win64/moltavex.exe"; then
  pass
else
  fail "wine does not run the x86_64 program (is wine64 installed?)"
fi
run_driver x86_64 'win64\moltavex.exe'
compare_streams x86_64 "$build_dir/win64/moltavex.exe"

if [[ "$run_i686" == 1 ]]; then
  if wine_runs "$build_dir/win32/moltavex.exe"; then
    pass
    run_driver i686 'win32\moltavex.exe'
    compare_streams i686 "$build_dir/win32/moltavex.exe"
  else
    fail "wine does not run the i686 program (is wine32:i386 installed?)"
  fi
else
  echo "wine: the i686 program was built but not run (MX_WINE_I686=1 runs it)"
fi

echo "wine: total time $((SECONDS - start_time))s"
echo "wine: $passed passed, $failed failed"
((failed == 0))
