#!/bin/sh
# The functions a steady monitor tick runs, as symbol names (one per line), for
# tools/pelorn/hot_symbols.txt: the linker lays the code holding them side by side, so that after
# 1.5 s asleep a tick touches a few pages of code rather than a few hundred scattered lines.
# lld moves whatever input section holds a symbol, which reaches the C, C++ and SQLite libraries'
# objects too; those whose code is one large section go last, so they do not split the rest.
#
#   bench/hot_symbols.sh [PELORN] [SECONDS] > tools/pelorn/hot_symbols.txt
#                                            (defaults: build/tools/pelorn, 30; needs valgrind)
#
# Names that no longer exist are ignored by the linker: a stale list costs speed, never a build.
set -eu
pelorn=${1:-build/tools/pelorn}
seconds=${2:-30}
. "$(dirname "$0")/temp_pelorn.sh"

PELORN_DEVICE=$folder/device valgrind --tool=callgrind --demangle=no --instr-atstart=no \
    --callgrind-out-file="$folder/cg.%p" "$pelorn" --new --headless >/dev/null 2>&1 &
pid=$!
sleep 15  # the first start (provisioning, the firmware query) runs slowly under valgrind
callgrind_control -i on "$pid" >/dev/null 2>&1
sleep "$seconds"
callgrind_control -d "$pid" >/dev/null 2>&1
sleep 1

# The size of the code section that holds each function of the static libraries pelorn links.
for lib in "$(c++ -print-file-name=libc.a)" "$(c++ -print-file-name=libstdc++.a)" \
           "$(c++ -print-file-name=libsqlite3.a)"; do
    [ -f "$lib" ] && objdump -h -t "$lib" 2>/dev/null
done | awk '
    function hex(s,   i, n) { n = 0; for (i = 1; i <= length(s); i++) n = n * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1; return n }
    / file format / { delete size; next }
    $1 ~ /^[0-9]+$/ && NF >= 7 { size[$2] = hex($3); next }
    / F / && index($0, "\t") {
        split($0, part, "\t"); n = split(part[1], left, " "); split(part[2], right, " ")
        if (!(right[2] in seen)) { seen[right[2]] = 1; print right[2], size[left[n]] + 0 }
    }' >"$folder/sizes"

# Every function that ran while the ticks were counted, in the order callgrind first met it
# (callgrind tells same-named functions apart with a suffix the linker does not know).
sed -n "s/^c\{0,1\}fn=([0-9]*) \([^' ]*\).*/\1/p" "$folder/cg.$pid.1" | awk '!/^0x/ && !seen[$0]++' |
    awk 'NR == FNR { size[$1] = $2; next }
         { s = size[$0] + 0; print (s > 4096 ? s : 0) "\t" FNR "\t" $0 }' "$folder/sizes" - |
    sort -n -k1,1 -k2,2 | cut -f3
