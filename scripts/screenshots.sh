#!/usr/bin/env bash
# Photographs the program's windows as Wine draws them, into docs/.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/build.sh win >/dev/null
run_dir=$PWD/build/win/screenshot-run
trap 'tests/harness/wine_session.sh stop "$run_dir"' EXIT
tests/harness/wine_session.sh start "$run_dir" >/dev/null
export DISPLAY
DISPLAY=$(cat "$run_dir/display")

# Waits for a window by its title and saves it, frame included.
photograph() {
  local title=$1 file=$2 window=""
  for _ in $(seq 100); do
    window=$(xdotool search --name "^$title\$" 2>/dev/null | head -n 1) && [[ -n $window ]] && break
    sleep 0.1
  done
  [[ -n $window ]] || { echo "screenshots: no window \"$title\"" >&2; return 1; }
  sleep "${3:-0.5}"  # let it finish painting
  import -window "$window" "$file"
  echo "$file"
}

# In a Wine desktop of its own, so that Wine draws the frames and captions
# that a window manager would otherwise draw.
desktop() {
  WEDGE_RUN_DIR=$run_dir tests/harness/wine-run explorer "/desktop=Screenshot,$1" "${@:2}"
}

desktop 420x280 build/win/tests/tools/show_settings.exe &
photograph "Screenshot - Wine desktop" docs/settings-dialog.png 4
wait
