#!/usr/bin/env bash
# Sets up its own Python 3.13 virtual environment, builds and installs the module, and runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

PY=$(make_venv "$PWD/.venv")
# The distribution was called kiv_core before 0.1.0 and installed the same files.
"$PY" -m pip uninstall -q -y kiv_core 2>/dev/null
"$PY" -m pip install -q .
"$PY" examples/demo.py
