#!/usr/bin/env bash
# scripts/need-packages.sh PACKAGE...: installs with apt-get (as root, or
# through sudo) the Debian packages named that are not installed yet.
# Exits 0 when all are there afterwards, 1 (with a line on standard error)
# when some are missing and cannot be installed here. The scripts share the
# machine with other jobs: apt-get waits for the package lock.
set -euo pipefail

installed() {
  [[ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" == "install ok installed" ]]
}
command -v dpkg-query >/dev/null 2>&1 || {
  echo "need-packages.sh: no dpkg here to install $*" >&2
  exit 1
}
missing=()
for package in "$@"; do
  installed "$package" || missing+=("$package")
done
((${#missing[@]} == 0)) && exit 0

sudo_cmd=()
[[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
if ! command -v apt-get >/dev/null 2>&1 ||
   { [[ $(id -u) -ne 0 ]] && ! command -v sudo >/dev/null 2>&1; }; then
  echo "need-packages.sh: missing ${missing[*]}, and no apt-get with root to install them" >&2
  exit 1
fi
echo "need-packages.sh: installing ${missing[*]}"
lock=(-o DPkg::Lock::Timeout=600)
"${sudo_cmd[@]}" apt-get "${lock[@]}" update -qq
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get "${lock[@]}" install -y -qq \
  --no-install-recommends "${missing[@]}" >/dev/null
