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

# Saves the window with this title once it shows more than a blank desktop
# (a program's first window can take Wine ten seconds).
photograph() {
  local title=$1 file=$2 window="" colours=0
  for _ in $(seq 600); do
    window=$(xdotool search --name "^$title\$" 2>/dev/null | head -n 1) || true
    if [[ -n $window ]] && import -window "$window" "$file" 2>/dev/null; then
      colours=$(identify -format %k "$file")
      ((colours > ${3:-8})) && break
    fi
    sleep 0.1
  done
  ((colours > ${3:-8})) || { echo "screenshots: nothing drawn in \"$title\"" >&2; return 1; }
  sleep 1  # let it finish painting
  import -window "$window" "$file"
  echo "$file"
}

# In a Wine desktop of its own, so that Wine draws the frames and captions
# that a window manager would otherwise draw.
desktop() {
  WEDGE_RUN_DIR=$run_dir tests/harness/wine-run explorer "/desktop=Screenshot,$1" "${@:2}"
}

desktop 420x280 build/win/tests/tools/show_settings.exe &
photograph "Screenshot - Wine desktop" docs/settings-dialog.png
wait

WEDGE_RUN_DIR=$run_dir tests/harness/wine-run reg add 'HKCU\Software\Ombrek\Barcode Reader\DEVICE' \
  /v NamePort /d COM2 /f >/dev/null 2>&1
python3 tests/harness/scanner_sim.py --request "$run_dir/sim.port" OPEN COM2 >/dev/null
desktop 360x230 build/win/app/barcode_reader.exe &
program=$!
photograph "Screenshot - Wine desktop" docs/main-window.png
desktop 360x230 build/win/tests/tools/open_tray_menu.exe
sleep 2
import -window "$(xdotool search --name '^Screenshot - Wine desktop$' | head -n 1)" docs/tray-menu.png
echo docs/tray-menu.png
kill "$program" 2>/dev/null || true

# The monitor, with a few codes as a till's scanner sends them: a product, a
# marking code with its group separators, and a text in Cyrillic. The copy
# photographed above would be handed the request in its own desktop: it goes
# first.
WINEPREFIX=$run_dir/prefix wineserver -k && WINEPREFIX=$run_dir/prefix wineserver -w
WEDGE_RUN_DIR=$run_dir tests/harness/wine-run explorer /desktop=Monitor,780x560 build/win/app/barcode_reader.exe \
  /MONITOR &
program=$!
photograph "Monitor - Wine desktop" docs/monitor.png >/dev/null
for code in "b'4607001234567'" "b'0104607001234567215Cx7pQ\\x1d91FFD0\\x1d92dGVzdA=='" "'Привет'.encode()"; do
  python3 tests/harness/scanner_sim.py --request "$run_dir/sim.port" WRITE COM2 \
    "$(python3 -c "print(($code + b'\\r').hex())")" >/dev/null
  sleep 1
done
sleep 2
import -window "$(xdotool search --name '^Monitor - Wine desktop$' | head -n 1)" docs/monitor.png
echo docs/monitor.png
kill "$program" 2>/dev/null || true
