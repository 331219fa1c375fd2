#!/usr/bin/env bash
# The main job: build, install the service into a Wine prefix of its own, show it running, stop it.
set -euo pipefail
source "$(dirname "$0")/env.sh"

"$NIMBAL_ROOT/scripts/setup.sh"
"$NIMBAL_ROOT/scripts/build.sh"

export WINEPREFIX="$BUILD_DIR/wine-run"
"$NIMBAL_ROOT/scripts/wine-prefix.sh" start "$WINEPREFIX"
trap '"$NIMBAL_ROOT/scripts/wine-prefix.sh" stop "$WINEPREFIX"' EXIT

service_exe="$BUILD_DIR/src/controlService/NimbalService.exe"
echo "== Installing the service into $WINEPREFIX"
wine "$service_exe" -install | tr -d '\r'
echo "== State as the service control manager reports it"
wine sc query Nimbal | tr -d '\r' | grep -E 'SERVICE_NAME|STATE' || true
echo "== Stopping and removing it"
wine "$service_exe" -remove | tr -d '\r'
