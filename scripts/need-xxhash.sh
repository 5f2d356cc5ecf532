# Sourced by the scripts that build the library: the integrity record's
# XXH64 comes from xxHash's header (Debian libxxhash-dev), installed with
# apt-get when it is missing.
[[ -f /usr/include/xxhash.h ]] || "$(dirname "${BASH_SOURCE[0]}")/need-packages.sh" libxxhash-dev
