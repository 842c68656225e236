#!/usr/bin/env bash
# The main job: builds the project and runs the quorvel-fx demo, which writes
# the dry test signal, one WAV per effect and pictures into quorvel-fx-demo/
# (or the directory given as the first argument).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build/main -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BUILD_TESTS=OFF \
  -DQUORVEL_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build/main -j "$(nproc 2>/dev/null || echo 2)"
./build/main/tools/quorvel-fx demo "$@"
