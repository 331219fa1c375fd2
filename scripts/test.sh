#!/usr/bin/env bash
# Sets up what is missing, builds everything and runs every test under Wine.
set -euo pipefail
source "$(dirname "$0")/env.sh"

"$NIMBAL_ROOT/scripts/setup.sh"
"$NIMBAL_ROOT/scripts/build.sh"
cd "$BUILD_DIR"
status=0
ctest -j"$(nproc)" --output-on-failure --timeout 900 "$@" || status=$?
# Whatever a failed test left running in the prefix ends here too, and so does the mock API.
"$NIMBAL_ROOT/scripts/wine-prefix.sh" stop "$BUILD_DIR/wine-prefix"
python3 "$NIMBAL_ROOT/tests/tools/mockapi/mockapi.py" stop --state-dir "$BUILD_DIR/mock-api"
exit $status
