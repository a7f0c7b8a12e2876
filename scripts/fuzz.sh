#!/usr/bin/env bash
# Builds the libFuzzer target over the firmware-version query (clang, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs it for FUZZ_SECONDS (default 30). Fails on any finding;
# the input that caused it is left in build-fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh clang libclang-rt-dev
seconds="${FUZZ_SECONDS:-30}"

cmake -S fuzz -B build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target nmea_fuzz

# A working copy of the seeds, so that what the run learns stays out of the tree.
mkdir -p build-fuzz/corpus
cp -n fuzz/corpus/* build-fuzz/corpus/ 2>/dev/null || true
# The handheld keeps its state from input to input, so leaks are looked for once, at the end.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  build-fuzz/nmea_fuzz build-fuzz/corpus -max_total_time="$seconds" -max_len=1024 -timeout=20 -detect_leaks=0 \
  -artifact_prefix=build-fuzz/ -print_final_stats=1
