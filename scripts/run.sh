#!/usr/bin/env bash
# Builds the Windows program and runs it under Wine, with a simulated
# scanner on a pseudo-terminal behind COM1 (the default port).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/build.sh win >/dev/null
run_dir=$PWD/build/win/run-session
trap 'tests/harness/wine_session.sh stop "$run_dir"' EXIT
tests/harness/wine_session.sh start "$run_dir"
python3 tests/harness/scanner_sim.py --request "$run_dir/sim.port" OPEN COM1 >/dev/null
WEDGE_RUN_DIR=$run_dir tests/harness/wine-run build/win/app/reader_console.exe
