#!/bin/sh
# CPU per monitor tick of a running headless pelorn, beside the floor of a C loop that makes only
# the system calls of a steady tick (bench/tick_floor.c), on the same registry file.
#
#   bench/tick_cpu.sh [PELORN] [SECONDS]     (defaults: build/tools/pelorn, 30)
#
# CPU time is read from /proc/PID/schedstat (nanoseconds on the CPU), over SECONDS after the
# first start has settled.
set -eu
pelorn=${1:-build/tools/pelorn}
seconds=${2:-30}
[ -x "$pelorn" ] || { echo "tick_cpu.sh: no pelorn at $pelorn (build the pelorn target)" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
folder=$(mktemp -d)
pids=""
cleanup() {
    for p in $pids; do kill -TERM "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
    rm -rf "$folder"
}
trap cleanup EXIT INT TERM

cc -O2 -o "$folder/tick_floor" "$here/tick_floor.c"
PELORN_DEVICE=$folder/device "$pelorn" --new --headless >"$folder/pelorn.log" &
pelorn_pid=$!
# The floor reads the registry pelorn made.
while [ ! -f "$folder/device/registry.db" ]; do sleep 0.1; done
"$folder/tick_floor" "$folder/device/registry.db" >/dev/null &
floor_pid=$!
pids="$pelorn_pid $floor_pid"
sleep 5

oncpu() { cut -d' ' -f1 "/proc/$1/schedstat"; }
p0=$(oncpu "$pelorn_pid"); f0=$(oncpu "$floor_pid")
sleep "$seconds"
p1=$(oncpu "$pelorn_pid"); f1=$(oncpu "$floor_pid")
ticks=$((seconds * 1000 / 1500))
p=$(((p1 - p0) / ticks / 1000)); f=$(((f1 - f0) / ticks / 1000))
echo "CPU per tick over ${seconds} s (${ticks} ticks): pelorn ${p} us, floor ${f} us"
awk -v p="$p" -v f="$f" 'BEGIN { if (f > 0) printf "ratio to the floor: %.2f\n", p / f }'
