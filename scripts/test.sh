#!/usr/bin/env bash
# Builds everything and runs every test: the portable logic natively, the
# Windows side under Wine against a simulated scanner on a pseudo-terminal,
# and the fuzz targets of the decisions that see scanner bytes.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/build.sh native
scripts/build.sh win
scripts/build.sh fuzz

status=0
echo "== Native unit tests"
(cd build/native && ctest --output-on-failure) || status=1
echo "== Windows tests under Wine"
(cd build/win && ctest --output-on-failure) || status=1
echo "== Fuzzing (30 s a target)"
tests/fuzz/run.sh build/fuzz || status=1
if [[ $status -eq 0 ]]; then echo "== All tests passed"; else echo "== Some tests FAILED (see above)"; fi
exit $status
