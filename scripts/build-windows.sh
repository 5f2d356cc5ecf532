#!/usr/bin/env bash
# Cross-builds the Windows program for x86_64 and i686 with MinGW-w64.
#
#   scripts/build-windows.sh            (from the repository root)
#
# Output directories: build-win64/ and build-win32/, or the directories named
# by MX_WIN64_DIR and MX_WIN32_DIR. MX_BUILD_TYPE picks the CMake build type
# (Release by default). The test suite is not built: it runs on the host.
# Missing compilers are installed with apt-get (Debian), which needs root.
set -euo pipefail

repo_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo_root"
source scripts/need-xxhash.sh

win64_dir="${MX_WIN64_DIR:-build-win64}"
win32_dir="${MX_WIN32_DIR:-build-win32}"
build_type="${MX_BUILD_TYPE:-Release}"

need_packages=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 ||
  need_packages+=(g++-mingw-w64-x86-64-posix)
command -v i686-w64-mingw32-g++-posix >/dev/null 2>&1 ||
  need_packages+=(g++-mingw-w64-i686-posix)
command -v cmake >/dev/null 2>&1 || need_packages+=(cmake)

if ((${#need_packages[@]} > 0)); then
  if ! command -v apt-get >/dev/null 2>&1; then
    echo "build-windows: missing ${need_packages[*]} and no apt-get to install them" >&2
    exit 1
  fi
  sudo_cmd=()
  if [[ $(id -u) -ne 0 ]]; then
    if command -v sudo >/dev/null 2>&1; then
      sudo_cmd=(sudo)
    else
      echo "build-windows: installing ${need_packages[*]} needs root" >&2
      exit 1
    fi
  fi
  echo "build-windows: installing ${need_packages[*]}"
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends \
    "${need_packages[@]}"
fi

jobs="$(nproc 2>/dev/null || echo 2)"

build_one() {
  local arch="$1" dir="$2"
  echo "build-windows: $arch -> $dir"
  cmake --preset "$arch" -B "$dir" -DCMAKE_BUILD_TYPE="$build_type"
  cmake --build "$dir" --parallel "$jobs"
}

build_one win64 "$win64_dir"
build_one win32 "$win32_dir"

echo "build-windows: done:"
ls -l "$win64_dir/moltavex.exe" "$win32_dir/moltavex.exe"
