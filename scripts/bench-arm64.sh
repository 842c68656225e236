#!/usr/bin/env bash
# The processors and their parts on arm64, under qemu-aarch64: NEON (and any
# other arm64 instruction set the emulator runs) against the baseline kernels
# in the same run, beside the same ratios on this x86-64 machine.
#
# An emulator's times say nothing about a real arm64 CPU; only ratios between
# instruction sets measured side by side in one emulated run mean anything,
# and even those are the emulator's (it turns each vector instruction into
# host code of its own cost).
#
#   scripts/bench-arm64.sh          cross-build in build/bench-arm64 and run
#   ROUNDS=3 scripts/bench-arm64.sh rounds per instruction set (best counts)
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup-arm64.sh
./scripts/setup.sh libbenchmark-dev:arm64 >/dev/null

arm=build/bench-arm64
x86=${X86_BUILD_DIR:-build/bench}
rounds=${ROUNDS:-3}
filter='Parts/(Processor|Oscillators|Sines|Reads)'
# An arm64 build holds NEON and up only (NEON is the baseline there): every
# attainable set, the portable one included, for this comparison.
cmake -S . -B "$arm" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake \
  -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BUILD_BENCHMARKS=ON -DQUORVEL_BUILD_FUZZERS=OFF \
  -DQUORVEL_TEST_JVM=OFF -DCMAKE_CXX_FLAGS=-DHWY_COMPILE_ALL_ATTAINABLE >/dev/null
cmake --build "$arm" -j 2 --target core_bench
cmake -S . -B "$x86" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BUILD_BENCHMARKS=ON >/dev/null
cmake --build "$x86" -j 2 --target core_bench

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# run <label> <target> <program...>: the rounds of one instruction set, JSON per round.
run() {
  local label=$1 target=$2
  shift 2
  for round in $(seq "$rounds"); do
    QUORVEL_VECTOR_TARGET=$target "$@" --benchmark_filter="$filter" --benchmark_min_time=0.1 \
      --benchmark_out="$work/$label.$target.$round.json" --benchmark_out_format=json >/dev/null 2>&1 ||
      return 1
  done
}
arm_targets=()
for target in SVE2 SVE NEON EMU128 SCALAR; do
  run arm64 "$target" qemu-aarch64 -L / "$arm/bench/core_bench" && arm_targets+=("$target")
done
x86_targets=()
for target in AVX3 AVX2 SSE4 SCALAR; do
  run x86-64 "$target" "$x86/bench/core_bench" && x86_targets+=("$target")
done

python3 - "$work" "$rounds" "${arm_targets[*]}" "${x86_targets[*]}" <<'PY'
import glob, json, sys
work, rounds, arm, x86 = sys.argv[1], int(sys.argv[2]), sys.argv[3].split(), sys.argv[4].split()
def best(label, target):
    times = {}
    for path in glob.glob(f"{work}/{label}.{target}.*.json"):
        for r in json.load(open(path))["benchmarks"]:
            value = r.get("ns_per_sample")
            if value is not None:
                times[r["name"]] = min(times.get(r["name"], value), value)
    return times
rows = ["Processor/Chorus", "Processor/Flanger", "Processor/Vibrato", "Processor/Delay",
        "Processor/PingPongDelay", "Oscillators/Pair", "Sines", "Reads"]
for label, targets in (("arm64 under qemu-aarch64", arm), ("x86-64, native", x86)):
    if not targets:
        continue
    runs = {t: best(label.split()[0].rstrip(","), t) for t in targets}
    # The portable kernels are the baseline: SCALAR, or EMU128 where the
    # build has no SCALAR (arm64, whose baseline set is NEON).
    baseline = "SCALAR" if "SCALAR" in runs else "EMU128"
    base = runs.get(baseline, {})
    others = [t for t in targets if t != baseline]
    print(f"\n{label}: ns per sample (fastest of {rounds}), and {baseline} / each set\n")
    print("| Part | " + " | ".join(targets) + " | " +
          " | ".join(f"{baseline} / {t}" for t in others) + " |")
    print("|---|" + "---:|" * (len(targets) + len(others)))
    for row in rows:
        name = f"Parts/{row}"
        cells = [f"{runs[t].get(name, float('nan')):.2f}" for t in targets]
        ratios = [f"{base.get(name, float('nan')) / runs[t][name]:.2f}" for t in others
                  if name in runs[t]]
        print(f"| {row} | " + " | ".join(cells) + " | " + " | ".join(ratios) + " |")
PY
