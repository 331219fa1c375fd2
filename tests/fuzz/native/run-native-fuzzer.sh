#!/usr/bin/env bash
# Runs a libFuzzer program for a fixed number of inputs from a fixed seed, so that a run can be
# repeated input for input. Address layout randomisation is switched off for it: libFuzzer's
# comparison hints depend on addresses, and would otherwise make two runs of one seed differ.
#   run-native-fuzzer.sh PROGRAM DEFAULT_RUNS DEFAULT_SEED ARTIFACT_DIR
# NIMBAL_FUZZ_SEED (not 0: libFuzzer takes 0 as "choose one") and NIMBAL_FUZZ_COUNT override.
set -euo pipefail

program=${1:?program}
runs=${NIMBAL_FUZZ_COUNT:-${2:?default runs}}
seed=${NIMBAL_FUZZ_SEED:-${3:?default seed}}
artifacts=${4:?artifact folder}

if [ "$seed" = 0 ]; then
  echo "NIMBAL_FUZZ_SEED=0 would let libFuzzer choose a seed: give another" >&2
  exit 2
fi
name=$(basename "$program")
echo "fuzz $name: seed $seed, $runs inputs (repeat with NIMBAL_FUZZ_SEED=$seed NIMBAL_FUZZ_COUNT=$runs)"

rm -rf "$artifacts"
mkdir -p "$artifacts"
status=0
setarch "$(uname -m)" -R "$program" -seed="$seed" -runs="$runs" -max_len=4096 -print_final_stats=1 \
  -artifact_prefix="$artifacts/" 2>"$artifacts/log.txt" || status=$?
# libFuzzer reports on standard error: its summary always, the whole report when an input failed.
if [ "$status" -ne 0 ]; then
  cat "$artifacts/log.txt"
  for input in "$artifacts"/crash-* "$artifacts"/leak-* "$artifacts"/timeout-* "$artifacts"/oom-*; do
    [ -f "$input" ] || continue
    echo "failing input $input:"
    od -An -tx1 -v "$input"
  done
  exit "$status"
fi
grep -E '^(#[0-9]+\s+DONE|Done [0-9]+ runs|stat::number_of_executed_units)' "$artifacts/log.txt" || true
