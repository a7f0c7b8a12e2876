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
# line is "simulate: N seeds, F failed". SIMULATE_BUILD picks the build (default build; the test command
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
    -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
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
# The days' devices live in memory where it can: a registry write's sync to disk costs more than
# the tick that makes it, and a day makes thousands.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

started=$(date +%s.%N)

# Runs seed $1 in a process of its own (each day in a child of that, so that a day a sanitizer ends
# is told as failed, with its report); writes what it tells to $out/seed-$1.log and
# "TICKS FAILED" to $out/seed-$1.sum. The jobs take the next seed as each ends: no job idles while
# another still has a queue of long days.
run_seed() {
  local seed=$1 rc t f
  local days="$out/seed-$seed.days" progress="$out/seed-$seed.progress"
  set +e
  if [ -n "$logs_dir" ]; then
    "$build/tools/handheld" simulate --seed "$seed" --hours "$hours" --out "$out" --logs "$logs_dir" \
      2>"$progress" >"$days"
  else
    "$build/tools/handheld" simulate --seed "$seed" --hours "$hours" --out "$out" 2>"$progress" >"$days"
  fi
  rc=$?
  set -e
  grep -v '^simulate: ' "$days" >"$out/seed-$seed.log" || true
  t=$(sed -n 's/^simulate: \([0-9]*\) virtual ticks.*/\1/p' "$days")
  f=$(sed -n 's/^simulate: [0-9]* seeds, \([0-9]*\) failed$/\1/p' "$days")
  if [ "$rc" -gt 1 ] || [ -z "$f" ]; then
    # The run itself failed (no device could be made, say): its day counts as failed.
    { echo "seed $seed: handheld simulate ended with exit $rc:"
      tail -20 "$progress" | sed 's/^/  /'; } >>"$out/seed-$seed.log"
    f=1
  fi
  echo "${t:-0} $f" >"$out/seed-$seed.sum"
  rm -f "$days" "$progress"
}

[ "$jobs" -ge 1 ] 2>/dev/null || { echo "simulate.sh: --jobs wants a whole number from 1" >&2; exit 2; }
[ "$seeds" -ge 1 ] 2>/dev/null || { echo "simulate.sh: --seeds wants a whole number from 1" >&2; exit 2; }
[ "$jobs" -gt "$seeds" ] && jobs=$seeds
last=$((first + seeds - 1))
for ((s = first; s <= last; s++)); do rm -f "$out/seed-$s.log" "$out/seed-$s.sum"; done
logs_dir=""
[ -d "$logs" ] && logs_dir="$logs"
export build hours out logs_dir
export -f run_seed
seq "$first" "$last" | xargs -P "$jobs" -I{} bash -c 'run_seed {}'
ticks=0
failed=0
for ((s = first; s <= last; s++)); do
  [ -f "$out/seed-$s.log" ] && cat "$out/seed-$s.log"
  if [ -f "$out/seed-$s.sum" ]; then
    read -r t f <"$out/seed-$s.sum"
  else
    echo "simulate: seed $s ended without a count"
    t=0 f=1
  fi
  ticks=$((ticks + t))
  failed=$((failed + f))
  rm -f "$out/seed-$s.log" "$out/seed-$s.sum"
done
wall=$(printf '%.1f' "$(echo "$(date +%s.%N) - $started" | bc)")
echo "simulate: $ticks virtual ticks in $wall s wall, $hours h a day, $jobs jobs"
echo "simulate: $seeds seeds, $failed failed"
[ "$failed" -eq 0 ]
