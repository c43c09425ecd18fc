# Shared set-up steps of the demo and test commands (sourced, not run).

# Prints the path of a working Python 3.13 interpreter.
find_python() {
    if command -v python3.13 >/dev/null 2>&1 && python3.13 -c 'import sys' >/dev/null 2>&1; then
        command -v python3.13
        return
    fi
    local root
    root=$(pyenv root 2>/dev/null || echo "$HOME/.pyenv")
    for candidate in "$root"/versions/3.13*/bin/python3.13; do
        if [ -x "$candidate" ]; then
            echo "$candidate"
            return
        fi
    done
    echo "no Python 3.13 found (looked for python3.13 on PATH and under pyenv)" >&2
    return 1
}

# Creates the virtual environment $1 with Python 3.13 unless it exists, and prints its python.
make_venv() {
    local venv=$1 py
    if [ ! -x "$venv/bin/python" ]; then
        py=$(find_python)
        "$py" -m venv "$venv"
    fi
    echo "$venv/bin/python"
}

# Runs a command as root (directly when already root, else through sudo).
as_root() {
    if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs GoogleTest from Debian's packages when its headers are missing.
ensure_gtest() {
    if [ ! -f /usr/include/gtest/gtest.h ]; then
        as_root apt-get update -q
        DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -q libgtest-dev
    fi
}

# Makes sure cmake is on PATH, installing it into the virtual environment $1 when it is not.
ensure_cmake() {
    if ! command -v cmake >/dev/null 2>&1; then
        "$1/bin/python" -m pip install -q cmake
        export PATH="$1/bin:$PATH"
    fi
}

# ---- stages and the closing summary ---------------------------------------------------------------------
# A command made of stages calls summary_begin once, then run_stage TITLE COMMAND... per stage; each stage
# reports its counts with stage_result TEXT. When the outermost command ends (success or failure), the
# summary block lists every stage that reported, with its time. Scripts run by a stage (sanitize.sh,
# typecheck.sh) add their lines to the same block through KIV_SUMMARY.

summary_begin() {
    if [ -z "${KIV_SUMMARY:-}" ]; then
        KIV_SUMMARY=$(mktemp)
        export KIV_SUMMARY
        trap 'summary_end $?' EXIT
    fi
}

summary_end() {
    local status=$1
    echo
    echo "== summary"
    cat "$KIV_SUMMARY"
    if [ "$status" = 0 ]; then
        echo "all stages passed in $((SECONDS / 60))m$((SECONDS % 60))s"
    else
        echo "FAILED in stage: $(cat "$KIV_SUMMARY.stage" 2>/dev/null || echo set-up) (exit status $status)"
    fi
    rm -f "$KIV_SUMMARY" "$KIV_SUMMARY.stage"
}

run_stage() {
    STAGE_TITLE=$1
    STAGE_START=$SECONDS
    shift
    echo "$STAGE_TITLE" >"$KIV_SUMMARY.stage"
    echo
    echo "== $STAGE_TITLE ($(date +%T))"
    "$@"
}

stage_result() {
    printf '  %-54s %5ss  %s\n' "$STAGE_TITLE" "$((SECONDS - STAGE_START))" "$1" >>"$KIV_SUMMARY"
}

# Runs a command with its output in the log file $1, printing the log only when the command fails.
quietly() {
    local log=$1
    shift
    mkdir -p "$(dirname "$log")"
    if ! "$@" >"$log" 2>&1; then
        cat "$log"
        echo "failed: $*" >&2
        return 1
    fi
}

# Runs pytest in the test folder $2 with the interpreter $1 (and further pytest arguments); the output is
# shown as it comes, and the stage's result is pytest's closing count. Run from the test folder, the
# tests import the installed (or PYTHONPATH's) packages, not the sources.
pytest_stage() {
    local py=$1 dir=$2 log
    shift 2
    log=$(mktemp)
    (cd "$dir" && "$py" -m pytest -q -p no:cacheprovider "$@" .) | tee "$log"
    stage_result "$(tail -n 1 "$log" | sed -E 's/^=+ //; s/ in [0-9.]+s.*$//')"
    rm -f "$log"
}

# Runs the C++ tests of build folder $1 quietly (the per-test lines only on failure), keeping ctest's
# closing "tests passed" line in the output.
ctest_stage() {
    local dir=$1 log
    log=$(mktemp)
    quietly "$log" ctest --test-dir "$dir" --output-on-failure
    grep -E "tests passed|Total Test time" "$log"
    stage_result "$(sed -nE 's/^100% tests passed.* out of ([0-9]+)$/\1 passed/p' "$log")"
    rm -f "$log"
}
