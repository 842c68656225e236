#!/usr/bin/env bash
# Installs what building, testing and running the project needs on Debian 12,
# and any further packages named as arguments.
# Safe to run repeatedly: only packages that are missing are installed.
#
#   scripts/setup.sh [PACKAGE ...]
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  openjdk-17-jdk-headless
  libsndfile1-dev libcli11-dev nlohmann-json3-dev libhwy-dev libfmt-dev libfftw3-dev
  sox gnuplot-nox
  python3-dev python3-venv python3-setuptools python3-pybind11 python3-numpy python3-soundfile python3-distributed python3-pytest
  lv2-dev ladspa-sdk lilv-utils sordi ecasound lv2file
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
