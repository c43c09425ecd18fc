#!/usr/bin/env bash
# Sets up its own Python 3.13 virtual environment, builds and installs the module, and runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

PY=$(make_venv "$PWD/.venv")
"$PY" -m pip install -q .
"$PY" examples/demo.py
