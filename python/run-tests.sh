#!/usr/bin/env bash
# Builds quorvel_audioeffects in place (objects in build/python-temp, so
# only changed sources are compiled again) and runs its tests with Debian's
# Python, comparing against the quorvel-fx given (or found in build/).
#
#   python/run-tests.sh [path/to/quorvel-fx [PYTEST_ARGUMENTS...]]
set -euo pipefail
if [ -n "${1:-}" ]; then
  [ -x "$1" ] || { echo "run-tests.sh: no quorvel-fx at $1 (build the tool first)" >&2; exit 1; }
  QUORVEL_FX=$(realpath "$1")
  export QUORVEL_FX
fi
cd "$(dirname "$0")"
PYTHON=/usr/bin/python3
echo "== python (quorvel_audioeffects)"
"$PYTHON" setup.py -q build_ext --inplace --build-temp ../build/python-temp 2>&1 |
  grep -v -e "_BetaConfiguration" -e "warnings.warn" -e "pyproject.toml" || true
# Worker processes of the Dask test import the package from here too.
PYTHONPATH="$PWD${PYTHONPATH:+:$PYTHONPATH}" "$PYTHON" -m pytest -q -p no:cacheprovider tests "${@:2}"
