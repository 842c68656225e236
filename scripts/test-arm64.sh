#!/usr/bin/env bash
# Cross-builds the project for arm64 (Release, warnings are errors) and runs
# its test suite under qemu-aarch64, then checks that an arm64 install has the
# same files as an x86-64 one and that its shared libraries export the same
# symbols. Left out under emulation (label "external"): the package consumer
# test, the layering probes and the third-party plugin hosts, which run host
# (x86-64) programs on the build's arm64 output; the JVM test is not built.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS
trap 'echo "test-arm64: $((SECONDS - start)) s wall time"' EXIT
./scripts/setup-arm64.sh

arm=build/test-arm64
# The x86-64 build the install is compared with: the test command's g++ build
# when it is there (test.sh builds it first), else one made here.
x86=build/test-gcc
options=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVEL_WERROR=ON -DQUORVEL_BUILD_BENCHMARKS=OFF
  -DQUORVEL_BUILD_FUZZERS=OFF -DQUORVEL_TEST_JVM=OFF)

echo "== $arm"
cmake -S . -B "$arm" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake "${options[@]}" >/dev/null
cmake --build "$arm" -j 2
ctest --test-dir "$arm" -j 2 --output-on-failure -LE external

# The x86-64 build to compare the install with: the same options, native compiler.
echo "== $x86 (install reference)"
[ -f "$x86/CMakeCache.txt" ] || cmake -S . -B "$x86" -DCMAKE_CXX_COMPILER=g++ "${options[@]}" >/dev/null
cmake --build "$x86" -j 2

work=$(mktemp -d)
trap 'rm -rf "$work"; echo "test-arm64: $((SECONDS - start)) s wall time"' EXIT
cmake --install "$arm" --prefix "$work/arm64" >/dev/null
cmake --install "$x86" --prefix "$work/x86-64" >/dev/null
(cd "$work/arm64" && find . \( -type f -o -type l \) | sort) >"$work/arm64.files"
(cd "$work/x86-64" && find . \( -type f -o -type l \) | sort) >"$work/x86-64.files"
if ! diff -u "$work/x86-64.files" "$work/arm64.files"; then
  echo "test-arm64: the arm64 install differs from the x86-64 one" >&2
  exit 1
fi
echo "install layout: $(wc -l <"$work/arm64.files") files, the same on both"

# Every installed shared object (libraries and plugins) exports the same names.
status=0
while read -r file; do
  case "$file" in *.so | *.so.*) ;; *) continue ;; esac
  [ -L "$work/arm64/$file" ] && continue
  nm -D --defined-only "$work/x86-64/$file" | awk '{print $NF}' | sort >"$work/x86-64.symbols"
  aarch64-linux-gnu-nm -D --defined-only "$work/arm64/$file" | awk '{print $NF}' | sort >"$work/arm64.symbols"
  if diff -u "$work/x86-64.symbols" "$work/arm64.symbols"; then
    echo "exports of $file: $(wc -l <"$work/arm64.symbols") symbols, the same on both"
  else
    echo "test-arm64: $file exports differ between x86-64 and arm64" >&2
    status=1
  fi
done <"$work/arm64.files"
[ "$status" = 0 ]
echo "arm64 build and tests passed"
