#!/bin/sh
# The registry's kill test at scale: a writer SIGKILLed KILLS times at random moments, every
# write it had reported checked afterwards.
#
#   bench/kills.sh [PLATFORM_TESTS] [KILLS]      (defaults: build/tests/platform_tests, 1000)
#
# Prints the seed (PELORN_SEED=... replays the run), the kills, the writes reported and lost
# (none may be), and the wall time. The test command runs the same test with 200 kills.
set -eu
tests=${1:-build/tests/platform_tests}
kills=${2:-1000}
[ -x "$tests" ] || { echo "kills.sh: no test binary at $tests (build the platform_tests target)" >&2; exit 2; }
start=$(date +%s)
PELORN_KILLS=$kills "$tests" --gtest_filter='RegistryCrashTest.*' --gtest_brief=1 |
  grep -E '^registry crash test|FAILED|Failure'
echo "wall time: $(($(date +%s) - start)) s"
