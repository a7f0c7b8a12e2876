#!/bin/sh
# The memory a running headless pelorn touches in its steady ticks, mapping by mapping: after
# 1.5 s asleep each page is a likely TLB miss and its lines likely cache misses, so fewer pages
# make a cheaper tick.
#
#   bench/tick_pages.sh [PELORN] [TICKS]     (defaults: build/tools/pelorn, 2; run as root)
#
# The kernel's accessed bits are cleared (/proc/PID/clear_refs) once the first start has settled,
# and read back (/proc/PID/smaps, Referenced) after TICKS ticks.
set -eu
pelorn=${1:-build/tools/pelorn}
ticks=${2:-2}
. "$(dirname "$0")/temp_pelorn.sh"

PELORN_DEVICE=$folder/device "$pelorn" --new --headless >/dev/null 2>&1 &
pid=$!
sleep 6
echo 1 >"/proc/$pid/clear_refs"
sleep "$(awk -v t="$ticks" 'BEGIN { print t * 1.5 + 0.1 }')"
echo "pages touched by pelorn in ${ticks} ticks, by mapping (kB):"
awk '/^[0-9a-f]+-[0-9a-f]+ / { name = ($6 == "" ? "[anonymous]" : $6) " " $2 }
     /^Referenced:/ && $2 > 0 { printf "%8d  %s\n", $2, name; total += $2 }
     END { printf "%8d  total\n", total }' "/proc/$pid/smaps"
