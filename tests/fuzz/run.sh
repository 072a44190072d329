#!/usr/bin/env bash
# Runs each fuzz target for a while (30 s unless given) from the corpus kept
# in the repository. New inputs go to the build tree, never to the corpus;
# an input that breaks an invariant is saved there and named in the output.
set -euo pipefail
build=${1:?build directory of scripts/build.sh fuzz}
seconds=${2:-30}
corpus=$(cd "$(dirname "$0")" && pwd)/corpus

status=0
for target in code_framer code_rules keystroke_plan; do
  work=$build/fuzz-run/$target
  mkdir -p "$work/new"
  echo "-- $target: ${seconds} s"
  if ! "$build/tests/fuzz/${target}_fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$work/" "$work/new" "$corpus/$target" >"$work/log" 2>&1; then
    tail -n 30 "$work/log"
    status=1
  else
    grep -E '^stat::number_of_executed_units' "$work/log" || true
  fi
done
exit $status
