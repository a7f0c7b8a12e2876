#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer) and runs each
# on its seeds (fuzz/corpus/<target>/) for FUZZ_SECONDS (default 20): the firmware-version query
# (nmea), .reg files (reg_file), play scripts (script), the endpoint's requests (request) and its
# connections (endpoint), reg's command line (reg_command), the text converters (utf) and the
# registry file (registry_db).
# Targets named on the command line run alone. Fails on any finding; the input that caused it is
# left in build-fuzz/<target>-crash-... (or -timeout-, -oom-), and the run's log in
# build-fuzz/<target>.log.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh clang libclang-rt-dev
seconds="${FUZZ_SECONDS:-20}"
all=(nmea reg_file script request endpoint reg_command utf registry_db)
if [ $# -gt 0 ]; then targets=("$@"); else targets=("${all[@]}"); fi

options() {
  case "$1" in
    # The handheld keeps its state from input to input, so leaks are looked for once, at the end.
    nmea) echo "-max_len=1025 -timeout=20 -detect_leaks=0" ;;
    request) echo "-max_len=64 -timeout=10" ;;
    # Up to a hundred peers, and the owner's loop turns between them.
    endpoint) echo "-max_len=1024 -timeout=10" ;;
    registry_db) echo "-max_len=65536 -timeout=10" ;;
    *) echo "-max_len=4096 -timeout=10" ;;
  esac
}

cmake -S fuzz -B build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if [ $# -gt 0 ]; then
  cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]/%/_fuzz}"
else
  cmake --build build-fuzz -j"$(nproc)"  # all at once: named targets are built one after another
fi

failed=()
for t in "${targets[@]}"; do
  # A working copy of the seeds, so that what the run learns stays out of the tree.
  mkdir -p "build-fuzz/corpus/$t"
  cp -n "fuzz/corpus/$t"/* "build-fuzz/corpus/$t/" 2>/dev/null || true
  dict=()
  [ -f "fuzz/dict/$t.dict" ] && dict=(-dict="fuzz/dict/$t.dict")
  # shellcheck disable=SC2046
  if ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "build-fuzz/${t}_fuzz" "build-fuzz/corpus/$t" $(options "$t") "${dict[@]}" -max_total_time="$seconds" \
    -artifact_prefix="build-fuzz/$t-" -print_final_stats=1 >"build-fuzz/$t.log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "build-fuzz/$t.log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "build-fuzz/$t.log")
    edges=$(grep -o 'cov: [0-9]*' "build-fuzz/$t.log" | tail -n1 | cut -d' ' -f2)
    echo "fuzz $t: $runs runs in ${seconds}s, $rate per second, ${edges:-?} edges, nothing found"
  else
    tail -n 60 "build-fuzz/$t.log"
    echo "fuzz $t: FOUND something; see build-fuzz/$t.log and build-fuzz/$t-*"
    failed+=("$t")
  fi
done
[ ${#failed[@]} -eq 0 ] || { echo "fuzzing found problems in: ${failed[*]}"; exit 1; }
