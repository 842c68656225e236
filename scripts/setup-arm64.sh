#!/usr/bin/env bash
# Installs what cross-building the project for arm64 and running its tests
# under qemu-user needs on Debian 12: the aarch64 cross compiler, the
# emulator and the arm64 builds of the libraries the project links (Debian
# multiarch). Header-only packages that are Architecture: all (CLI11,
# nlohmann-json) and ladspa-sdk (not multiarch; ladspa.h is the same for every
# architecture) come from scripts/setup.sh.
# Safe to run repeatedly: only packages that are missing are installed.
set -euo pipefail
cd "$(dirname "$0")/.."

# A new architecture's package lists come with the update setup.sh makes
# before installing what is missing.
if ! dpkg --print-foreign-architectures | grep -qx arm64; then
  echo "setup-arm64: adding the arm64 architecture"
  if [ "$(id -u)" -eq 0 ]; then dpkg --add-architecture arm64; else sudo dpkg --add-architecture arm64; fi
fi
./scripts/setup.sh \
  crossbuild-essential-arm64 binutils-aarch64-linux-gnu qemu-user \
  libc6:arm64 libstdc++6:arm64 \
  libgtest-dev:arm64 libgmock-dev:arm64 libhwy-dev:arm64 libsndfile1-dev:arm64 lv2-dev:arm64 \
  libfftw3-dev:arm64 libfmt-dev:arm64
