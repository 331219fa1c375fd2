#!/usr/bin/env bash
# Runs one test program under Wine for ctest, its output going through a file. A Wine helper
# process that outlives the program (a console host left behind by a console child, say) then
# holds that file rather than ctest's pipe, on which ctest would otherwise wait until its time-out.
#   wine-test.sh PROGRAM [ARGUMENT...]
set -u
output=$(mktemp)
trap 'rm -f "$output"' EXIT
wine "$@" >"$output" 2>&1
status=$?
cat "$output"
exit $status
