#!/usr/bin/env bash
# Builds the program and runs it under Wine, with a simulated scanner on a
# pseudo-terminal behind COM1 (the default port) and a window that takes the
# focus and shows what the program types. Lines typed here are scanned as
# codes; without a terminal, a few sample codes are scanned and it ends.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/build.sh win >/dev/null
run_dir=$PWD/build/win/run-session
pids=()
finish() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  tests/harness/wine_session.sh stop "$run_dir"
}
trap finish EXIT
tests/harness/wine_session.sh start "$run_dir"
DISPLAY=$(cat "$run_dir/display")
export DISPLAY WEDGE_RUN_DIR=$run_dir
scanner() { python3 tests/harness/scanner_sim.py "$@" >/dev/null; }
scanner --request "$run_dir/sim.port" OPEN COM1

wait_for_window() {
  for _ in $(seq 300); do
    xdotool search --name "^$1\$" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "run: the window \"$1\" did not appear" >&2
  return 1
}

tests/harness/wine-run build/win/app/barcode_reader.exe &
pids+=($!)
wait_for_window "Драйвер для сканера штрих-кода"
picture=$run_dir/main-window.png
sleep 1
import -window "$(xdotool search --name '^Драйвер для сканера штрих-кода$' | head -n 1)" "$picture"
echo "The program is running on display $DISPLAY; its window: $picture"

if [[ -t 0 ]]; then
  tests/harness/wine-run build/win/tests/tools/scan_target.exe &
  pids+=($!)
  wait_for_window "Scanner target"
  echo "Type a code and Enter to scan it; Ctrl-D ends."
  while IFS= read -r line; do
    python3 tests/harness/scanner_sim.py --send "$run_dir/sim.port" COM1 "$line" >/dev/null
  done
else
  tests/harness/wine-run build/win/tests/tools/scan_target.exe 7000 &
  target=$!
  wait_for_window "Scanner target"
  sleep 1
  for code in 4607001234567 ABC-123 "HELLO WORLD" Привет-123; do
    echo "scanning: $code"
    python3 tests/harness/scanner_sim.py --send "$run_dir/sim.port" COM1 "$code" >/dev/null
    sleep 0.5
  done
  wait "$target"
fi
