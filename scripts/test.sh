#!/usr/bin/env bash
# Sets up its own Python 3.13 virtual environment, builds and installs the module, and runs every test:
# the Python suite against the installed module, then the C++ unit tests.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

VENV="$PWD/.venv-test"
PY=$(make_venv "$VENV")
stage() { echo; echo "== $1 ($(date +%T))"; }

stage "install the module and the test dependencies"
"$PY" -m pip install -q ".[test]"

stage "Python tests"
# Run from the tests folder so that the installed module is the one imported.
(cd tests/python && "$PY" -m pytest -q -p no:cacheprovider .)

stage "kiv package tests"
(cd tests/kiv && "$PY" -m pytest -q -p no:cacheprovider .)

stage "C++ unit tests"
ensure_gtest
ensure_cmake "$VENV"
cmake -S . -B build/cpp-tests -DKIV_BUILD_TESTS=ON -DPython_EXECUTABLE="$PY" >/dev/null  # the module: embedding test
cmake --build build/cpp-tests -j2
ctest --test-dir build/cpp-tests --output-on-failure

stage "sanitizer build: Python and C++ tests under address and undefined-behaviour sanitizers"
bash scripts/sanitize.sh
stage "done"
