#!/bin/sh
# What pelorn's face writes to a terminal while nothing but the system's own ticks happen: the
# write calls and bytes over SECONDS, in a 120x50 true-colour tmux pane (receiver on, so the
# icon blinks every tick), and the CPU time of the process.
#
#   bench/face_writes.sh [PELORN] [SECONDS]     (defaults: build/tools/pelorn, 60)
set -eu
pelorn=$(cd "$(dirname "${1:-build/tools/pelorn}")" && pwd)/$(basename "${1:-build/tools/pelorn}")
seconds=${2:-60}
command -v tmux >/dev/null || { echo "needs tmux (scripts/deps.sh tmux)"; exit 1; }
work=$(mktemp -d)
socket="pelorn-facebench-$$"
tm() { tmux -L "$socket" -f /dev/null "$@"; }
trap 'tm kill-server 2>/dev/null || true; [ -n "${KEEP:-}" ] && cp "$work/writes" "$KEEP"; rm -rf "$work"' EXIT
tm new-session -d -s face -x 120 -y 50 \
  "env TERM=xterm-256color COLORTERM=truecolor PELORN_DEVICE=$work/device strace -f -e trace=write -e signal=none -o $work/writes $pelorn --new; sleep 60"
# Past the first start's provisioning and firmware query.
sleep 5
start=$(wc -l < "$work/writes")
start_bytes=$(awk -F'= ' '/^[0-9]+ +write\(1,/ { n += $NF } END { print n + 0 }' "$work/writes")
sleep "$seconds"
end=$(wc -l < "$work/writes")
end_bytes=$(awk -F'= ' '/^[0-9]+ +write\(1,/ { n += $NF } END { print n + 0 }' "$work/writes")
echo "face writes in $seconds s: $((end - start)) calls, $((end_bytes - start_bytes)) bytes"
