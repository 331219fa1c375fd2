# Common locations, sourced by the other scripts.
NIMBAL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
NIMBAL_CACHE="${NIMBAL_CACHE:-/var/cache/nimbal}"
OPENSSL_PREFIX="$NIMBAL_CACHE/openssl-i686-mingw"
BUILD_DIR="${BUILD_DIR:-$NIMBAL_ROOT/build}"
# The mock vendor API of the tests: its loopback port (the build's API host is localhost at this
# port; give each worktree that tests at the same time its own) and its certificate.
NIMBAL_MOCK_API_PORT="${NIMBAL_MOCK_API_PORT:-18443}"
MOCK_API_CERT_DIR="$NIMBAL_CACHE/mock-api"
export WINEDEBUG=-all
# No Mono or Gecko install prompts when a prefix is created.
export WINEDLLOVERRIDES="mscoree,mshtml="
