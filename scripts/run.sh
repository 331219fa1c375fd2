#!/usr/bin/env bash
# The main job: set up what is missing, build, then run the service against the embedded default
# environment on loopback (mock vendor API, OpenVPN peer) in a Wine prefix of its own, connected
# through its local HTTP control server, until Ctrl-C.
#   scripts/run.sh          run until Ctrl-C (or scripts/run.sh stop from another shell)
#   scripts/run.sh --once   end as soon as the VPN is CONNECTED
#   scripts/run.sh stop     end a running main job
set -euo pipefail
source "$(dirname "$0")/env.sh"

if [ "${1:-}" = stop ]; then
  exec python3 "$NIMBAL_ROOT/scripts/mainjob/main_job.py" stop --build-dir "$BUILD_DIR"
fi

"$NIMBAL_ROOT/scripts/setup.sh"
echo "Building in $BUILD_DIR"
"$NIMBAL_ROOT/scripts/build.sh"
export NIMBAL_MOCK_API_PORT NIMBAL_CACHE
exec python3 "$NIMBAL_ROOT/scripts/mainjob/main_job.py" run --build-dir "$BUILD_DIR" "$@"
