#!/bin/sh
# The functions a steady monitor tick runs, as the linker's section names (one per line), for
# tools/pelorn/hot_sections.txt: the linker lays them out side by side, so that after 1.5 s
# asleep a tick touches a few pages of code rather than a few hundred scattered lines.
#
#   bench/hot_sections.sh [PELORN] [SECONDS] > tools/pelorn/hot_sections.txt
#                                            (defaults: build/tools/pelorn, 30; needs valgrind)
#
# Names that no longer exist are ignored by the linker: a stale list costs speed, never a build.
set -eu
pelorn=${1:-build/tools/pelorn}
seconds=${2:-30}
[ -x "$pelorn" ] || { echo "hot_sections.sh: no pelorn at $pelorn (build the pelorn target)" >&2; exit 2; }
folder=$(mktemp -d)
pid=
cleanup() {
    [ -n "$pid" ] && kill -TERM "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
    rm -rf "$folder"
}
trap cleanup EXIT INT TERM

PELORN_DEVICE=$folder/device valgrind --tool=callgrind --demangle=no --instr-atstart=no \
    --callgrind-out-file="$folder/cg.%p" "$pelorn" --new --headless >/dev/null 2>&1 &
pid=$!
sleep 15  # the first start (provisioning, the firmware query) runs slowly under valgrind
callgrind_control -i on "$pid" >/dev/null 2>&1
sleep "$seconds"
callgrind_control -d "$pid" >/dev/null 2>&1
sleep 1
# Every function that ran while the ticks were counted, in the order callgrind first met it.
sed -n 's/^c\{0,1\}fn=([0-9]*) \(.*\)/\1/p' "$folder/cg.$pid.1" | awk '!seen[$0]++ { print ".text." $0 }'
