#!/usr/bin/env bash
# Installs the Debian packages that building and testing need. Quiet when
# everything is there already, so every other script can call it first.
set -euo pipefail

packages=(
  cmake make g++ googletest          # native build and unit tests
  g++-mingw-w64-x86-64               # the Windows program, cross-compiled
  wine wine64 xvfb x11-utils python3 # running it: Wine, a display, the simulated scanner
  xdotool imagemagick                # the screenshots in docs/
  nsis                               # the Windows installer
  clang libclang-rt-dev              # the fuzz targets (libFuzzer)
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing ${missing[*]} ..."
sudo=()
[[ $(id -u) -ne 0 ]] && sudo=(sudo)
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
