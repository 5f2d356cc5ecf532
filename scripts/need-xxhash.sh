# Sourced by the scripts that build the library: the integrity record's
# XXH64 comes from xxHash's header (Debian libxxhash-dev), which is
# installed with apt-get when it is missing.
if [[ ! -f /usr/include/xxhash.h ]]; then
  need_xxhash_sudo=()
  [[ $(id -u) -eq 0 ]] || need_xxhash_sudo=(sudo)
  echo "installing libxxhash-dev (xxhash.h)"
  "${need_xxhash_sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get \
    -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends libxxhash-dev >/dev/null ||
    { echo "libxxhash-dev is needed (xxhash.h) and could not be installed" >&2; exit 1; }
fi
