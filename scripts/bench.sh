#!/usr/bin/env bash
# Sets up what is missing, builds, then runs the benchmarks in a Wine prefix of their own and prints
# one table: each figure of the system beside the platform's own floor, the goal, the ratio.
#   scripts/bench.sh [--quick]    (--quick: smaller counts, to check that everything runs)
set -euo pipefail
source "$(dirname "$0")/env.sh"

"$NIMBAL_ROOT/scripts/setup.sh"
echo "Building in $BUILD_DIR"
"$NIMBAL_ROOT/scripts/build.sh"
# The mock API runs on the port the build was configured with (bench/programs.json in the build).
export NIMBAL_CACHE
prefix="$BUILD_DIR/wine-bench"
status=0
python3 "$NIMBAL_ROOT/bench/bench.py" --build-dir "$BUILD_DIR" --prefix "$prefix" "$@" || status=$?
# Whatever the run left in its prefix ends here, whatever happened above.
"$NIMBAL_ROOT/scripts/wine-prefix.sh" stop "$prefix"
exit $status
