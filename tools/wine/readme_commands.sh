#!/usr/bin/env bash
# Runs the README's commands for Pelorn on a Wine desktop, as written, in a new Wine profile on
# a display of its own, and checks what a person would see: each command succeeds, the keys are
# in the profile, and Pelorn runs on the 240x320 desktop. A photograph of the screen is left in
# BUILD/readme-desktop.png.
#
#   tools/wine/readme_commands.sh BUILD     (build-win32, or build-win32-i686 for the 32-bit one)
#
# Wine's offers to install its .NET and HTML engines, which a person would decline, are declined
# beforehand (WINEDLLOVERRIDES); nothing else is set up for the commands.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:?usage: $0 BUILD}
work=$(mktemp -d)
xvfb_pid=
desktop_pid=
finish() {
  [ -z "$desktop_pid" ] || kill "$desktop_pid" 2>/dev/null || true
  WINEPREFIX=$work/prefix wineserver -k 2>/dev/null || true
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap finish EXIT
fail() {
  echo "README commands: $*" >&2
  [ ! -s "$work/wine.log" ] || tail -20 "$work/wine.log" >&2
  exit 1
}

# The fenced block that starts Pelorn on the desktop; the 32-bit program is run by the same lines
# with its own build folder, as the README says.
mapfile -t lines < <(awk '/^```/ { if (block && found) exit; block = !block; n = 0; next }
                          block { line[++n] = $0; if ($0 ~ /^wine explorer /) found = 1 }
                          END { if (found) for (i = 1; i <= n; ++i) print line[i] }' README.md)
[ "${#lines[@]}" -ge 2 ] || fail "no block in README.md runs 'wine explorer'"
[ "$build" = build-win32 ] || lines=("${lines[@]//build-win32\//$build/}")

Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")" WINEPREFIX=$work/prefix WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml="

last=$((${#lines[@]} - 1))
for line in "${lines[@]:0:$last}"; do
  echo "\$ $line"
  bash -c "$line" >>"$work/wine.log" 2>&1 || fail "'$line' failed"
done
wine reg query 'HKCU\Software\MicroSoft\Shell' >/dev/null 2>&1 || fail "the profile lacks the handheld's keys"

echo "\$ ${lines[$last]}"
bash -c "${lines[$last]}" >>"$work/wine.log" 2>&1 &
desktop_pid=$!
# Pelorn.exe running in this profile (other profiles may run theirs meanwhile).
pelorn_runs() {
  local pid
  for pid in $(pgrep -f 'Pelorn\.exe'); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && return 0
  done
  return 1
}
desktop=
for _ in $(seq 60); do
  sleep 1
  kill -0 "$desktop_pid" 2>/dev/null || fail "'${lines[$last]}' ended at once"
  desktop=$(xdotool search --name '^Pelorn - Wine desktop$' 2>/dev/null | head -1) || true
  [ -n "$desktop" ] && pelorn_runs && break
  desktop=
done
[ -n "$desktop" ] || fail "no desktop running Pelorn.exe within 60 s"
sleep 3  # its first ticks
pelorn_runs || fail "Pelorn.exe ended on its own"
geometry=$(xdotool getwindowgeometry "$desktop" | awk '/Geometry/ { print $2 }')
[ "$geometry" = 240x320 ] || fail "the desktop is $geometry, not 240x320"
import -window "$desktop" "$build/readme-desktop.png" 2>/dev/null || true
echo "README commands: Pelorn runs on a 240x320 desktop in a new profile ($build/readme-desktop.png)"
