#!/usr/bin/env bash
# Checks the types the wheel ships: builds the wheel (or takes the one given as $1), installs it with mypy
# alone into a fresh virtual environment (build/typecheck-venv), type-checks the samples of tests/typing
# (correct use of every entry must pass, each marked misuse must be reported) and compares the stubs
# with the module itself (stubtest).
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
    quietly build/typecheck-install.log "$py" -m pip install -q "$wheel" mypy
    log=$(mktemp)
    "$py" tests/typing/check.py | tee "$log"
    local samples
    samples=$(tail -n 1 "$log")
    # From a folder with no sources in it, so that only the installed module and stubs are seen.
    (cd "$(mktemp -d)" && "$py" -m mypy.stubtest kiv_core) | tee "$log"
    stage_result "${samples#mypy: }; stubtest: $(tail -n 1 "$log" | sed 's/^Success: //')"
    rm -f "$log"
}

run_stage "types: mypy and stubtest against the wheel" typecheck "${1:-}"
