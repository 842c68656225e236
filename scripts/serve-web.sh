#!/usr/bin/env bash
# Serves the WebAssembly demo page (web/demo) on 127.0.0.1 and prints its
# URL. BUILD_DIR is where scripts/test-wasm.sh built the module
# (default build/test-wasm); PORT defaults to 8000, 0 picks a free one.
#   scripts/serve-web.sh [BUILD_DIR] [PORT]
set -euo pipefail
cd "$(dirname "$0")/.."
exec node web/demo/serve.mjs "${1:-build/test-wasm}" "${2:-8000}"
