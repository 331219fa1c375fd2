#!/usr/bin/env bash
# Sets up what is missing, builds everything and runs every test under Wine.
set -euo pipefail
source "$(dirname "$0")/env.sh"

"$NIMBAL_ROOT/scripts/setup.sh"
"$NIMBAL_ROOT/scripts/build.sh"
cd "$BUILD_DIR"
status=0
ctest -j"$(nproc)" --output-on-failure --timeout 900 "$@" || status=$?
# Whatever a failed test left running in a prefix ends here too (the end-to-end roads have
# prefixes of their own), and so do the mock API and the roads' OpenVPN peer.
for prefix in "$BUILD_DIR"/wine-*/; do
  "$NIMBAL_ROOT/scripts/wine-prefix.sh" stop "${prefix%/}"
done
pkill -f "openvpn --cd $BUILD_DIR/main-job/peer" 2>/dev/null || true
python3 "$NIMBAL_ROOT/tests/tools/mockapi/mockapi.py" stop --state-dir "$BUILD_DIR/mock-api"
exit $status
