# Common locations, sourced by the other scripts.
NIMBAL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
NIMBAL_CACHE="${NIMBAL_CACHE:-/var/cache/nimbal}"
OPENSSL_PREFIX="$NIMBAL_CACHE/openssl-i686-mingw"
BUILD_DIR="${BUILD_DIR:-$NIMBAL_ROOT/build}"
export WINEDEBUG=-all
# No Mono or Gecko install prompts when a prefix is created.
export WINEDLLOVERRIDES="mscoree,mshtml="
