#!/usr/bin/env bash
# Builds the Windows program with mingw-w64 and runs its tests under Wine (tests/win32).
#
#   scripts/test-win32.sh [64|32]
#
# 64 (the default): an x86-64 program under 64-bit Wine, in $PELORN_WIN32_BUILD or build-win32.
# 32: an i686 program under 32-bit Wine (a 32-bit prefix), in $PELORN_WIN32_BUILD or
# build-win32-i686. One harness, the Win32 player (tools/wine/play.py): a few scenarios untraced,
# held against the host's records; the README's desktop commands, as written, in a new profile;
# taps timed against ticks; and in the 64-bit run every scenario on both players, ending with
# "compare: N same, M differ".
set -euo pipefail
cd "$(dirname "$0")/.."
width=${1:-64}
# Exit status 77: the packages this run needs could not be installed (a package mirror caught
# mid-sync), so nothing was tested; scripts/test says so at its end.
needs() {
  scripts/deps.sh "$@" || {
    echo "test-win32.sh $width: SKIPPED: the packages it needs could not be installed: $*" >&2
    exit 77
  }
}
case $width in
  64)
    needs g++-mingw-w64-x86-64-win32 wine wine64 fonts-wine xvfb python3 gcc xdotool imagemagick
    build=${PELORN_WIN32_BUILD:-build-win32}
    toolchain=mingw-w64-x86_64
    cc=gcc
    export PELORN_WINE=/usr/lib/wine/wine64 PELORN_WINESERVER=/usr/lib/wine/wineserver64 WINEARCH=win64
    ;;
  32)
    needs g++-mingw-w64-i686-win32 wine wine32:i386 fonts-wine xvfb python3 gcc-i686-linux-gnu libc6-dev-i386-cross xdotool imagemagick
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
$cc -shared -fPIC -O2 -Wall -Wextra -o "$build/modem_lines.so" tools/wine/modem_lines.c -ldl

host_build=${PELORN_HOST_BUILD:-build}
[ -f "$host_build/CMakeCache.txt" ] || cmake -S . -B "$host_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$host_build" -j"$(nproc)" --target handheld >/dev/null

echo "Win32 player, $width-bit program"
status=0
# Recording off, as on a handheld: what the port, the stand-ins and the desktop saw against the
# host's records of the same scenarios; photographs of each box before its OK in the build folder.
rm -rf "$build/screenshots" && mkdir -p "$build/screenshots"
PELORN_PLAY_SHOTS=$build/screenshots python3 tools/wine/play.py --handheld "$host_build/tools/handheld" --untraced \
  "$build" tests/win32/first-start-tour.play tests/scenarios/corpus/{send-about,firmware-silent,com1-absent,tick-on-enables,menu-gps-on}.play \
  || status=1

# The README's lines for running Pelorn on a Wine desktop, as written, in a new profile.
tools/wine/readme_commands.sh "$build" || status=1

# Taps that land while a tick talks to the tray: the player fails when one is served inside it.
for run in 1 2 3; do
  if python3 tools/wine/play.py --handheld "$host_build/tools/handheld" "$build" tests/win32/taps-before-ticks.play >/dev/null; then
    echo "taps before ticks, run $run: none served inside another call"
  else
    status=1
  fi
done

# Every scenario on both players: the host's `handheld play` and Pelorn.exe under Wine, two at a
# time, each pair of traces normalised by tools/wine/differences.json. Only in the 64-bit run:
# the comparison takes most of the 15 minutes the Win32 part may take.
if [ "$width" = 64 ]; then
  scenarios=(examples/scenarios/*.play tests/scenarios/close-in-modal/*.play tests/scenarios/corpus/*.play
             tests/win32/first-start-tour.play)
  existing=()
  for s in "${scenarios[@]}"; do [ -f "$s" ] && existing+=("$s"); done
  echo "Both players, ${#existing[@]} scenarios"
  rm -rf "$build/compare"
  python3 tools/wine/compare.py --handheld "$host_build/tools/handheld" --jobs 2 --keep "$build/compare" \
    "$build" "${existing[@]}" || status=1
else
  # Recording on: the same scenarios, each record held against its effect.
  python3 tools/wine/play.py --handheld "$host_build/tools/handheld" "$build" tests/win32/first-start-tour.play \
    tests/scenarios/corpus/{send-about,firmware-silent,com1-absent,tick-on-enables,menu-gps-on}.play >/dev/null \
    && echo "the same scenarios, traced: every record as its effect" || status=1
fi
exit $status
