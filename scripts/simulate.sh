#!/usr/bin/env bash
# Random days of the handheld on the virtual clock, each from its own seed, with the invariants
# checked between every two turns (build/tools/handheld simulate --invariants lists them).
#
#   scripts/simulate.sh [--seeds N [--first S] | --seed S] [--hours H] [--jobs J]
#                                                      (default: seed 1, 24 h, one job a core)
#
# A failure prints its seed, step and invariant, and the scenario shrunk to the steps that still
# break it is written to $SIMULATE_OUT/seed-S.play (default build-simulate/); replay it with
# `handheld play` or check it with `handheld simulate --check`. A day that kills its process (a
# sanitizer's report) or holds the device on and on counts as failed; the run goes on. The last
# line is "simulate: N seeds, F failed", after the rate in virtual hours a wall-clock minute.
# SIMULATE_BUILD picks the build (default build; the test command uses its sanitizer build,
# build-asan); receiver excerpts come from ../shared/nmea-logs (PELORN_NMEA_LOGS).
# scripts/simulate-long.sh is the long run.
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

# Runs seeds [$1, $1 + $2) in one process, each day in a child process of its own (a day that a
# sanitizer ends is told as failed, with its report, and the next goes on); writes what it tells
# to $out/part-$3.log and "TICKS FAILED" to $out/part-$3.sum.
run_range() {
  local part=$3 rc t f
  local days="$out/days-$part.txt" progress="$out/progress-$part.txt"
  set +e
  "$build/tools/handheld" simulate --first "$1" --seeds "$2" --hours "$hours" --out "$out" "${log_args[@]}" \
    2>"$progress" >"$days"
  rc=$?
  set -e
  grep -v '^simulate: ' "$days" >"$out/part-$part.log" || true
  t=$(sed -n 's/^simulate: \([0-9]*\) virtual ticks.*/\1/p' "$days")
  f=$(sed -n 's/^simulate: [0-9]* seeds, \([0-9]*\) failed$/\1/p' "$days")
  if [ "$rc" -gt 1 ] || [ -z "$f" ]; then
    # The run itself failed (no device could be made, say): its days count as failed.
    { echo "seeds $1 to $(($1 + $2 - 1)): handheld simulate ended with exit $rc:"
      tail -20 "$progress" | sed 's/^/  /'; } >>"$out/part-$part.log"
    f=$2
  fi
  echo "${t:-0} $f" >"$out/part-$part.sum"
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
# Virtual hours of all the days together for each minute on the wall clock.
echo "simulate: $(echo "scale=1; $seeds * $hours * 60 / ($wall + 0.05)" | bc) virtual hours a wall-clock minute"
echo "simulate: $seeds seeds, $failed failed"
[ "$failed" -eq 0 ]
