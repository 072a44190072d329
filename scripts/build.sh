#!/usr/bin/env bash
# Configures and builds one of the two trees: "native" (the portable logic
# with its unit tests, under AddressSanitizer and UBSan) or "win" (the
# Windows program and its Wine-side tests, cross-compiled with MinGW-w64).
set -euo pipefail
cd "$(dirname "$0")/.."

case "${1:?native or win}" in
  native) options=(-DWEDGE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug) ;;
  win) options=(-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw.cmake -DCMAKE_BUILD_TYPE=Release) ;;
  *) echo "usage: $0 native|win" >&2; exit 2 ;;
esac
cmake -S . -B "build/$1" "${options[@]}" >/dev/null
cmake --build "build/$1" -j"$(nproc)"
