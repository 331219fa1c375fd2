#!/usr/bin/env bash
# Configures and builds everything (the deliverables and the tests) in $BUILD_DIR.
set -euo pipefail
source "$(dirname "$0")/env.sh"

cmake -S "$NIMBAL_ROOT" -B "$BUILD_DIR" -G "Unix Makefiles" \
  -DCMAKE_TOOLCHAIN_FILE="$NIMBAL_ROOT/cmake/toolchain-i686-mingw.cmake" \
  -DNIMBAL_OPENSSL_PREFIX="$OPENSSL_PREFIX" \
  -DNIMBAL_API_HOST="localhost:$NIMBAL_MOCK_API_PORT" -DNIMBAL_MOCK_API_PORT="$NIMBAL_MOCK_API_PORT" \
  -DNIMBAL_MOCK_API_CERT_DIR="$MOCK_API_CERT_DIR" "$@" >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)" -- --no-print-directory >/dev/null
