#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer and runs each node type's target and the rules
# target (fuzz_rules, with the dictionary fuzz/rules.dict) for FUZZ_SECONDS
# seconds (default 60), starting from the checked-in seed corpus in
# fuzz/corpus/<node>/ and fuzz/corpus/rules/. New inputs go to a scratch
# corpus in the build directory, never into the checked-in one. Any sanitizer
# report, failed check or crash fails the script; the executions of every
# target are printed.
#
#   scripts/fuzz.sh                    every target, FUZZ_SECONDS each
#   FUZZ_SECONDS=10 scripts/fuzz.sh    a quick pass
#   FUZZ_BUILD_DIR=build/fuzz          where to build (default build/fuzz)
#   FUZZ_TARGETS="rules delay"         only these targets (default all)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
dir=${FUZZ_BUILD_DIR:-build/fuzz}
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B "$dir" -G Ninja -DQUORVEL_WERROR=ON -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_SANITIZE=address -DQUORVEL_BUILD_FUZZERS=ON \
  -DQUORVEL_BUILD_TESTS=OFF -DQUORVEL_BUILD_TOOLS=OFF -DQUORVEL_BUILD_BENCHMARKS=OFF \
  -DQUORVEL_BUILD_EXAMPLES=OFF >/dev/null
read -r -a nodes <<<"${FUZZ_TARGETS:-delay pingpongdelay vibrato flanger chorus rules}"
cmake --build "$dir" -j "$jobs" --target "${nodes[@]/#/fuzz_}"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

summary=()
for node in "${nodes[@]}"; do
  scratch="$dir/fuzz-corpus/$node"
  mkdir -p "$scratch"
  log="$dir/fuzz-$node.log"
  echo "== fuzz_$node for ${seconds}s"
  extra=()
  [ -f "fuzz/$node.dict" ] && extra+=(-dict="fuzz/$node.dict")
  if ! "$dir/fuzz/fuzz_$node" -max_total_time="$seconds" -max_len=4096 -timeout=20 \
      -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$dir/fuzz-$node-" \
      "${extra[@]}" "$scratch" "fuzz/corpus/$node" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz_$node FAILED (log: $log; the failing input: $dir/fuzz-$node-crash-*)"
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  summary+=("fuzz_$node: ${runs:-?} executions in ${seconds}s")
done
printf '%s\n' "${summary[@]}"
echo "all fuzz targets ran clean"
