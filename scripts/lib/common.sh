# shellcheck shell=bash
# Sourced by every script of scripts/ and bench/: the facts they share,
# each written here once.
#
#   root     the repository's top directory (absolute)
#   corpus   the benchmark corpus: $MOLTAVEX_CORPUS, else ../shared/corpus
#            beside the checkout
#   models   the model numbers, 0 .. MVX_MODEL_COUNT - 1 of the public header
#   need_packages PACKAGE...   installs with apt-get (as root, or through
#            sudo) the Debian packages named that are not installed yet;
#            returns 1, with a line on standard error, when some are missing
#            and cannot be installed here. apt-get waits for the package
#            lock: the machine is shared with other jobs.
#   need_xxhash   the integrity record's XXH64 comes from xxHash's header
#            (Debian libxxhash-dev): every build of the library needs it.
#   installed PACKAGE   true when that Debian package is installed.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
corpus=${MOLTAVEX_CORPUS:-$(dirname "$root")/shared/corpus}
read -r -a models <<<"$(seq -s ' ' 0 $(($(sed -n 's/^#define MVX_MODEL_COUNT \([0-9][0-9]*\)$/\1/p' \
  "$root/include/moltavex/moltavex.h") - 1)))"
((${#models[@]} > 0)) || { echo "common.sh: no MVX_MODEL_COUNT in moltavex.h" >&2; exit 1; }

installed() {
  command -v dpkg-query >/dev/null 2>&1 &&
    [[ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" == "install ok installed" ]]
}

need_packages() {
  local missing=() package
  for package in "$@"; do
    installed "$package" || missing+=("$package")
  done
  ((${#missing[@]} == 0)) && return 0
  local sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  if ! command -v apt-get >/dev/null 2>&1 ||
     { [[ $(id -u) -ne 0 ]] && ! command -v sudo >/dev/null 2>&1; }; then
    echo "need_packages: missing ${missing[*]}, and no apt-get with root to install them" >&2
    return 1
  fi
  echo "need_packages: installing ${missing[*]}" >&2
  local lock=(-o DPkg::Lock::Timeout=600)
  "${sudo_cmd[@]}" apt-get "${lock[@]}" update -qq &&
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get "${lock[@]}" install -y -qq \
      --no-install-recommends "${missing[@]}" >/dev/null
}

need_xxhash() {
  [[ -f /usr/include/xxhash.h ]] || need_packages libxxhash-dev
}
