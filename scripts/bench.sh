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
trap 'rm -f "$json"' EXIT

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BUILD_BENCHMARKS=ON >/dev/null
cmake --build "$dir" -j 2 --target quorvel_bench
"$dir/bench/quorvel_bench" --benchmark_filter="$filter" --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true --benchmark_min_time=0.2 \
  --benchmark_out="$json" --benchmark_out_format=json

cpu=$(lscpu | sed -n 's/^Model name: *//p' | head -n 1)
compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$dir/CMakeCache.txt")
compiler_version=$("$compiler" --version | head -n 1)

python3 - "$json" "$out" "$cpu" "$compiler_version" <<'PY'
import json, re, sys, datetime
data_path, out_path, cpu, compiler = sys.argv[1:5]
data = json.load(open(data_path))
runs = {r["run_name"]: r for r in data["benchmarks"] if r.get("aggregate_name") == "median"}

lines = ["<!-- node benchmarks: begin (written by scripts/bench.sh) -->",
         "## Node benchmarks", "",
         f"Machine: {cpu}, {data['context']['num_cpus']} logical CPUs; "
         f"compiler: {compiler}; Release build (-O3, -ffp-contract=off). "
         f"Run {datetime.datetime.utcnow():%Y-%m-%d %H:%M} UTC, median of 5 repetitions (CPU time).", "",
         "Stereo 48 kHz white noise, steady state; ns per sample counts each channel's sample.", "",
         "| Node | Block | ns / sample | × real time |", "|---|---:|---:|---:|"]
for name, r in runs.items():
    m = re.fullmatch(r"(\w+)/(\d+)", name)
    if not m:
        continue
    lines.append(f"| {m[1]} | {m[2]} | {r['ns_per_sample']:.2f} | {r['x_realtime']:.0f} |")
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
