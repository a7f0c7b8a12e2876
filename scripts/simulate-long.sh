#!/usr/bin/env bash
# The long simulation, a command of its own (scripts/test runs a short one): 10,000 random days
# of a week each on the release build, then 1,000 days of 24 h on the sanitizer build
# (build-asan), each day from its own seed with the invariants checked between every two turns.
# On a two-core machine this takes many hours; each run ends with its rate in virtual hours a
# wall-clock minute. Any failure names its seed and leaves the shrunk scenario in the run's folder.
#
#   scripts/simulate-long.sh [--release-seeds N] [--release-hours H] [--asan-seeds N]
#                            [--asan-hours H] [--first S] [--jobs J] [--skip-release] [--skip-asan]
#
# The runs write to build-simulate-long/release and build-simulate-long/asan.
set -euo pipefail
cd "$(dirname "$0")/.."

release_seeds=10000 release_hours=168 asan_seeds=1000 asan_hours=24 first=1
jobs=$(nproc) release=1 asan=1
while [ $# -gt 0 ]; do
  case "$1" in
    --release-seeds) release_seeds="$2"; shift 2 ;;
    --release-hours) release_hours="$2"; shift 2 ;;
    --asan-seeds) asan_seeds="$2"; shift 2 ;;
    --asan-hours) asan_hours="$2"; shift 2 ;;
    --first) first="$2"; shift 2 ;;
    --jobs) jobs="$2"; shift 2 ;;
    --skip-release) release=0; shift ;;
    --skip-asan) asan=0; shift ;;
    -h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "simulate-long.sh: unknown option '$1'" >&2; exit 2 ;;
  esac
done

failed=0
if [ "$release" = 1 ]; then
  echo "simulate-long: $release_seeds days of $release_hours h on build (release)"
  SIMULATE_BUILD=build SIMULATE_OUT=build-simulate-long/release \
    scripts/simulate.sh --seeds "$release_seeds" --first "$first" --hours "$release_hours" --jobs "$jobs" || failed=1
fi
if [ "$asan" = 1 ]; then
  echo "simulate-long: $asan_seeds days of $asan_hours h on build-asan (sanitizers)"
  SIMULATE_BUILD=build-asan SIMULATE_OUT=build-simulate-long/asan \
    scripts/simulate.sh --seeds "$asan_seeds" --first "$first" --hours "$asan_hours" --jobs "$jobs" || failed=1
fi
exit "$failed"
