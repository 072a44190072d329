#!/usr/bin/env bash
# Installs the Debian packages that building and testing need. Quiet when
# everything is there already, so every other script can call it first.
set -euo pipefail

packages=(
  cmake make g++ googletest          # native build and unit tests
  g++-mingw-w64-x86-64               # the Windows program, cross-compiled
  g++-mingw-w64-i686                 # and its 32-bit build
  wine wine64 wine32:i386            # running both under Wine
  xvfb x11-utils python3             # a display, the simulated scanner
  xdotool imagemagick                # the screenshots in docs/
  nsis wixl msitools                 # the installer and the MSIs
  osslsigncode openssl               # signing them, and the signing test
  clang libclang-rt-dev              # the fuzz targets (libFuzzer)
  libboost1.81-dev                   # Boost.Regex, header-only, for the rules
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing ${missing[*]} ..."
sudo=()
[[ $(id -u) -ne 0 ]] && sudo=(sudo)
# Wine's 32-bit side comes from the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo[@]}" dpkg --add-architecture i386
fi
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
