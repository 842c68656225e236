#!/usr/bin/env bash
# Our effects in the browser against Tone.js: builds the WebAssembly module
# (WASM_BUILD_DIR, default build/wasm-bench), installs web/'s pinned packages
# (playwright-core drives Debian's Chromium; tone is the peer), then renders
# 60 s of stereo 48 kHz audio through each effect in headless Chromium and
# prints a Markdown table (ROUNDS interleaved rounds, default 5).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh emscripten chromium
command -v node >/dev/null || ./scripts/setup.sh nodejs
(cd web && npm ci --no-audit --no-fund --loglevel=error)
# Debian's emscripten finds its JavaScript tools (acorn and the like) there.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
dir=${WASM_BUILD_DIR:-build/wasm-bench}
emcmake cmake -S web -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$dir" --target quorvel-effects -j 2
node web/bench/tone-compare.mjs "$dir" "${ROUNDS:-5}"
