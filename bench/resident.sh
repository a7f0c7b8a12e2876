#!/bin/sh
# What a running headless pelorn costs while it ticks, against its budgets; exits 1 when one is
# exceeded (the test suite never runs this: speed is not a test's business).
#
#   bench/resident.sh [PELORN] [WINDOWS] [SECONDS]   (defaults: build/tools/pelorn, 5, 15)
#
# - CPU per tick, from /proc/PID/schedstat (nanoseconds on the CPU), in WINDOWS windows of SECONDS
#   each, beside the floor: a C loop doing the least a steady tick must do, one wait and the
#   tick's registry reads in one transaction, straight over SQLite (bench/tick_floor.c, on the
#   same registry), measured in the same windows. Budget: the median of the windows' ratios
#   (pelorn to floor, which share each window's load) at most 2.5.
# - Memory: the proportional set (Pss, from smaps_rollup: shared libraries counted by the share
#   this process has of them, which is what it adds to the machine) at the end. Budget: 4 MiB.
#   The peak resident set (VmHWM, the first start included, shared libraries whole) is printed.
# - Wake-ups (voluntary context switches) over all the windows. Budget: one per tick (and one for
#   where the ticks fall against the windows' ends).
set -eu
pelorn=${1:-build/tools/pelorn}
windows=${2:-5}
seconds=${3:-15}
. "$(dirname "$0")/temp_pelorn.sh"
here=$(cd "$(dirname "$0")" && pwd)
floor_pid=
trap '[ -z "$floor_pid" ] || kill "$floor_pid" 2>/dev/null; cleanup' EXIT
trap 'exit 130' INT TERM

cc -O2 -o "$folder/tick_floor" "$here/tick_floor.c" -lsqlite3
PELORN_DEVICE=$folder/device "$pelorn" --new --headless >"$folder/pelorn.log" &
pid=$!
sleep 5  # the first start: provisioning and the firmware query
"$folder/tick_floor" "$folder/device/registry.db" &
floor_pid=$!
sleep 1

oncpu() { cut -d' ' -f1 "/proc/$1/schedstat"; }
switches() { awk '/^voluntary_ctxt_switches/ { print $2 }' "/proc/$1/status"; }
ticks=$((seconds * 1000 / 1500))
s0=$(switches "$pid")
i=0
while [ "$i" -lt "$windows" ]; do
    p0=$(oncpu "$pid") f0=$(oncpu "$floor_pid")
    sleep "$seconds"
    p1=$(oncpu "$pid") f1=$(oncpu "$floor_pid")
    echo "$(((p1 - p0) / ticks)) $(((f1 - f0) / ticks))" >>"$folder/windows"
    i=$((i + 1))
done
woken=$(($(switches "$pid") - s0))
peak=$(awk '/^VmHWM/ { print $2 }' "/proc/$pid/status")
# The floor maps SQLite too: it is gone before pelorn's share of the libraries is taken.
kill "$floor_pid"
wait "$floor_pid" 2>/dev/null || true
floor_pid=
pss=$(awk '/^Pss:/ { print $2 }' "/proc/$pid/smaps_rollup")

awk -v windows="$windows" -v seconds="$seconds" -v ticks="$ticks" -v woken="$woken" -v peak="$peak" -v pss="$pss" '
    function median(v, n,   i, j, t) {
        for (i = 2; i <= n; ++i)
            for (j = i; j > 1 && v[j - 1] > v[j]; --j) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
        return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
    }
    {
        p[NR] = $1 / 1000; f[NR] = $2 / 1000; r[NR] = f[NR] > 0 ? p[NR] / f[NR] : 0
        line = line sprintf(" %.1f/%.1f", p[NR], f[NR])
    }
    END {
        pm = median(p, NR); fm = median(f, NR); ratio = median(r, NR)
        all_ticks = windows * seconds / 1.5
        printf "CPU per tick, us (pelorn/floor, %d windows of %d s):%s\n", windows, seconds, line
        printf "CPU per tick, median: pelorn %.1f us, floor %.1f us; median ratio %.2f (budget 2.50)\n", pm, fm, ratio
        printf "proportional set: %d kB (%.2f MiB; budget 4.00 MiB); peak resident set %d kB\n", pss, pss / 1024, peak
        printf "wake-ups: %d in %d ticks (budget %d)\n", woken, all_ticks, all_ticks + 1
        failed = 0
        if (ratio > 2.5) { print "over budget: CPU per tick"; failed = 1 }
        if (pss > 4096) { print "over budget: memory"; failed = 1 }
        if (woken > all_ticks + 1) { print "over budget: wake-ups"; failed = 1 }
        exit failed
    }' "$folder/windows"
