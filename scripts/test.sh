#!/usr/bin/env bash
# Sets up its own Python 3.13 virtual environment, builds the module, and runs every test: the Python suite
# against the installed module, the documentation build (warnings are errors), the C++ unit tests, the type
# checks of the wheel, and both suites again under address and undefined-behaviour sanitizers. Ends with
# one summary block, a line per stage.
#
# A stage is a function run by run_stage; it reports its counts with stage_result (scripts/common.sh).
# The C++ stages install Debian's libgtest-dev when GoogleTest is missing (the command says so first);
# KIV_SKIP_CPP_TESTS=1 skips them instead.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
summary_begin
announce_system_packages

VENV="$PWD/.venv-test"
PY=$(make_venv "$VENV")

install_module() {
    rm -rf build/wheels
    quietly build/wheel.log "$PY" -m pip wheel -q --no-deps -w build/wheels .
    WHEEL=$(ls build/wheels/kiv-*.whl)
    # The distribution was called kiv_core before 0.1.0 and installed the same files: its record goes first,
    # so that uninstalling it later cannot remove kiv's files.
    quietly build/install.log "$PY" -m pip uninstall -q -y kiv_core
    quietly build/install.log "$PY" -m pip install -q "$WHEEL[test]"
    # The same version may be installed already: the new build replaces it.
    quietly build/install.log "$PY" -m pip install -q --force-reinstall --no-deps "$WHEEL"
    stage_result "$(basename "$WHEEL")"
}

python_tests() {
    pytest_stage "$PY" tests/python
}

kiv_tests() {
    pytest_stage "$PY" tests/kiv
}

docs_build() {
    quietly build/docs-install.log "$PY" -m pip install -q "$WHEEL[docs]"
    KIV_DOCS_PYTHON="$PY" quietly build/docs.log bash scripts/docs.sh -W --keep-going
    stage_result "no warnings; $(grep -c 'sphx-glr-thumbcontainer' build/docs/html/auto_examples/index.html) gallery examples run"
}

cpp_tests() {
    if skip_cpp_tests; then
        stage_result "skipped (KIV_SKIP_CPP_TESTS=1)"
        return
    fi
    ensure_gtest
    ensure_cmake "$VENV"
    quietly build/cpp-tests.log cmake -S . -B build/cpp-tests -DKIV_BUILD_TESTS=ON -DKIV_BUILD_NUMPY=OFF \
        -DPython_EXECUTABLE="$PY"  # the module too: the embedding test imports it
    quietly build/cpp-tests.log cmake --build build/cpp-tests -j2
    ctest_stage build/cpp-tests
}

run_stage "build the wheel, install it and the test dependencies" install_module
run_stage "Python tests" python_tests
run_stage "kiv package tests" kiv_tests
run_stage "documentation (warnings are errors)" docs_build
run_stage "C++ unit tests" cpp_tests
# These two run their own stages.
bash scripts/typecheck.sh "$WHEEL"
bash scripts/sanitize.sh
