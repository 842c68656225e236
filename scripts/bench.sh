#!/usr/bin/env bash
# Builds the benchmarks in Release, runs them and writes their table, with
# the machine it ran on, into docs/benchmarks.md (the section between the
# "node benchmarks" markers; the rest of the file is kept).
#
#   scripts/bench.sh                       build in build/bench, full run
#   BUILD_DIR=... scripts/bench.sh         another build directory
#   BENCH_FILTER=Chorus scripts/bench.sh   only the benchmarks matching a regex
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
dir=${BUILD_DIR:-build/bench}
filter=${BENCH_FILTER:-.}
out=$root/docs/benchmarks.md
json=$(mktemp)
trap 'rm -f "$json" "$json".*' EXIT

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BUILD_BENCHMARKS=ON >/dev/null
cmake --build "$dir" -j 2 --target quorvel_bench core_bench
run() {  # <program> <json out> <filter> <repetitions> [env...]
  local program=$1 out=$2 pattern=$3 repetitions=$4
  shift 4
  env "$@" "$dir/bench/$program" --benchmark_filter="$pattern" --benchmark_repetitions="$repetitions" \
    --benchmark_report_aggregates_only=true --benchmark_min_time=0.2 \
    --benchmark_out="$out" --benchmark_out_format=json >/dev/null
}
run quorvel_bench "$json" "$filter" 5
run core_bench "$json.parts" 'Parts/' 5
# The same nodes on every instruction set the kernels were built for.
targets=()
for target in AVX3_ZEN4 AVX3_DL AVX3 AVX2 SSE4 SSSE3 SCALAR EMU128 SVE2 SVE NEON; do
  if run quorvel_bench "$json.$target" '^(Delay|PingPongDelay|Chorus|Flanger|Vibrato)/256$' 3 \
    QUORVEL_VECTOR_TARGET=$target 2>/dev/null; then
    targets+=("$target")
    run core_bench "$json.parts.$target" 'Parts/(Processor|Oscillators|Sines|Reads)' 3 \
      QUORVEL_VECTOR_TARGET=$target
  fi
done

cpu=$(lscpu | sed -n 's/^Model name: *//p' | head -n 1)
compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$dir/CMakeCache.txt")
compiler_version=$("$compiler" --version | head -n 1)

python3 - "$json" "$out" "$cpu" "$compiler_version" "${targets[@]}" <<'PY'
import json, re, sys, datetime
data_path, out_path, cpu, compiler = sys.argv[1:5]
targets = sys.argv[5:]
def medians(path):
    data = json.load(open(path))
    return data, {r["run_name"]: r for r in data["benchmarks"] if r.get("aggregate_name") == "median"}
data, runs = medians(data_path)
_, parts = medians(data_path + ".parts")
per_target = {t: medians(f"{data_path}.{t}")[1] for t in targets}
parts_per_target = {t: medians(f"{data_path}.parts.{t}")[1] for t in targets}
nodes = ["Delay", "PingPongDelay", "Chorus", "Flanger", "Vibrato"]
# ns per sample asked of each node on this machine, and of node / literal.
goals = {"Delay": 0.6, "PingPongDelay": 0.6, "Chorus": 3.0, "Flanger": 5.0, "Vibrato": 3.0}
ratio_goal = 0.25
def ns(table, name):
    r = table.get(name)
    return r["ns_per_sample"] if r else float("nan")

lines = ["<!-- node benchmarks: begin (written by scripts/bench.sh) -->",
         "## Node benchmarks", "",
         f"Machine: {cpu}, {data['context']['num_cpus']} logical CPUs; "
         f"compiler: {compiler}; Release build (-O3, -ffp-contract=off); vector kernels on "
         f"{data['context'].get('vector_target', '?')}. "
         f"Run {datetime.datetime.utcnow():%Y-%m-%d %H:%M} UTC, median of 5 repetitions (CPU time), "
         "by `scripts/bench.sh`.", "",
         "Stereo 48 kHz white noise, steady state; ns per sample counts each channel's sample. "
         "Literal: the plain per-sample model of the same arithmetic (tests/perf/ReferenceModels.hpp, "
         "the one the reference-equivalence test holds every node to), in the same run.", "",
         "| Node | Block | ns / sample | Literal ns / sample | Node / literal | × real time |",
         "|---|---:|---:|---:|---:|---:|"]
for name, r in runs.items():
    m = re.fullmatch(r"(\w+)/(\d+)", name)
    if not m:
        continue
    literal = ns(runs, f"Literal/{m[1]}/{m[2]}")
    node = r["ns_per_sample"]
    shown = f"{literal:.2f} | {node / literal:.2f}" if literal == literal else "– | –"
    lines.append(f"| {m[1]} | {m[2]} | {node:.2f} | {shown} | {r['x_realtime']:.0f} |")

lines += ["", "### Goals at 256 frames", "",
          f"| Node | ns / sample | Goal | Node / literal | Goal | Met |", "|---|---:|---:|---:|---:|---|"]
for node in nodes:
    value, literal = ns(runs, f"{node}/256"), ns(runs, f"Literal/{node}/256")
    met = value <= goals[node] and value / literal <= ratio_goal
    lines.append(f"| {node} | {value:.2f} | ≤ {goals[node]} | {value / literal:.2f} | ≤ {ratio_goal} | "
                 f"{'yes' if met else 'no'} |")

