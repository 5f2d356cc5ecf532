#!/usr/bin/env bash
# Checks that every C++ file in the repository is formatted with its
# .clang-format; lists the files that are not and exits 1.
#   scripts/check-format.sh [--fix]     (--fix reformats them in place)
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || { echo "check-format: clang-format not found" >&2; exit 1; }
mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.hpp' '*.c')
if [ "${1:-}" = --fix ]; then
  clang-format -i --style=file "${files[@]}"
  exit 0
fi
bad=()
for f in "${files[@]}"; do
  clang-format --style=file --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
  echo "check-format: not formatted (scripts/check-format.sh --fix):" >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files formatted"
