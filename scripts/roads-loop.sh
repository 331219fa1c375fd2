#!/usr/bin/env bash
# The main job (scripts/run.sh --once) and the end-to-end roads (ctest -R '^e2e\.'), round after
# round (20 unless given), to find out whether the control server ever stops answering. The
# control client makes each request on a new connection and has no second chances
# (NIMBAL_CONTROL_STRICT=1): a request the server leaves unanswered fails its run instead of being
# sent again.
#
# Prints one line per run, and at the end the count of runs, of stalls (a run that timed out, or
# failed on a request or connection left unanswered) and of other failures. Each run's output is
# kept in $BUILD_DIR/roads-loop/. Not part of the tests: it takes an hour or more.
#   scripts/roads-loop.sh [ROUNDS]
set -uo pipefail
source "$(dirname "$0")/env.sh"

rounds=${1:-20}
logs="$BUILD_DIR/roads-loop"
mkdir -p "$logs"
export NIMBAL_CONTROL_STRICT=1
# What a run prints when the server left it waiting: the client's own texts and ctest's.
stall_pattern='timed out|left unanswered|closed unanswered|not within|\*\*\*Timeout'

runs=0
stalls=0
failures=0

# record NAME STATUS LOG: counts one run and prints its line.
record() {
  local name=$1 status=$2 log=$3 outcome
  runs=$((runs + 1))
  if [ "$status" -eq 0 ]; then
    outcome=passed
  elif [ "$status" -eq 124 ] || grep -Eq "$stall_pattern" "$log"; then
    outcome=STALLED
    stalls=$((stalls + 1))
  else
    outcome=FAILED
    failures=$((failures + 1))
  fi
  printf '%s  %-24s %s  (%s)\n' "$(date +%H:%M:%S)" "$name" "$outcome" "$log"
}

for round in $(seq 1 "$rounds"); do
  echo "round $round of $rounds"
  log="$logs/round$round-main-job.log"
  timeout 600 "$NIMBAL_ROOT/scripts/run.sh" --once >"$log" 2>&1
  record "main job" $? "$log"

  log="$logs/round$round-roads.log"
  (cd "$BUILD_DIR" && timeout 1800 ctest -R '^e2e\.' --output-on-failure --timeout 600) >"$log" 2>&1
  status=$?
  # One line per road, from ctest's summary of each test.
  while read -r road result; do
    road_log="$logs/round$round-$road.log"
    # The road's own part of the output: from its start line to the next test's.
    awk -v road="$road" '$0 ~ "Start +[0-9]+: " road "$" {on=1; next} on && /Start +[0-9]+: / {on=0} on' \
      "$log" >"$road_log"
    [ "$result" = Passed ] && road_status=0 || road_status=1
    [ "$result" = Timeout ] && road_status=124
    record "$road" $road_status "$road_log"
  done < <(sed -nE 's/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: (e2e\.[^ ]+) \.+ *(\*\*\*)?(Passed|Failed|Timeout|Not Run).*/\1 \3/p' "$log")
  if [ $status -ne 0 ] && ! grep -Eq 'Test +#[0-9]+: e2e\.' "$log"; then
    record "roads (ctest)" $status "$log"
  fi
  # Whatever a failed run left running ends here, as scripts/test.sh does.
  for prefix in "$BUILD_DIR"/wine-*/; do
    "$NIMBAL_ROOT/scripts/wine-prefix.sh" stop "${prefix%/}"
  done
done

echo "runs: $runs  stalls: $stalls  other failures: $failures"
[ $stalls -eq 0 ] && [ $failures -eq 0 ]
