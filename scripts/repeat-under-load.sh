#!/usr/bin/env bash
# Runs the tests that once depended on timing or on the machine RUNS times in
# a row (default 20) while stress-ng keeps every core busy, and stops at the
# first failure. A check that the suite fails only for real faults.
#
#   scripts/repeat-under-load.sh [BUILD_DIR]    (default build/dev, already built)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/dev}
runs=${RUNS:-20}
./scripts/setup.sh stress-ng >/dev/null

stress-ng --cpu "$(nproc)" --timeout 0 --quiet &
load=$!
trap 'kill "$load" 2>/dev/null || true' EXIT

cli_filter='ErrorTest.InterruptedRunLeavesNothingBehind:MessagesTest.InterruptSaysSoOnOneLine:Streams.*:Demo*'
ctest_regex='PluginHosts\.(TurtleValidates|OtherPackages)|Concurrency|AllocationFailure|FuzzCorpusReplay'
start=$SECONDS
for run in $(seq 1 "$runs"); do
  "$build/tests/cli/cli_tests" --gtest_filter="$cli_filter" >"$build/repeat-cli.log" 2>&1 ||
    { tail -n 40 "$build/repeat-cli.log"; echo "run $run: cli tests failed"; exit 1; }
  ctest --test-dir "$build" -R "$ctest_regex" >"$build/repeat-ctest.log" 2>&1 ||
    { tail -n 40 "$build/repeat-ctest.log"; echo "run $run: ctest failed"; exit 1; }
  python/run-tests.sh "$build/tools/quorvel-fx" \
    -k "threads or io_batch" >"$build/repeat-python.log" 2>&1 ||
    { tail -n 40 "$build/repeat-python.log"; echo "run $run: python tests failed"; exit 1; }
  echo "run $run passed ($((SECONDS - start)) s so far)"
done
echo "all $runs runs passed under load"
