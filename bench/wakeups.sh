#!/bin/sh
# Wake-ups of a real-clock pelorn: the target is one per monitor tick (1.5 s) and none between.
#
#   bench/wakeups.sh [PELORN] [SECONDS]     (defaults: build/tools/pelorn, 30)
#
# Starts pelorn on a temporary device, lets the first start settle (provisioning and the firmware
# query), then counts over SECONDS: the process's voluntary context switches (every time it
# blocks and is woken), and, in a second window under strace, the returns of its waits and what
# ended each one (a timeout is a tick falling due; anything else is a wake-up between ticks).
set -eu
pelorn=${1:-build/tools/pelorn}
seconds=${2:-30}
stop_signal=INT
. "$(dirname "$0")/temp_pelorn.sh"

PELORN_DEVICE=$folder/device "$pelorn" --new >"$folder/pelorn.log" &
pid=$!
sleep 5

switches() { awk '/^voluntary_ctxt_switches/ { print $2 }' "/proc/$pid/status"; }
before=$(switches)
sleep "$seconds"
after=$(switches)
ticks=$((seconds * 1000 / 1500))
echo "voluntary context switches in ${seconds} s: $((after - before)) (monitor ticks: ${ticks})"

if command -v strace >/dev/null 2>&1; then
    strace -f -p "$pid" -e trace=poll,ppoll,select,pselect6,epoll_wait,epoll_pwait,nanosleep,clock_nanosleep,futex \
        -o "$folder/strace.txt" 2>/dev/null &
    tracer=$!
    sleep "$seconds"
    kill "$tracer" 2>/dev/null || true
    wait "$tracer" 2>/dev/null || true
    waits=$(grep -cE '(poll|select|epoll_wait|epoll_pwait|nanosleep|futex)\(.*\) += ' "$folder/strace.txt" || true)
    timeouts=$(grep -cE '= 0 \(Timeout\)' "$folder/strace.txt" || true)
    echo "waits returned in ${seconds} s under strace: ${waits} (timed out, i.e. ticks: ${timeouts}; woken early: $((waits - timeouts)))"
    grep -vE '= 0 \(Timeout\)' "$folder/strace.txt" | grep -E '\) += ' | head -5 || true
fi
