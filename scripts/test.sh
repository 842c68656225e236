#!/usr/bin/env bash
# Builds the project with g++ and with clang (warnings are errors) and runs
# the whole test suite on both builds, then once more under AddressSanitizer
# with UndefinedBehaviorSanitizer and under ThreadSanitizer, fuzzes every
# node type for a minute, runs the Python package's tests, and cross-builds
# for arm64 to run the suite under qemu-aarch64 (about 4 minutes).
#
#   scripts/test.sh            everything
#   scripts/test.sh --quick    the g++ build and the Python suite only
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh

quick=0
[ "${1:-}" = "--quick" ] && quick=1
jobs=$(nproc 2>/dev/null || echo 2)

run_suite() {  # <build dir> <ctest args...> -- <cmake args...>
  local dir=$1; shift
  local ctest_args=()
  while [ "$1" != "--" ]; do ctest_args+=("$1"); shift; done
  shift
  echo "== $dir"
  cmake -S . -B "$dir" -G Ninja -DQUORVEL_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" "${ctest_args[@]}"
}

run_suite build/test-gcc -- -DCMAKE_CXX_COMPILER=g++
[ "$quick" = 1 ] && python/run-tests.sh build/test-gcc/tools/quorvel-fx
[ "$quick" = 1 ] && exit 0
run_suite build/test-clang -- -DCMAKE_CXX_COMPILER=clang++

# Sanitizer runs: every in-process test; tests that start a JVM or install
# the package are left to the plain builds (label "external"), and so are the
# exhaustive sweeps over every float (label "exhaustive"), which take minutes
# under a sanitizer. The ThreadSanitizer build compiles the vector kernels
# for the baseline instruction set only, so that build is tested as well.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
run_suite build/test-asan -LE "external|exhaustive" -- -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUORVEL_SANITIZE=address -DQUORVEL_BUILD_BENCHMARKS=OFF
run_suite build/test-tsan -LE "external|exhaustive" -- -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUORVEL_SANITIZE=thread -DQUORVEL_BUILD_BENCHMARKS=OFF -DQUORVEL_VECTOR_BASELINE_ONLY=ON
# Each node type's fuzz target for FUZZ_SECONDS (default 60) under ASan+UBSan.
./scripts/fuzz.sh
python/run-tests.sh build/test-gcc/tools/quorvel-fx
# The core and the rules built for WebAssembly, their tests under Node.js.
./scripts/test-wasm.sh
# The whole suite again for arm64, cross-built and run under qemu-aarch64.
./scripts/test-arm64.sh
echo "all test runs passed"
