#!/usr/bin/env bash
# Builds the Windows program with mingw-w64 and runs its tests under Wine (tests/win32).
#
#   scripts/test-win32.sh [64|32]
#
# 64 (the default): an x86-64 program under 64-bit Wine, in $PELORN_WIN32_BUILD or build-win32.
# 32: an i686 program under 32-bit Wine (a 32-bit prefix), in $PELORN_WIN32_BUILD or
# build-win32-i686. Ends with "N passed, M failed".
set -euo pipefail
cd "$(dirname "$0")/.."
width=${1:-64}
case $width in
  64)
    scripts/deps.sh g++-mingw-w64-x86-64-win32 wine64 xvfb python3 gcc xdotool imagemagick
    build=${PELORN_WIN32_BUILD:-build-win32}
    toolchain=mingw-w64-x86_64
    cc=gcc
    export PELORN_WINE=/usr/lib/wine/wine64 PELORN_WINESERVER=/usr/lib/wine/wineserver64 WINEARCH=win64
    ;;
  32)
    scripts/deps.sh g++-mingw-w64-i686-win32 wine32:i386 xvfb python3 gcc-i686-linux-gnu libc6-dev-i386-cross xdotool imagemagick
    build=${PELORN_WIN32_BUILD:-build-win32-i686}
    toolchain=mingw-w64-i686
    cc=i686-linux-gnu-gcc
    export PELORN_WINE=/usr/lib/wine/wine PELORN_WINESERVER=/usr/lib/wine/wineserver32 WINEARCH=win32
    ;;
  *)
    echo "usage: $0 [64|32]" >&2
    exit 2
    ;;
esac

cmake -S win32 -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/$toolchain.cmake" >/dev/null
cmake --build "$build" -j"$(nproc)"
# Preloaded into Wine's own processes, so built for Wine's width.
$cc -shared -fPIC -O2 -Wall -Wextra -o "$build/modem_lines.so" tests/win32/linux/modem_lines.c -ldl

echo "Wine tests, $width-bit program"
tests/win32/wine_tests.sh "$build"
