#!/usr/bin/env bash
# Makes this machine ready to build and test: packages, OpenSSL for mingw, the mock API's trusted
# certificate, the tests' Wine prefix.
# Safe to run again: it only does what is left to do.
set -euo pipefail
source "$(dirname "$0")/env.sh"

"$NIMBAL_ROOT/scripts/install-packages.sh"
"$NIMBAL_ROOT/scripts/build-openssl.sh"
"$NIMBAL_ROOT/tests/tools/mockapi/make-certificate.sh" "$MOCK_API_CERT_DIR"
if [ ! -f "$BUILD_DIR/wine-prefix/system.reg" ]; then
  echo "Creating the Wine prefix for the tests in $BUILD_DIR/wine-prefix"
  "$NIMBAL_ROOT/scripts/wine-prefix.sh" start "$BUILD_DIR/wine-prefix"
  "$NIMBAL_ROOT/scripts/wine-prefix.sh" stop "$BUILD_DIR/wine-prefix"
fi
