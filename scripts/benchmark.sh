#!/usr/bin/env bash
# Measures the reader under Wine against a simulated scanner and prints the
# figures: what deciding a code's encoding costs, latency, typing throughput,
# idle CPU, recovery of a lost port; and the same beside it for a minimal
# event-driven wedge (the floor) and the old 100 ms polling reader (the
# baseline); 1,500-character codes of digits, of capitals and of both, into
# the reader and its floor in turns; and what telling the program in front
# costs a code. Takes about seven minutes; with "latency" as its argument,
# the encoding's cost, the latency and the long codes of the reader and its
# floor alone in about two; with "lookup", the program in front alone;
# with "rules", that and what a code's rules cost; with "monitor", that and
# what recording a code for the scanner monitor costs the typing thread;
# with "delivery", long codes pasted, as Unicode and as keys against the
# floor, and what the questions asked before each code cost; with
# "scanners", two scanners' latency, one behind the other's long code, and
# their idle cost.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/build.sh win >/dev/null
run_dir=$PWD/build/win/benchmark-run
trap 'tests/harness/wine_session.sh stop "$run_dir"' EXIT
tests/harness/wine_session.sh start "$run_dir" >/dev/null
WEDGE_RUN_DIR=$run_dir tests/harness/wine-run build/win/tests/benchmark/reader_benchmark.exe "$@"
