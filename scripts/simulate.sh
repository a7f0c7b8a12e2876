#!/usr/bin/env bash
# Random days of the handheld on the virtual clock, each from its own seed, with the invariants
# checked between every two turns (build/tools/handheld simulate --invariants lists them).
#
#   scripts/simulate.sh [--seeds N [--first S] | --seed S] [--hours H] [--jobs J]
#                                                      (default: seed 1, 24 h, one job a core)
#
# A failure prints its seed, step and invariant, and the scenario shrunk to the steps that still
# break it is written to $SIMULATE_OUT/seed-S.play (default build-simulate/); replay it with
# `handheld play` or check it with `handheld simulate --check`. A day that kills the process (a
# sanitizer's report) counts as failed and the run goes on with the next seed. The last line is
# "simulate: N seeds, F failed". SIMULATE_BUILD picks the build (default build; the test command
# uses its sanitizer build, build-asan); receiver excerpts come from ../shared/nmea-logs
# (PELORN_NMEA_LOGS).
set -euo pipefail
cd "$(dirname "$0")/.."

first=1
seeds=1
hours=24
jobs=$(nproc)
while [ $# -gt 0 ]; do
  case "$1" in
    --seeds) seeds="$2"; shift 2 ;;
    --first) first="$2"; shift 2 ;;
    --seed) first="$2"; seeds=1; shift 2 ;;
    --hours) hours="$2"; shift 2 ;;
    --jobs) jobs="$2"; shift 2 ;;
    -h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "simulate.sh: unknown option '$1'" >&2; exit 2 ;;
  esac
done

build="${SIMULATE_BUILD:-build}"
if [ ! -f "$build/CMakeCache.txt" ]; then
  scripts/deps.sh
  if [ "$build" = build-asan ]; then
    cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DPELORN_SANITIZE=ON -DPELORN_BENCHMARKS=OFF >/dev/null
  else
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
fi
cmake --build "$build" -j"$(nproc)" --target handheld >/dev/null
out="${SIMULATE_OUT:-build-simulate}"
mkdir -p "$out"
logs="${PELORN_NMEA_LOGS:-../shared/nmea-logs}"
log_args=()
[ -d "$logs" ] && log_args=(--logs "$logs")
# The days' devices live in memory where it can: a registry write's sync to disk costs more than
# the tick that makes it, and a day makes thousands.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

started=$(date +%s.%N)

# Runs seeds [$1, $1 + $2) in one process after another, as long as days kill it; writes what it
# tells to $out/part-$3.log and "TICKS FAILED" to $out/part-$3.sum.
run_range() {
  local next=$1 end=$(($1 + $2)) part=$3 failed=0 ticks=0 rc t f last seed
  local days="$out/days-$part.txt" progress="$out/progress-$part.txt"
  while [ "$next" -lt "$end" ]; do
    set +e
    "$build/tools/handheld" simulate --first "$next" --seeds "$((end - next))" --hours "$hours" --out "$out" \
      "${log_args[@]}" 2>"$progress" >"$days"
    rc=$?
    set -e
    grep -v '^simulate: ' "$days" || true
    t=$(sed -n 's/^simulate: \([0-9]*\) virtual ticks.*/\1/p' "$days")
    ticks=$((ticks + ${t:-0}))
    if [ "$rc" -le 1 ]; then
      f=$(sed -n 's/^simulate: [0-9]* seeds, \([0-9]*\) failed$/\1/p' "$days")
      failed=$((failed + ${f:-0}))
      break
    fi
    # The process died in the day of the last seed it named: that day failed, the rest go on.
    # A sanitizer's report shows its kind, where, and its summary; anything else its last lines.
    last=$(grep -E -m1 -A10 'ERROR: [A-Za-z]*Sanitizer|runtime error' "$progress" || true)
    if [ -n "$last" ]; then
      last="$last"$'\n'"$(grep -m1 '^SUMMARY: ' "$progress" || true)"
    else
      last=$(grep -v '^simulate: seed ' "$progress" | tail -20 || true)
    fi
    seed=$(sed -n 's/^simulate: seed \([0-9]*\)$/\1/p' "$progress" | tail -1)
    seed=${seed:-$next}
    if ! grep -q "^seed $seed: step " "$days"; then
      echo "seed $seed: the process died (exit $rc):"
      echo "$last" | sed 's/^/  /'
    fi
    # Failures told before it, of other days, count too (a stuck day tells its own, then ends).
    f=$(grep '^seed [0-9]*: step ' "$days" | grep -vc "^seed $seed: " || true)
    failed=$((failed + f + 1))
    next=$((seed + 1))
  done >"$out/part-$part.log"
  echo "$ticks $failed" >"$out/part-$part.sum"
}

# The seeds are cut into one run of neighbours for each job.
[ "$jobs" -ge 1 ] 2>/dev/null || { echo "simulate.sh: --jobs wants a whole number from 1" >&2; exit 2; }
[ "$jobs" -gt "$seeds" ] && jobs=$seeds
rm -f "$out"/part-*.log "$out"/part-*.sum
from=$first
for ((j = 0; j < jobs; j++)); do
  count=$(((seeds + j) / jobs))
  run_range "$from" "$count" "$j" &
  from=$((from + count))
done
wait
ticks=0
failed=0
for ((j = 0; j < jobs; j++)); do
  cat "$out/part-$j.log"
  if [ -f "$out/part-$j.sum" ]; then
    read -r t f <"$out/part-$j.sum"
  else
    echo "simulate: job $j ended without a count"
    t=0 f=1
  fi
  ticks=$((ticks + t))
  failed=$((failed + f))
done
wall=$(printf '%.1f' "$(echo "$(date +%s.%N) - $started" | bc)")
echo "simulate: $ticks virtual ticks in $wall s wall, $hours h a day, $jobs jobs"
echo "simulate: $seeds seeds, $failed failed"
[ "$failed" -eq 0 ]
