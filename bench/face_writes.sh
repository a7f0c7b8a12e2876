#!/bin/bash
# What pelorn's face costs on a provisioned device whose icon blinks (receiver on: pin 38 high),
# beside the headless log on the same device: the CPU time of each over SECONDS (from
# /proc/PID/schedstat), the write calls and bytes each made (/proc/PID/io: the face's extra are
# what reaches the terminal), and the CPU of the terminal (a 120x50 true-colour tmux pane).
#
#   bench/face_writes.sh [PELORN] [SECONDS]     (defaults: build/tools/pelorn, 60)
set -eu
pelorn=$(cd "$(dirname "${1:-build/tools/pelorn}")" && pwd)/$(basename "${1:-build/tools/pelorn}")
handheld=$(dirname "$pelorn")/handheld
seconds=${2:-60}
command -v tmux >/dev/null || { echo "needs tmux (scripts/deps.sh tmux)"; exit 1; }
work=$(mktemp -d)
socket="pelorn-facebench-$$"
pid=
tm() { tmux -L "$socket" -f /dev/null "$@"; }
trap '[ -n "$pid" ] && kill -TERM "$pid" 2>/dev/null; tm kill-server 2>/dev/null || true; rm -rf "$work"' EXIT
export PELORN_DEVICE=$work/device

running() {  # waits up to 20 s for a Pelorn with its window published
    for _ in $(seq 200); do
        "$handheld" status --json 2>/dev/null | grep -q '"window":[0-9].*"state":"running","pid":[0-9]' && return 0
        sleep 0.1
    done
    echo "face_writes.sh: pelorn did not start" >&2 && exit 1
}
oncpu() { cut -d' ' -f1 "/proc/$1/schedstat"; }
io() { awk -v f="$2" '$1 == f":" { print $2 }' "/proc/$1/io"; }
# measure PID NAME: CPU (ms a minute) and writes over $seconds, after two blinks to settle.
measure() {
    sleep 3
    local c0 w0 b0 c1 w1 b1
    c0=$(oncpu "$1") w0=$(io "$1" syscw) b0=$(io "$1" wchar)
    sleep "$seconds"
    c1=$(oncpu "$1") w1=$(io "$1" syscw) b1=$(io "$1" wchar)
    awk -v n="$2" -v c=$((c1 - c0)) -v w=$((w1 - w0)) -v b=$((b1 - b0)) -v s="$seconds" \
        'BEGIN { printf "%-9s %8.1f ms CPU a minute, %6d writes, %8d bytes in %d s\n", n, c / 1e6 * 60 / s, w, b, s }'
    echo $(((c1 - c0) / 1000)) >"$work/$2.us"
}

# Provisioned: the first run (its firmware box answered by the headless log) is over.
"$pelorn" --new --headless >"$work/headless.log" 2>&1 &
pid=$!
running
"$handheld" set pin38=high >/dev/null
measure "$pid" headless
kill -TERM "$pid" && wait "$pid" || true
pid=

tm new-session -d -s face -x 120 -y 50 "env TERM=xterm-256color COLORTERM=truecolor $pelorn; sleep 60"
running
pid=$("$handheld" status --json | sed -n 's/.*"pid":\([0-9]*\).*/\1/p')
server=$(tm display -p '#{pid}')
t0=$(oncpu "$server")
measure "$pid" face
echo "terminal  $(awk -v c=$(($(oncpu "$server") - t0)) -v s="$seconds" 'BEGIN { printf "%8.1f", c / 1e6 * 60 / s }') ms CPU a minute (tmux, over the face's window and settling)"
awk -v f="$(cat "$work/face.us")" -v h="$(cat "$work/headless.us")" \
    'BEGIN { if (h > 0) printf "face / headless CPU: %.1f (target: at most 3)\n", f / h }'
pid=
