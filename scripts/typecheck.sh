#!/usr/bin/env bash
# Checks the types the wheel ships, for kiv_core (its stubs) and kiv (marked typed, with a stub for its native
# module): builds the wheel (or takes the one given as $1), installs it with mypy alone (and scikit-learn,
# which the estimator needs) into a fresh virtual environment (build/typecheck-venv), type-checks the
# samples of tests/typing with mypy --strict (correct use must pass, each marked misuse must be reported)
# and compares the types with the running modules (stubtest).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
summary_begin

typecheck() {
    local wheel=${1:-} venv="$PWD/build/typecheck-venv" py log
    if [ -z "$wheel" ]; then
        rm -rf build/wheels
        quietly build/wheel.log "$(find_python)" -m pip wheel -q --no-deps -w build/wheels .
        wheel=$(ls build/wheels/kiv-*.whl)
    fi
    rm -rf "$venv"
    "$(find_python)" -m venv "$venv"
    py="$venv/bin/python"
    quietly build/typecheck-install.log "$py" -m pip install -q "$wheel[sklearn]" mypy
    log=$(mktemp)
    local samples typing=$PWD/tests/typing status=0
    "$py" tests/typing/check.py | tee "$log" || status=$?
    samples=$(tail -n 1 "$log")
    if [ "$status" != 0 ]; then
        stage_result "FAILED: ${samples#mypy: }"
        return "$status"
    fi
    # From a folder with no sources in it, so that only the installed modules and stubs are seen.
    (cd "$(mktemp -d)" && "$py" -m mypy.stubtest --mypy-config-file "$typing/stubtest.ini" \
        --allowlist "$typing/stubtest-allowlist.txt" --ignore-unused-allowlist kiv kiv_core) | tee "$log" || status=$?
    stage_result "$([ "$status" = 0 ] || echo "FAILED: ")${samples#mypy: }; stubtest: $(tail -n 1 "$log" | sed 's/^Success: //')"
    rm -f "$log"
    return "$status"
}

run_stage "types: mypy and stubtest against the wheel" typecheck "${1:-}"
