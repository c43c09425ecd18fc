#!/usr/bin/env bash
# Builds the extension and the C++ unit tests a second time with address and undefined-behaviour
# sanitizers (build/asan) and runs the whole Python suite and the C++ tests against that build.
# Any sanitizer report aborts the process and fails the run. Sets up its own virtual environment when
# run alone.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
summary_begin
announce_system_packages

VENV="$PWD/.venv-test"
PY=$(make_venv "$VENV")

build_sanitized() {
    quietly build/asan-deps.log "$PY" -m pip install -q pytest hypothesis numpy pandas sympy scikit-learn tqdm \
        matplotlib "dask[array]" distributed
    local tests=ON
    if skip_cpp_tests; then tests=OFF; else ensure_gtest; fi
    ensure_cmake "$VENV"
    quietly build/asan-build.log cmake -S . -B build/asan -DKIV_SANITIZE=ON -DKIV_BUILD_TESTS=$tests \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPython_EXECUTABLE="$PY"
    quietly build/asan-build.log cmake --build build/asan -j2
    stage_result "build/asan"
}

# The environment of a Python run against the sanitized build (each test stage runs in a subshell).
sanitized_python() {
    # The interpreter is not instrumented, so the sanitizer runtime must be loaded first; libstdc++ is
    # preloaded with it so that its interceptors find the real C++ exception machinery.
    export LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)"
    export PYTHONMALLOC=malloc
    # The interpreter's own exit-time allocations are not ours: leak detection stays off for Python (the
    # suite's leak check measures the sanitizer allocator's count over repeated calls instead).
    export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:strict_init_order=1
    export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
    export PYTHONPATH="$PWD/build/asan"
}

python_tests_sanitized() {
    sanitized_python
    "$PY" -c 'import kiv_core, sys; assert kiv_core.__file__.startswith(sys.argv[1]), kiv_core.__file__' \
        "$PWD/build/asan"
    pytest_stage "$PY" tests/python
}

kiv_tests_sanitized() {
    sanitized_python
    "$PY" -c 'import kiv, sys; assert kiv.__file__.startswith(sys.argv[1]), kiv.__file__' "$PWD/build/asan"
    pytest_stage "$PY" tests/kiv
}

cpp_tests_sanitized() {
    if skip_cpp_tests; then
        stage_result "skipped (KIV_SKIP_CPP_TESTS=1)"
        return
    fi
    # The C++ tests run without the interpreter, so leaks are checked there.
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 ctest_stage build/asan
}

run_stage "sanitizers: build" build_sanitized
(run_stage "sanitizers: Python tests" python_tests_sanitized)
(run_stage "sanitizers: kiv package tests" kiv_tests_sanitized)
run_stage "sanitizers: C++ unit tests" cpp_tests_sanitized
