#!/usr/bin/env bash
# Builds the DSP core and the rules layer for WebAssembly with Debian's
# emscripten and runs their tests under Node.js: the golden hashes, the
# processors against their literal models, the rules and the conformance
# corpus, all with the same expectations as the native builds; then, with
# the native tool built (scripts/test.sh builds it first), chains rendered
# through the JavaScript module and through an AudioWorklet in headless
# Chromium against the tool's own output, bit for bit.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS
trap 'echo "test-wasm: $((SECONDS - start)) s wall time"' EXIT
./scripts/setup.sh emscripten chromium
command -v node >/dev/null || ./scripts/setup.sh nodejs
# playwright-core drives Debian's Chromium (no browser download), at the
# version web/package-lock.json pins.
(cd web && npm ci --no-audit --no-fund --loglevel=error)
# Debian's emscripten finds its JavaScript tools (acorn and the like) there.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}

dir=${WASM_BUILD_DIR:-build/test-wasm}
echo "== $dir"
emcmake cmake -S web -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVEL_WERROR=ON >/dev/null
cmake --build "$dir" -j 2
ctest --test-dir "$dir" --output-on-failure
