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
./scripts/setup.sh

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

updated=0
if ! dpkg --print-foreign-architectures | grep -qx arm64; then
  echo "setup-arm64: adding the arm64 architecture"
  $SUDO dpkg --add-architecture arm64
  $SUDO apt-get update -q
  updated=1
fi

packages=(
  crossbuild-essential-arm64 binutils-aarch64-linux-gnu qemu-user
  libc6:arm64 libstdc++6:arm64
  libgtest-dev:arm64 libgmock-dev:arm64 libhwy-dev:arm64 libsndfile1-dev:arm64 lv2-dev:arm64
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup-arm64: installing ${missing[*]}"
  [ "$updated" = 1 ] || $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
