#!/usr/bin/env bash
# Compares the node benchmarks of an earlier revision with the working tree,
# side by side in one run: both Release builds run alternately ROUNDS times
# (default 8) and each benchmark's fastest run counts, which is the figure
# least disturbed by the other load of a shared machine. Prints a Markdown
# table with the ratio after / before.
#
#   scripts/bench-compare.sh REV                  e.g. scripts/bench-compare.sh HEAD~3
#   FILTER='^Delay/' scripts/bench-compare.sh REV  only some benchmarks
set -euo pipefail
cd "$(dirname "$0")/.."
rev=${1:?usage: scripts/bench-compare.sh REV}
rounds=${ROUNDS:-8}
filter=${FILTER:-'^(Delay|PingPongDelay|Chorus|Flanger|Vibrato)/(256|2048)$'}
root=$(pwd)
tree=$root/build/bench-base-src
base=$root/build/bench-base
after=$root/build/bench

rm -rf "$tree"
git worktree prune
git worktree add --detach -f "$tree" "$rev" >/dev/null
trap 'git worktree remove --force "$tree" >/dev/null 2>&1 || true' EXIT
for pair in "$tree:$base" "$root:$after"; do
  cmake -S "${pair%%:*}" -B "${pair##*:}" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DQUORVEL_BUILD_TESTS=OFF -DQUORVEL_BUILD_TOOLS=OFF >/dev/null
  cmake --build "${pair##*:}" -j 2 --target quorvel_bench >/dev/null
done

results=$(mktemp)
for _ in $(seq 1 "$rounds"); do
  for side in before after; do
    dir=$base; [ "$side" = after ] && dir=$after
    "$dir/bench/quorvel_bench" --benchmark_filter="$filter" --benchmark_min_time=0.2 \
      --benchmark_format=csv 2>/dev/null | awk -F, -v side="$side" 'NR > 1 {
        gsub(/"/, "", $1); print $1, side, $4 }' >>"$results"
  done
done
echo "| Benchmark | Before (ns / block) | After (ns / block) | After / before |"
echo "|---|---:|---:|---:|"
sort -k1,1 -k2,2 -k3,3g "$results" | awk '
  { key = $1 " " $2; if (!(key in best)) { best[key] = $3; names[$1] = 1 } }
  END { for (n in names) printf "| %s | %.0f | %.0f | %.2f |\n", n, best[n " before"],
        best[n " after"], best[n " after"] / best[n " before"] }' | sort
rm -f "$results"
