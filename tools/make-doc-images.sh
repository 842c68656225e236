#!/usr/bin/env bash
# Regenerates the demo pictures shown in README.md: runs `quorvel-fx demo`
# into a scratch folder and copies its PNG files to docs/images/.
# Usage: tools/make-doc-images.sh [BUILD_DIR]   (default: build)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
binary="$build/tools/quorvel-fx"
[ -x "$binary" ] || { echo "make-doc-images: $binary not built" >&2; exit 1; }

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
"$binary" demo "$scratch/demo"
mkdir -p "$root/docs/images"
cp "$scratch"/demo/*.png "$root/docs/images/"
echo "make-doc-images: $(ls "$scratch"/demo/*.png | wc -l) pictures copied to docs/images/"
