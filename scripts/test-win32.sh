#!/usr/bin/env bash
# Builds the Windows program with mingw-w64 and runs its tests under Wine (tests/win32).
# Build folder: $PELORN_WIN32_BUILD, or build-win32. Ends with "N passed, M failed".
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh g++-mingw-w64-x86-64-win32 wine64 xvfb python3 gcc
build=${PELORN_WIN32_BUILD:-build-win32}

cmake -S win32 -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$build" -j"$(nproc)"
gcc -shared -fPIC -O2 -Wall -Wextra -o "$build/modem_lines.so" tests/win32/linux/modem_lines.c -ldl

tests/win32/wine_tests.sh "$build"
