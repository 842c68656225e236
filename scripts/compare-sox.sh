#!/usr/bin/env bash
# Times `quorvel-fx apply` against SoX on the same generated 5-minute stereo
# 32-bit float WAV, alternating the two, and prints the median ratios
# (SoX time / quorvel-fx time: above 1 means quorvel-fx is faster). The table
# goes into docs/benchmarks.md, between the "sox comparison" markers.
#
#   scripts/compare-sox.sh               build in build/bench, 5 runs each
#   BUILD_DIR=... RUNS=9 OUT=table.md scripts/compare-sox.sh
#
# The first row is the file path alone: the effect bypassed against a plain
# `sox in.wav out.wav` copy, both reading and writing the same float WAV.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
dir=${BUILD_DIR:-build/bench}
runs=${RUNS:-5}
out=${OUT:-$root/docs/benchmarks.md}

install_package() {
  if [ "$(id -u)" = 0 ]; then apt-get install -y "$1"; else sudo apt-get install -y "$1"; fi
}
command -v sox >/dev/null || install_package sox
[ -x /usr/bin/time ] || install_package time

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BUILD_TOOLS=ON >/dev/null
cmake --build "$dir" -j 2 --target quorvel-fx
fx=$dir/tools/quorvel-fx

# In memory when possible, so that disk write-back does not swamp the timing.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then work=$(mktemp -d /dev/shm/compare-sox.XXXXXX); else work=$(mktemp -d); fi
trap 'rm -rf "$work"' EXIT
input=$work/input.wav
# Pink noise on the left, a slow sine sweep on the right, at -6 dB.
sox -V1 -n -r 48000 -c 2 -b 32 -e floating-point "$input" \
  synth 300 pinknoise sine 100-2000 gain -6

# Effect | quorvel-fx arguments | SoX effect arguments (none: a plain copy)
pairs=(
  "Bypassed|Delay enabled=false|"
  "Chorus|Chorus|chorus 0.7 0.9 55 0.4 0.25 2 -s"
  "Flanger|Flanger|flanger"
  "Delay|Delay|echo 0.7 0.3 200 0.2"
  "PingPongDelay|PingPongDelay|echo 0.7 0.3 200 0.2"
  "Vibrato|Vibrato|chorus 0.7 0.9 55 0.4 0.25 2 -s"
)

seconds() {  # runs "$@", prints its wall-clock (to the ms) and CPU (user + system) seconds
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f '%U %S' -o "$work/time" "$@" >/dev/null
  end=$(date +%s%N)
  awk -v wall=$(((end - start) / 1000000)) '{printf "%.3f:%.2f", wall / 1000, $1 + $2}' "$work/time"
}

median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

declare -A fx_times sox_times
for ((run = 1; run <= runs; run++)); do
  for pair in "${pairs[@]}"; do
    IFS='|' read -r name effect sox_args <<<"$pair"
    # shellcheck disable=SC2086  # the SoX arguments are meant to split
    fx_times[$name]+="$(seconds "$fx" apply -q --tail 0 "$input" "$work/fx.wav" $effect) "
    # shellcheck disable=SC2086
    sox_times[$name]+="$(seconds sox -V1 "$input" "$work/sox.wav" $sox_args) "
  done
  echo "run $run of $runs done" >&2
done

cpu=$(lscpu | sed -n 's/^Model name: *//p' | head -n 1)
# The bypassed run is to take at most 0.8 of the copy's time.
declare -A targets=([Bypassed]=1.25 [Chorus]=1.43 [Flanger]=1.67 [Delay]=2.0 [PingPongDelay]=2.0 [Vibrato]=1.43)
table="<!-- sox comparison: begin (written by scripts/compare-sox.sh) -->
## Side by side with SoX

$(sox --version | sed 's/^.*: *//') against quorvel-fx apply -q --tail 0 (block 256), on a
5-minute stereo 48 kHz 32-bit float WAV (pink noise and a sine sweep), whole process
including file reading and writing; median of $runs alternating runs each, on $cpu.
Ratio = SoX time / quorvel-fx time (above 1: quorvel-fx is faster).

Times in seconds, wall clock (CPU, user + system, in brackets); the ratio is on wall clock.

| Effect | SoX command | quorvel-fx (s) | SoX (s) | Ratio | CPU ratio | Target | Met |
|---|---|---:|---:|---:|---:|---:|---|"
for pair in "${pairs[@]}"; do
  IFS='|' read -r name effect sox_args <<<"$pair"
  # shellcheck disable=SC2086
  f=$(median $(printf '%s\n' ${fx_times[$name]} | cut -d: -f1))
  # shellcheck disable=SC2086
  fc=$(median $(printf '%s\n' ${fx_times[$name]} | cut -d: -f2))
  # shellcheck disable=SC2086
  s=$(median $(printf '%s\n' ${sox_times[$name]} | cut -d: -f1))
  # shellcheck disable=SC2086
  sc=$(median $(printf '%s\n' ${sox_times[$name]} | cut -d: -f2))
  ratio=$(printf "%.2f" "$(echo "scale=4; $s / $f" | bc)")
  cpu_ratio=$(printf "%.2f" "$(echo "scale=4; $sc / $fc" | bc)")
  target=${targets[$name]}
  met=$(echo "$ratio >= $target" | bc | sed 's/1/yes/; s/0/no/')
  table+="
| $name | \`sox ${sox_args:-IN OUT}\` | $f ($fc) | $s ($sc) | $ratio | $cpu_ratio | ≥ $target | $met |"
done
table+="
<!-- sox comparison: end -->"
echo "$table"

python3 - "$out" "$table" <<'PY'
import re, sys
path, section = sys.argv[1], sys.argv[2] + "\n"
try:
    text = open(path).read()
except FileNotFoundError:
    text = "# Benchmarks\n\n"
pattern = re.compile(r"<!-- sox comparison: begin.*?<!-- sox comparison: end -->\n", re.S)
if pattern.search(text):
    text = pattern.sub(lambda _: section, text)
else:
    text = text.rstrip("\n") + "\n\n" + section
open(path, "w").write(text)
PY