if per_target:
    lines += ["", "### On every instruction set", "",
              "The same nodes at 256 frames with the kernels forced onto each instruction set this "
              "build holds and this CPU runs (`QUORVEL_VECTOR_TARGET`), ns per sample, median of 3; "
              "every one gives the same bits.", "",
              "| Node | " + " | ".join(targets) + " |", "|---|" + "---:|" * len(targets)]
    for node in nodes:
        lines.append(f"| {node} | " + " | ".join(f"{ns(per_target[t], f'{node}/256'):.2f}"
                                                  for t in targets) + " |")

if parts:
    host = ns(runs, "HostFloor/256")
    p = lambda name: ns(parts, f"Parts/{name}")
    lines += ["", "### Where the time goes", "",
              "The parts measured alone on the work of one 256-frame stereo block (`core_bench`, "
              "bench/PartsBenchmarks.cpp), ns per sample. Host share: the node less its processor "
              "run without the host; host floor: copying a bus and touching each sample through "
              "the host's accessors. Oscillators: the phase recurrence, the angles and the block "
              "sine; of which the sine alone. Reads: one interpolated read per sample. The rest "
              "of the processor is the writes, the read positions and the mix. Echo streams: the "
              "four memory streams of an echo loop (input, line read, line write, output) with no "
              "arithmetic, the ceiling of the delays.", "",
              "| Node | Node | Processor | Host share (floor) | Oscillators (of which sine) | Reads | "
              "Writes, positions, mix | Ceiling |",
              "|---|---:|---:|---:|---:|---:|---:|---|"]
    for node in nodes:
        total, proc = ns(runs, f"{node}/256"), p(f"Processor/{node}")
        share = f"{total - proc:.2f} ({host:.2f})"
        if node in ("Delay", "PingPongDelay"):
            lines.append(f"| {node} | {total:.2f} | {proc:.2f} | {share} | – | – | {proc:.2f} | "
                         f"echo streams {p('EchoStreams'):.2f} |")
            continue
        shared = node == "Vibrato"
        osc = p("Oscillators/Shared" if shared else "Oscillators/Pair")
        sine = p("Sines") / (2 if shared else 1)
        reads = p("Reads")
        rest = proc - osc - reads
        lines.append(f"| {node} | {total:.2f} | {proc:.2f} | {share} | {osc:.2f} ({sine:.2f}) | "
                     f"{reads:.2f} | {rest:.2f} | oscillators + reads {osc + reads:.2f} |")

if parts_per_target:
    # The swept effects' goals per instruction set, ns per sample.
    target_goals = {"AVX3": {"Chorus": 2.0, "Flanger": 2.0, "Vibrato": 2.0},
                    "AVX2": {"Chorus": 2.5, "Flanger": 2.5, "Vibrato": 2.0,
                             "Delay": 0.3, "PingPongDelay": 0.3}}
    lines += ["", "### Where the time goes, per instruction set", "",
              "The processors and their parts (`core_bench`, as above) with the kernels forced "
              "onto each instruction set, median of 3, ns per sample. Phase steps: the "
              "oscillators less their sines (the recurrence, the angles and the scaling); sine: "
              "the block sine of the same angles; reads: one interpolated read per sample; rest: "
              "the processor less those (the swept delays, positions, line writes and the mix).", "",
              "| Set | Node | Processor | Phase steps | Sine | Reads | Rest | Goal | Met |",
              "|---|---|---:|---:|---:|---:|---:|---:|---|"]
    for t in targets:
        q = lambda name: ns(parts_per_target[t], f"Parts/{name}")
        for node in nodes:
            proc = q(f"Processor/{node}")
            goal = target_goals.get(t, {}).get(node)
            shown = f"≤ {goal} | {'yes' if proc <= goal else 'no'}" if goal else "– | –"
            if node in ("Delay", "PingPongDelay"):
                lines.append(f"| {t} | {node} | {proc:.2f} | – | – | – | {proc:.2f} | {shown} |")
                continue
            shared = node == "Vibrato"
            sine = q("Sines") / (2 if shared else 1)
            osc = q("Oscillators/Shared" if shared else "Oscillators/Pair")
            reads = q("Reads")
            lines.append(f"| {t} | {node} | {proc:.2f} | {osc - sine:.2f} | {sine:.2f} | "
                         f"{reads:.2f} | {proc - osc - reads:.2f} | {shown} |")

decay = [n for n in runs if n.startswith("Denormal/") and n.endswith("/Loud")]
if decay:
    lines += ["", "### Silence after a loud signal", "",
              "10 s of silence after 10 s of loud noise, against 10 more seconds of the noise "
              "(block 256). Target: silence costs at most 1.25× the signal.", "",
              "| Node | Signal (ms) | Silence (ms) | Ratio |", "|---|---:|---:|---:|"]
    for loud in decay:
        node = loud.split("/")[1]
        quiet = runs.get(f"Denormal/{node}/Silence")
        if not quiet:
            continue
        a, b = runs[loud]["cpu_time"], quiet["cpu_time"]
        lines.append(f"| {node} | {a:.2f} | {b:.2f} | {b / a:.2f} |")
lines.append("<!-- node benchmarks: end -->")
section = "\n".join(lines) + "\n"

try:
    text = open(out_path).read()
except FileNotFoundError:
    text = "# Benchmarks\n\n"
pattern = re.compile(r"<!-- node benchmarks: begin.*?<!-- node benchmarks: end -->\n", re.S)
text = pattern.sub(lambda _: section, text) if pattern.search(text) else text + section
open(out_path, "w").write(text)
print(section)
PY
