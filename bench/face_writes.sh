#!/bin/bash
# What pelorn's face costs on a provisioned device whose icon blinks (receiver on: pin 38 high),
# beside the headless log on a second such device over the same window, so that both meet the
# same load: the CPU time of each over SECONDS (/proc/PID/schedstat), the write calls and bytes
# each made (/proc/PID/io: the face's extra are what reaches the terminal), and the CPU of the
# terminal (a 120x50 true-colour tmux pane).
#
#   bench/face_writes.sh [PELORN] [SECONDS]     (defaults: build/tools/pelorn, 60)
set -eu
pelorn=$(cd "$(dirname "${1:-build/tools/pelorn}")" && pwd)/$(basename "${1:-build/tools/pelorn}")
handheld=$(dirname "$pelorn")/handheld
seconds=${2:-60}
command -v tmux >/dev/null || { echo "needs tmux (scripts/deps.sh tmux)"; exit 1; }
work=$(mktemp -d)
socket="pelorn-facebench-$$"
pids=
tm() { tmux -L "$socket" -f /dev/null "$@"; }
trap 'for p in $pids; do kill -TERM "$p" 2>/dev/null || true; done; tm kill-server 2>/dev/null || true; rm -rf "$work"' EXIT

pid_on() {  # DEVICE: the pid of the Pelorn running there, once its window is published (20 s at most)
    for _ in $(seq 200); do
        PELORN_DEVICE=$1 "$handheld" status --json 2>/dev/null |
            sed -n 's/.*"window":[0-9].*"state":"running","pid":\([0-9]*\).*/\1/p' | grep . && return 0
        sleep 0.1
    done
    echo "face_writes.sh: pelorn did not start on $1" >&2 && exit 1
}
oncpu() { cut -d' ' -f1 "/proc/$1/schedstat"; }
io() { awk -v f="$2" '$1 == f":" { print $2 }' "/proc/$1/io"; }

# Two devices, provisioned (the first run, its firmware box answered by the headless log, over),
# the receiver on so that the icon blinks.
for d in headless face; do
    PELORN_DEVICE=$work/$d "$pelorn" --new --headless >/dev/null 2>&1 &
    pids="$pids $!"
done
for d in headless face; do pid_on "$work/$d" >/dev/null; done
for p in $pids; do kill -TERM "$p" && wait "$p" || true; done
pids=
for d in headless face; do PELORN_DEVICE=$work/$d "$handheld" set pin38=high >/dev/null; done

PELORN_DEVICE=$work/headless "$pelorn" --headless >/dev/null 2>&1 &
tm new-session -d -s face -x 120 -y 50 "env TERM=xterm-256color COLORTERM=truecolor PELORN_DEVICE=$work/face $pelorn; sleep 600"
headless=$(pid_on "$work/headless") face=$(pid_on "$work/face") server=$(tm display -p '#{pid}')
pids="$headless $face"
sleep 3  # the profile applied, two blinks
declare -A cpu writes bytes
for p in $headless $face; do writes[$p]=$(io $p syscw) bytes[$p]=$(io $p wchar); done
for p in $headless $face $server; do cpu[$p]=$(oncpu $p); done
sleep "$seconds"
for p in $headless $face; do writes[$p]=$(($(io $p syscw) - writes[$p])) bytes[$p]=$(($(io $p wchar) - bytes[$p])); done
for p in $headless $face $server; do cpu[$p]=$(($(oncpu $p) - cpu[$p])); done
for row in "headless $headless" "face $face"; do
    set -- $row
    awk -v n="$1" -v c="${cpu[$2]}" -v w="${writes[$2]}" -v b="${bytes[$2]}" -v s="$seconds" \
        'BEGIN { printf "%-9s %8.1f ms CPU a minute, %6d writes, %8d bytes in %d s\n", n, c / 1e6 * 60 / s, w, b, s }'
done
awk -v c="${cpu[$server]}" -v s="$seconds" 'BEGIN { printf "terminal  %8.1f ms CPU a minute (tmux)\n", c / 1e6 * 60 / s }'
awk -v f="${cpu[$face]}" -v h="${cpu[$headless]}" \
    'BEGIN { if (h > 0) printf "face / headless CPU: %.1f (target: at most 3)\n", f / h }'
