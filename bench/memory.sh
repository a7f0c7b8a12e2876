#!/bin/sh
# Peak resident memory of a real-clock pelorn: the target is under 4 MiB.
#
#   bench/memory.sh [PELORN] [SECONDS]      (defaults: build/tools/pelorn, 30)
#
# Runs pelorn on a temporary device for SECONDS (the first start with its provisioning and
# firmware query, then steady ticks), closes it with Ctrl-C, and prints the peak resident set
# (/usr/bin/time's Maximum resident set size, or VmHWM) and what the resident memory is made of,
# mapping by mapping, just before the close.
set -eu
pelorn=${1:-build/tools/pelorn}
seconds=${2:-30}
[ -x "$pelorn" ] || { echo "memory.sh: no pelorn at $pelorn (build the pelorn target)" >&2; exit 2; }
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT

PELORN_DEVICE=$folder/device "$pelorn" --new >"$folder/pelorn.log" &
pid=$!
sleep "$seconds"
echo "resident memory of pelorn after ${seconds} s, by mapping (kB):"
awk '/^[0-9a-f]+-[0-9a-f]+ / { name = ($6 == "" ? "[anonymous]" : $6) }
     /^Rss:/ { rss[name] += $2; total += $2 }
     END { for (n in rss) if (rss[n] > 0) printf "%8d  %s\n", rss[n], n; printf "%8d  total\n", total }' \
    "/proc/$pid/smaps" | sort -rn | head -12
grep -E '^(VmHWM|RssAnon|RssFile)' "/proc/$pid/status"
peak=$(awk '/^VmHWM/ { print $2 }' "/proc/$pid/status")
kill -INT "$pid"
wait "$pid" || true
echo "peak resident set: ${peak} kB ($(awk "BEGIN { printf \"%.2f\", $peak / 1024 }") MiB; target: under 4 MiB)"
