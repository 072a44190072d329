#!/usr/bin/env bash
# Configures and builds one of the trees: "native" (the portable logic with
# its unit tests, under AddressSanitizer and UBSan), "win" (the Windows
# program and its Wine-side tests, cross-compiled with MinGW-w64) or "fuzz"
# (the fuzz targets of the portable decisions, with clang and libFuzzer).
set -euo pipefail
cd "$(dirname "$0")/.."

case "${1:?native, win or fuzz}" in
  native) options=(-DWEDGE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug) ;;
  win) options=(-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw.cmake -DCMAKE_BUILD_TYPE=Release) ;;
  fuzz) options=(-DCMAKE_CXX_COMPILER=clang++ -DWEDGE_FUZZ=ON -DWEDGE_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  *) echo "usage: $0 native|win|fuzz" >&2; exit 2 ;;
esac
# A toolchain counts only when a tree is first configured; given again, CMake
# would warn that it went unused.
if [[ -f build/$1/CMakeCache.txt ]]; then
  for i in "${!options[@]}"; do
    [[ ${options[i]} == -DCMAKE_TOOLCHAIN_FILE=* ]] && unset 'options[i]'
  done
fi
cmake -S . -B "build/$1" "${options[@]}" >/dev/null
cmake --build "build/$1" -j"$(nproc)"
